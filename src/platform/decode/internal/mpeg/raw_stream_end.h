#pragma once

// Private to the platform module.

#include "platform/decode/internal/mpeg/coded_frame_walk.h"
#include "platform/decode/internal/mpeg/mpeg_audio_info.h"

#include <cstdint>
#include <optional>

namespace tampod {
class FileHandle;
}

namespace tampod::rawstream {

// Whether the demuxer of that name reads a raw coded stream (MP3, ADTS AAC, AC-3, E-AC-3).
bool isRaw(const char *demuxer);

// Where the audio of such a stream ends, its first frame at start: where an MP3's Info header
// says its bytes end, where a walk of its frames ends, or, where neither vouches for the stream
// (damage, files joined), before the tags that seem to follow it. Throws only when reading the
// file fails. walk: the frames walked to that end, where a walk found it; trimmed: an MP3's
// Info header borne out by its frames. Either one spares the stream's length a second walk.
struct End {
    int64_t end = 0;
    std::optional<codedframes::Walk> walk;
    std::optional<mpegaudio::Trimmed> trimmed;
};
End audioEnd(const FileHandle &file, const char *demuxer, int64_t start, int64_t fileSize);

} // namespace tampod::rawstream
