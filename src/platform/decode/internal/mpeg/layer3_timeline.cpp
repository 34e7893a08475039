#include "platform/decode/internal/mpeg/layer3_timeline.h"

#include "platform/decode/internal/mpeg/coded_frame_walk.h"

#include <algorithm>

namespace tampod {

Layer3Timeline::Layer3Timeline(int64_t samplesPerFrame, int64_t frames, int64_t frameBytes)
    : samplesPerFrame_(samplesPerFrame), frames_(std::max<int64_t>(frames, 1)),
      frameBytes_(std::max<int64_t>(frameBytes, 1)), spacing_(16 * samplesPerFrame)
{
}

Layer3Timeline::Packet Layer3Timeline::packet(std::span<const uint8_t> bytes) const
{
    const auto size = int64_t(bytes.size());
    // The demuxer ends a packet where a frame ends, and begins the next one there: bytes that
    // hold no frame go with the frame after them.
    int64_t before = size;
    for (int64_t at = 0; at + 4 <= size; ++at) {
        if (codedframes::layer3FrameBytes(bytes.subspan(size_t(at))) == size - at) {
            before = at;
            break;
        }
    }
    if (before == 0)
        return {0, true};
    // A packet that ends in no frame counts one frame of its own, as every packet does.
    const int64_t held = (2 * before * frames_ + frameBytes_) / (2 * frameBytes_);
    return {std::max<int64_t>(before == size ? held - 1 : held, 0) * samplesPerFrame_, false};
}

void Layer3Timeline::note(Restart restart)
{
    if (!restarts_.empty() && restart.position < restarts_.back().position + spacing_)
        return;
    restarts_.push_back(restart);
    if (restarts_.size() < maximumRestarts)
        return;
    std::vector<Restart> kept;
    for (size_t i = 0; i < restarts_.size(); i += 2)
        kept.push_back(restarts_[i]);
    restarts_ = std::move(kept);
    spacing_ *= 2;
}

std::optional<Layer3Timeline::Restart> Layer3Timeline::restartFor(int64_t position) const
{
    const auto after = std::upper_bound(restarts_.begin(), restarts_.end(), position,
                                        [](int64_t at, const Restart &r) { return at < r.position; });
    if (after == restarts_.begin())
        return std::nullopt;
    return *(after - 1);
}

std::optional<Layer3Timeline::Restart> Layer3Timeline::last() const
{
    if (restarts_.empty())
        return std::nullopt;
    return restarts_.back();
}

} // namespace tampod
