#include "rex/rex_render_buffer.h"

#include "library/rex_error.h"

#include <algorithm>
#include <cmath>

namespace tampod {

REXRenderBuffer::REXRenderBuffer(int channels)
    : channels_(channels == 2 ? 2 : 1), planar_(std::size_t(batchFrames) * channels_),
      interleaved_(channels_ == 2 ? std::size_t(batchFrames) * 2 : 0)
{
    outputs_[0] = planar_.data();
    if (channels_ == 2)
        outputs_[1] = planar_.data() + batchFrames;
}

int REXRenderBuffer::nextBatch(std::int64_t total, std::int64_t rendered)
{
    return int(std::clamp<std::int64_t>(total - rendered, 0, batchFrames));
}

void REXRenderBuffer::checkFinite(int frames) const
{
    const int count = std::clamp(frames, 0, batchFrames);
    bool finite = true;
    // No early exit: the loop stays branch-free so the compiler can vectorise it.
    for (int channel = 0; channel < channels_; ++channel) {
        const float *samples = outputs_[channel];
        for (int i = 0; i < count; ++i)
            finite &= std::isfinite(samples[i]);
    }
    if (!finite)
        throw REXError::verification();
}

const float *REXRenderBuffer::interleave(int frames)
{
    const int count = std::clamp(frames, 0, batchFrames);
    if (channels_ == 1)
        return outputs_[0];
    const float *left = outputs_[0];
    const float *right = outputs_[1];
    float *out = interleaved_.data();
    for (int i = 0; i < count; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
    return out;
}

} // namespace tampod
