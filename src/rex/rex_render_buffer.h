#pragma once

#include <cstdint>
#include <vector>

namespace tampod {

// The one reusable buffer a loop is rendered through: the library fills one float buffer per
// channel, batch by batch; the listening copy takes the same frames interleaved. Only batches
// whose every sample is finite go on to the copy.
class REXRenderBuffer {
public:
    static constexpr int batchFrames = 8192;

    // channels: 1 or 2.
    explicit REXRenderBuffer(int channels);

    int channels() const noexcept { return channels_; }
    // The two pointers the library writes into; the second is null for a mono loop.
    float **outputs() noexcept { return outputs_; }

    // The size of the next batch of a render of total frames of which rendered are done.
    static int nextBatch(std::int64_t total, std::int64_t rendered);

    // Throws REXError::verification when a sample of the first frames frames is NaN or infinite.
    void checkFinite(int frames) const;
    // The first frames frames, interleaved; valid until the next call.
    const float *interleave(int frames);

private:
    int channels_;
    std::vector<float> planar_;
    std::vector<float> interleaved_;
    float *outputs_[2] = {nullptr, nullptr};
};

} // namespace tampod
