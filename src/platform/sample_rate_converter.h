#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

namespace tampod {

// Converts float planar audio between two whole sample rates, keeping its filter state
// across pushes. finish() flushes the filter and makes the total output exactly
// round(total input × outputRate / inputRate) frames, so a file converted in blocks has
// the length a one-piece conversion promises.
class SampleRateConverter {
public:
    // Throws AudioFileError (invalidArgument) for a channel count or rate it cannot take.
    SampleRateConverter(int channels, int inputRate, int outputRate);
    ~SampleRateConverter();
    SampleRateConverter(const SampleRateConverter &) = delete;
    SampleRateConverter &operator=(const SampleRateConverter &) = delete;

    int channels() const noexcept { return channels_; }
    int inputRate() const noexcept { return inputRate_; }
    int outputRate() const noexcept { return outputRate_; }

    // round(frames × outputRate / inputRate), halves away from zero.
    qint64 outputFramesFor(qint64 inputFrames) const;

    void push(const float *const *planar, qint64 frames);
    void finish();
    bool isFinished() const noexcept { return finished_; }

    qint64 available() const noexcept { return qint64(pending_.empty() ? 0 : pending_[0].size()) - readOffset_; }
    qint64 take(float *const *planar, qint64 maxFrames);

    // Forgets all input and output, as if newly made.
    void reset();

private:
    void appendConverted(const float *const *planar, int frames);
    void compact();

    struct Engine;
    int channels_;
    int inputRate_;
    int outputRate_;
    std::unique_ptr<Engine> engine_;
    std::vector<std::vector<float>> pending_;
    qint64 readOffset_ = 0;
    qint64 totalIn_ = 0;
    qint64 totalOut_ = 0; // frames appended to pending_, taken or not
    bool finished_ = false;
};

} // namespace tampod
