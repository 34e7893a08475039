// The frame walks of raw AAC, AC-3, E-AC-3 and MP3 over arbitrary bytes: whatever they accept
// must be a stream the reader can take, with a length that fits the bytes; and the search for a
// stream's first frame after misstated tags.
#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_stream_format.h"
#include "platform/decode/internal/mpeg/coded_frame_walk.h"
#include "platform/decode/internal/stream_start_search.h"

#include "memory_file.h"

#include <cstdlib>

namespace {

void check(const std::optional<tampod::codedframes::Walk> &walk, int64_t size, int samplesPerByte)
{
    if (walk
        && (walk->channels < 1 || walk->channels > 8 || walk->sampleRate < 7350 || walk->sampleRate > 96000
            || walk->samples <= 0 || walk->samples > size * samplesPerByte || walk->end <= 0 || walk->end > size))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const tampod::FileHandle file = tampod::FileHandle::openOutside(fuzz::memoryFile(data, size));
    const int64_t bytes = file.size();
    // Frames are at least 7 (ADTS), 128 (AC-3), 8 (E-AC-3) and 24 (MP3) bytes long.
    check(tampod::codedframes::adts(file, 0, bytes), bytes, 1024 / 7 + 1);
    check(tampod::codedframes::ac3(file, 0, bytes, false), bytes, 1536 / 128);
    check(tampod::codedframes::ac3(file, 0, bytes, true), bytes, 1536 / 8);
    check(tampod::codedframes::mpegLayer3(file, 0, bytes), bytes, 1152 / 24 + 1);
    // The search for a stream's first frame near where the tags before it say they end.
    const auto start = tampod::streamstart::nearest(file, bytes / 2, 0, tampod::codedframes::layer3FramesAt);
    if (start && (*start < 0 || *start >= bytes))
        std::abort();
    return 0;
}
