#include "platform/decode/internal/mpeg/layer3_timeline.h"

#include "platform/decode/internal/mpeg/coded_frame_walk.h"

#include <algorithm>
#include <cmath>

namespace tampod {

Layer3Timeline::Layer3Timeline(int64_t samplesPerFrame, int64_t frames, int64_t frameBytes)
    : samplesPerFrame_(samplesPerFrame), frameBytes_(std::max<int64_t>(frameBytes, 1)), spacing_(16 * samplesPerFrame)
{
    // A frame takes a byte at least.
    frames_ = std::clamp<int64_t>(frames, 1, frameBytes_);
}

Layer3Timeline::Packet Layer3Timeline::packet(std::span<const uint8_t> bytes, Run &run) const
{
    if (codedframes::layer3FrameBytes(bytes) == int64_t(bytes.size())) {
        run = {};
        return {0, true};
    }
    run.bytes += int64_t(bytes.size());
    ++run.packets;
    // Rounded over the run so far, as its last packet may end it; in floating point, as a
    // header may state any count for its bytes.
    const auto held = int64_t(std::llround(double(run.bytes) * double(frames_) / double(frameBytes_)));
    const int64_t lost = std::max<int64_t>(held - run.packets - run.lost, 0);
    run.lost += lost;
    return {lost * samplesPerFrame_, false};
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
