#include "platform/decode/internal/mpeg/frame_position_index.h"

#include "platform/internal/ffmpeg_owners.h"

#include <algorithm>
#include <cstring>

namespace tampod {

void FramePositionIndex::note(int64_t byte, int64_t position, int64_t samples, int64_t pts, int64_t ptsAfter,
                              bool full, int64_t unheard)
{
    if (finished_ || position != noted_ || samples <= 0)
        return;
    // A frame trimmed, or one dropped before it, is delivered whole by a decode that restarts
    // after the demuxer's start. Packets that yielded nothing untrimmed (the decoder rejected
    // them, or found no audio in them) yield nothing to a decode that passes them after a
    // restart either, and leave the same gap.
    const bool continuous = full && byte >= 0 && (position == 0 || (nextPts_ && *nextPts_ + unheard == pts));
    noted_ = position + samples;
    nextPts_ = ptsAfter;
    if (!continuous) {
        breaks_.push_back(position);
        return;
    }
    entries_.note({byte, position});
}

bool FramePositionIndex::trims(const AVPacket &packet)
{
    size_t size = 0;
    const uint8_t *skip = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    return skip && std::any_of(skip, skip + std::min<size_t>(size, 8), [](uint8_t b) { return b != 0; });
}

void FramePositionIndex::keepWhole(AVPacket &packet)
{
    size_t size = 0;
    if (uint8_t *skip = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size))
        std::memset(skip, 0, size);
}

void FramePositionIndex::finish(int64_t position)
{
    finished_ = finished_ || position == noted_;
}

std::optional<FramePositionIndex::Entry> FramePositionIndex::restartFor(int64_t target, int64_t preroll) const
{
    // The demuxer trims frames by their timestamps, which a restart does not have: a restart
    // comes after the last frame it trimmed or dropped.
    if (!finished_ || target > noted_)
        return std::nullopt;
    const auto after = entries_.after(target - preroll);
    if (after == entries_.entries().begin())
        return std::nullopt;
    const Entry entry = *(after - 1);
    if (!breaks_.empty() && breaks_.back() >= entry.position)
        return std::nullopt;
    return entry;
}

} // namespace tampod
