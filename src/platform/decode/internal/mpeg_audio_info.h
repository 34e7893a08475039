#pragma once

#include <cstdint>
#include <optional>

namespace tampod {
class FileHandle;
}

namespace tampod::mpegaudio {

// Whether a Layer III frame with a Xing/Info header starts at offset: an encoder's own mark,
// strong enough to recognise a file too short for content probing.
bool hasInfoHeader(const FileHandle &file, int64_t offset);

// The exact decoded length of an MPEG Layer III file whose first frame carries a Xing/Info
// header with a frame count and a LAME-style encoder delay and padding: frames × samples per
// frame − delay − padding, what the decoder delivers once it trims both ends. nullopt when
// the header is absent or implausible, or its byte count is not the stream's (from the frame to
// the tags at the end): a file cut short, or several joined end to end.
std::optional<int64_t> exactLength(const FileHandle &file, int64_t firstFrameOffset,
                                   int64_t fileSize);

// A Layer III stream whose first frame carries an encoder's Info header: the frame header's
// rate and channels, and exactLength() where it applies.
struct TaggedStream {
    int sampleRate = 0;
    int channels = 0;
    std::optional<int64_t> exactLength;
};
std::optional<TaggedStream> taggedStream(const FileHandle &file, int64_t firstFrameOffset, int64_t fileSize);

} // namespace tampod::mpegaudio
