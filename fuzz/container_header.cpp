// The container header readers (WAV/RF64, AIFF/AIFC, CAF, FLAC STREAMINFO, MPEG Info frames, Ogg,
// MP4 boxes) over arbitrary bytes: whatever they describe must be a stream the reader can take.
#include "core/file_handle.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/decode_limits.h"

#include "memory_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const tampod::FileHandle file = tampod::FileHandle::openOutside(fuzz::memoryFile(data, size));
    const auto header = tampod::containerheader::read(file);
    if (!header || !header->description)
        return 0;
    const auto &d = *header->description;
    if (!header->demuxer || d.format.channels < 1 || d.format.channels > tampod::decodelimits::maximumChannels
        || !(d.format.sampleRate >= 1) || d.format.sampleRate > tampod::decodelimits::maximumSampleRate
        || (d.exactLength && *d.exactLength < 0))
        std::abort();
    // Only a FLAC header or an MP3 Info header may leave the length to the decode, where the
    // frames do not bear it out; an MP3 header then still says where the demuxer stops.
    if (!d.exactLength && d.format.codec != tampod::AudioCodecKind::flac
        && d.format.codec != tampod::AudioCodecKind::mpegLayer3)
        std::abort();
    if (d.format.codec == tampod::AudioCodecKind::mpegLayer3
        && (!d.audioEnd || *d.audioEnd <= 0 || *d.audioEnd > file.size() || d.seekByTimestamp != d.exactLength.has_value()))
        std::abort();
    // MP4 boxes describe only AAC and ALAC, with a length the boxes gave.
    if (d.format.container == QLatin1String("mov")
        && ((d.format.codec != tampod::AudioCodecKind::aac && d.format.codec != tampod::AudioCodecKind::alac)
            || *d.exactLength == 0 || (d.format.codec == tampod::AudioCodecKind::alac) != (d.format.alacSourceBitDepth > 0)))
        std::abort();
    return 0;
}
