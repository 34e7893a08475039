#pragma once

// Private to the platform module.

#include "platform/decode/internal/mpeg/spaced_entries.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tampod {

// The timeline of an MP3 stream whose length was taken from its Info header, which a decode and
// a seek both keep to, so that the stream delivers the header's length and a seek finds what a
// read from the start delivers there. Each packet of the demuxer holds one frame's samples,
// whatever the decoder makes of it. Where junk or zeros were written over frames, the demuxer
// passes them on in packets that are no one whole frame (the junk with the frame after it, or
// frames it took the junk for), and a run of such packets holds as many frames as fit in its
// bytes at the header's average frame size: the ones its packets do not count were lost. Where
// a decode may restart without decoding from the start is noted as reads and walks pass: a
// packet that is one whole frame and the position its samples begin at. Bounded in memory: one
// restart every 16 frames at most, fewer as the restarts reach their limit (SpacedEntries).
// thread: the stream's, as the stream that owns it.
class Layer3Timeline {
public:
    // Of the header: samples in a frame, the frames it counts and their bytes.
    Layer3Timeline(int64_t samplesPerFrame, int64_t frames, int64_t frameBytes);

    int64_t samplesPerFrame() const { return samplesPerFrame_; }

    // The packets since the last that was one whole frame, which a pass over the packets keeps.
    struct Run {
        int64_t bytes = 0;
        int64_t packets = 0;
        int64_t lost = 0; // frames
    };
    // Of the next packet of a pass: whether it is one whole frame, and the samples of the frames
    // lost before the frame it delivers.
    struct Packet {
        int64_t lost = 0;
        bool whole = false;
    };
    Packet packet(std::span<const uint8_t> bytes, Run &run) const;

    struct Restart {
        int64_t byte = 0;     // of a packet that is one whole frame
        int64_t position = 0; // where its samples begin in the stream
        // The samples of the packets before it, from the stream's start, that were one whole
        // frame each: the frames that fill the decoder, where lost ones and junk do not.
        int64_t whole = 0;
    };
    // A packet a decode may restart at, passed by a read or a walk that knows its position.
    void note(Restart restart);
    // The restart a decode for target begins at: the latest with whole frames of at least
    // preroll samples between it and target, so that the decoder is filled there as in a read
    // from the start, though frames were lost between. Where the restarts noted do not tell
    // how many were lost before target, as many as may have been. nullopt where there is none.
    std::optional<Restart> restartFor(int64_t target, int64_t preroll) const;
    // The latest noted, kept among the restarts or not.
    std::optional<Restart> last() const { return last_; }

private:
    int64_t samplesPerFrame_;
    int64_t frames_;
    int64_t frameBytes_;
    SpacedEntries<Restart> restarts_;
    std::optional<Restart> last_;
};

} // namespace tampod
