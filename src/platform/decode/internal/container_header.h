#pragma once

// Private to the platform module.

#include "platform/decode/internal/ffmpeg/ffmpeg_stream_format.h"

#include <memory>
#include <optional>

namespace tampod {
class FileHandle;
namespace oggaudio {
struct Described;
}
}

namespace tampod::containerheader {

// What a file's first bytes say of it, read without FFmpeg.
struct Header {
    const char *demuxer = nullptr; // FFmpeg's name of the demuxer for these bytes
    // The stream exactly as FFmpeg describes it, where the header alone states it: PCM in
    // WAV/RF64, AIFF/AIFC and CAF; FLAC with a sample count (its length only where the last
    // frame bears the count out); MPEG Layer III with an encoder's trimmed length; AAC-LC or ALAC in one MP4 sound track with a plain index and one edit;
    // Vorbis or Opus in one Ogg stream whose first and last pages time it.
    std::optional<ffmpeg::StreamDescription> description;
    // The demuxer's own header reading gives the codec parameters, so no decode to learn them.
    bool parametersInHeader = false;
    // Of an Ogg file so described: its links, where its pages lie, and what each delivers.
    std::shared_ptr<const oggaudio::Described> ogg = nullptr;
};

// nullopt unless the bytes unmistakably announce one of those containers (or MP4), or an Ogg
// stream described in full. A header that is odd or ambiguous gives the demuxer alone, or
// nothing. Throws only when reading the file fails. describe false: the demuxer is all the
// caller wants, and an MP3 stream's frames are not walked to prove its length.
std::optional<Header> read(const FileHandle &file, bool describe = true);

} // namespace tampod::containerheader
