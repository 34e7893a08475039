#pragma once

// Private to the platform module.

#include "platform/decode/audio_file_format.h"
#include "platform/decode/internal/mpeg/raw_stream_end.h"

#include <cstdint>
#include <optional>

struct AVCodecContext;
struct AVFormatContext;

namespace tampod {

class FileHandle;

namespace ffmpeg {

// What the reader needs to know of an opened stream before decoding it.
struct StreamDescription {
    AudioFileFormat format;
    bool lossless = false;
    // Timestamps are exact and the demuxer seeks, so a seek need not decode from the start.
    bool seekByTimestamp = false;
    // Where the container states the length exactly; frames past it are padding.
    std::optional<int64_t> exactLength;
    // Where a raw stream's audio ends, where its header stated it and the bytes after bore it
    // out: the demuxer reads no further, so what follows (tags, padding) is never decoded.
    std::optional<int64_t> audioEnd;
    // An MP3 stream's Info header, where exactLength was taken from it: the stream keeps to its
    // timeline (Layer3Timeline).
    std::optional<mpegaudio::Trimmed> infoHeader;
};

// Describes the demuxer's audio stream at streamIndex. dataStart: the offset the demuxer's
// header ended at; audioEnd: what a raw stream's frames already told of its end. Throws
// AudioFileError (unsupported) for a channel count or rate out of range.
StreamDescription describeStream(const AVFormatContext &demuxer, int streamIndex,
                                 const AVCodecContext &decoder, const FileHandle &file,
                                 int64_t fileSize, int64_t dataStart, const rawstream::End &audioEnd);

} // namespace ffmpeg
} // namespace tampod
