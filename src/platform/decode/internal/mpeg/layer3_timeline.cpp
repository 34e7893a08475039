#include "platform/decode/internal/mpeg/layer3_timeline.h"

#include "platform/decode/internal/mpeg/coded_frame_walk.h"

#include <algorithm>
#include <cmath>

namespace tampod {

Layer3Timeline::Layer3Timeline(int64_t samplesPerFrame, int64_t frames, int64_t frameBytes)
    : samplesPerFrame_(samplesPerFrame), frameBytes_(std::max<int64_t>(frameBytes, 1)), restarts_(16 * samplesPerFrame)
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
    restarts_.note(restart);
    if (!last_ || restart.position > last_->position)
        last_ = restart;
}

std::optional<Layer3Timeline::Restart> Layer3Timeline::restartFor(int64_t target, int64_t preroll) const
{
    const std::vector<Restart> &restarts = restarts_.entries();
    const auto after = restarts_.after(target);
    if (after == restarts.begin())
        return std::nullopt;
    // The whole frames before target: at least those before the latest restart noted at or
    // before it, and where one is noted past it, at least those before that one less the
    // samples between.
    const Restart &before = last_->position <= target ? *last_ : *(after - 1);
    const Restart *next = after != restarts.end() ? &*after : last_->position > target ? &*last_ : nullptr;
    int64_t whole = before.whole;
    if (next)
        whole = std::max(whole, next->whole - (next->position - target));
    const auto from = std::upper_bound(restarts.begin(), after, whole - preroll,
                                       [](int64_t at, const Restart &r) { return at < r.whole; });
    if (from == restarts.begin())
        return std::nullopt;
    return *(from - 1);
}

} // namespace tampod
