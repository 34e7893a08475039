// The Ogg page reader (identification headers, the Vorbis setup, every page's checksum and granule) over
// arbitrary bytes: whatever it describes must be a stream the reader can take, with a length.
#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg_stream_format.h"
#include "platform/decode/internal/ogg_audio_info.h"

#include "memory_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const tampod::FileHandle file = tampod::FileHandle::openOutside(fuzz::memoryFile(data, size));
    const auto stream = tampod::oggaudio::describe(file, 0, file.size());
    if (!stream)
        return 0;
    const bool opus = stream->codec == tampod::AudioCodecKind::opus;
    if ((!opus && stream->codec != tampod::AudioCodecKind::vorbis) || (opus && stream->sampleRate != 48000)
        || stream->channels < 1 || stream->channels > tampod::ffmpeg::maximumChannels || stream->sampleRate < 1
        || stream->sampleRate > tampod::ffmpeg::maximumSampleRate || stream->exactLength <= 0)
        std::abort();
    return 0;
}
