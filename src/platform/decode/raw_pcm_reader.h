#pragma once

#include "concurrency/cancellation.h"

#include <QString>

#include <cstdint>

// Headerless big-endian signed PCM, such as the data fork of an SD2 file, read through FFmpeg's
// raw PCM demuxers with the parameters the caller gives: a reader independent of whatever
// wrote the bytes, for checking them. AudioFileReader's RawPCMFormat reads the samples the
// same way.
namespace tampod::RawPCMReader {

struct Description {
    std::int64_t frames = 0;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
};

// Decodes the whole file and reports what the decoder delivered. bits 8, 16, 24 or 32;
// channels 1 or 2. Throws AudioFileError (refused parameters, or a demuxer or decoder failure),
// SystemError when the file cannot be opened, Cancelled.
Description read(const QString &path, int sampleRate, int channels, int bits, const CancellationToken &token = {});

} // namespace tampod::RawPCMReader
