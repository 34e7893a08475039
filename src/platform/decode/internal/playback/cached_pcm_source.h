#pragma once

#include "platform/decode/internal/playback/pcm_source.h"

#include <memory>
#include <vector>

namespace tampod {

// Keeps a short file's frames once they were read from the start, so that a loop of a few
// milliseconds costs copies instead of a seek and a decode per pass.
class CachedPcmSource final : public PcmSource {
public:
    static constexpr std::int64_t maxSamples = std::int64_t(1) << 18;

    explicit CachedPcmSource(std::unique_ptr<PcmSource> inner);

    int channels() const override { return channels_; }
    double sampleRate() const override { return rate_; }
    std::int64_t length() const override { return length_; }
    void seek(std::int64_t frame) override;
    std::int64_t read(float *interleaved, std::int64_t frames) override;

private:
    std::unique_ptr<PcmSource> inner_;
    const int channels_;
    const double rate_;
    const std::int64_t length_;
    std::vector<float> cached_; // the first frames of the file, in order
    bool complete_ = false;
    std::int64_t position_ = 0;
    bool innerAt_ = true; // the inner source is positioned at position_
};

} // namespace tampod
