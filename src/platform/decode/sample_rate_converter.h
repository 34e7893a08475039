#pragma once

#include <cstdint>

#include <memory>
#include <vector>

namespace tampod {

// Converts float interleaved audio (the layout sources deliver and the output plays) between
// two whole sample rates, keeping its filter state
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
    int64_t outputFramesFor(int64_t inputFrames) const;

    void push(const float *interleaved, int64_t frames);
    void finish();
    bool isFinished() const noexcept { return finished_; }

    int64_t available() const noexcept { return int64_t(pending_.size()) / channels_ - readOffset_; }
    int64_t take(float *interleaved, int64_t maxFrames);

    // Forgets all input and output, as if newly made.
    void reset();

private:
    void appendConverted(const float *interleaved, int frames);
    void compact();

    struct Engine;
    int channels_;
    int inputRate_;
    int outputRate_;
    std::unique_ptr<Engine> engine_;
    std::vector<float> pending_; // converted frames, interleaved
    int64_t readOffset_ = 0;     // frames of pending_ already taken
    int64_t totalIn_ = 0;
    int64_t totalOut_ = 0; // frames appended to pending_, taken or not
    bool finished_ = false;
};

} // namespace tampod
