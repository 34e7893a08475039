#pragma once

#include <QString>

#include <cstdint>

struct AVInputFormat;

namespace tampod {
class FileHandle;
}

namespace tampod::ffmpeg {

// The demuxer for a file's content, or nullptr when no allowed demuxer recognises it with a
// score above AVPROBE_SCORE_RETRY. Reads at most 1 MiB past a leading ID3v2 tag. A container
// header that says unmistakably what the file is names its demuxer without asking every
// demuxer, unless byHeader is false.
const AVInputFormat *probeInputFormat(const FileHandle &file, int *score = nullptr, bool byHeader = true);

// Length of the ID3v2 tags at offset (several may follow each other), 0 when none. Where the
// tags' stated sizes end off the first of a chain of MPEG audio frames or a FLAC stream, where
// that begins (streamstart::nearest), as the command-line decoders find it.
int64_t id3v2Length(const FileHandle &file, int64_t offset);

// The same as the tags' headers state it.
int64_t statedId3v2Length(const FileHandle &file, int64_t offset);

// "mov,mp4,m4a,..." → "mov".
QString shortName(const AVInputFormat *format);

} // namespace tampod::ffmpeg
