#pragma once

// Private to the platform module.

#include "platform/decode/internal/mpeg/spaced_entries.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct AVPacket;

namespace tampod {

// Where the frames a read from the start delivered began, in the file and in the stream, noted
// as the read passes them: a seek then restarts the demuxer at a frame shortly before its
// target rather than decoding from the start. Bounded in memory: one entry every eight frames
// (of MPEG-1) at most, fewer as the entries reach their limit (SpacedEntries).
class FramePositionIndex {
public:
    struct Entry {
        int64_t byte = 0;     // of the packet the frame was decoded from
        int64_t position = 0; // of the frame's first sample in the stream
    };

    // A frame the decoder delivered: from the packet at byte, its first sample at position, its
    // timestamps pts and, where the next frame follows it without a gap, ptsAfter. full: it
    // holds all a codec frame's samples; unheard: the duration, in the timestamps' units, of the
    // packets sent since the frame before that yielded no samples and that the demuxer did not
    // mark for trimming. Only frames that continue the noted ones count.
    void note(int64_t byte, int64_t position, int64_t samples, int64_t pts, int64_t ptsAfter, bool full,
              int64_t unheard = 0);

    // Whether the demuxer marked packet for samples to be trimmed off (by their timestamps).
    static bool trims(const AVPacket &packet);

    // The read from the start delivered its last frame, which ends at position.
    void finish(int64_t position);

    // The entry a decode may restart at for target: the latest at least preroll before it,
    // where every frame from it to the end of the stream was noted full and following the one
    // before without a gap, as a decode that restarts there delivers them. nullopt where there
    // is none.
    std::optional<Entry> restartFor(int64_t target, int64_t preroll) const;

    // After a restart the demuxer's timestamps count from it, and the samples it would have the
    // decoder trim by them (an encoder's delay at its start, padding where its header says the
    // stream ends) are wrong: the packet's are cleared, as restartFor() allows for.
    static void keepWhole(AVPacket &packet);

    // What the index holds in memory besides itself.
    size_t memoryBytes() const { return entries_.memoryBytes() + breaks_.capacity() * sizeof(int64_t); }

private:
    SpacedEntries<Entry> entries_{8 * 1152};
    std::vector<int64_t> breaks_; // positions of frames a restart would not deliver as the read did
    int64_t noted_ = 0;           // position the next noted frame begins at
    bool finished_ = false;
    std::optional<int64_t> nextPts_;
};

} // namespace tampod
