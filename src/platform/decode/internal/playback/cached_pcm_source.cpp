#include "platform/decode/internal/playback/cached_pcm_source.h"

#include <algorithm>

namespace tampod {

CachedPcmSource::CachedPcmSource(std::unique_ptr<PcmSource> inner)
    : inner_(std::move(inner)),
      channels_(inner_->channels()),
      rate_(inner_->sampleRate()),
      length_(inner_->length())
{
}

void CachedPcmSource::seek(std::int64_t frame)
{
    position_ = frame;
    innerAt_ = false;
}

std::int64_t CachedPcmSource::read(float *interleaved, std::int64_t frames)
{
    const auto cachedFrames = static_cast<std::int64_t>(cached_.size()) / channels_;
    if (position_ < cachedFrames) {
        const auto n = std::min(frames, cachedFrames - position_);
        std::copy_n(cached_.begin() + position_ * channels_, n * channels_, interleaved);
        position_ += n;
        innerAt_ = false;
        return n;
    }
    if (complete_)
        return 0;
    if (!innerAt_) {
        inner_->seek(position_);
        innerAt_ = true;
    }
    const auto n = inner_->read(interleaved, frames);
    // Only a read that continues the cached start extends it.
    if (position_ == cachedFrames) {
        cached_.insert(cached_.end(), interleaved, interleaved + n * channels_);
        complete_ = n == 0 || cachedFrames + n >= length_;
    }
    position_ += n;
    return n;
}

} // namespace tampod
