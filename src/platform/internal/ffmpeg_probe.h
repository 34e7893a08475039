#pragma once

#include <QString>

struct AVInputFormat;

namespace tampod {
class FileHandle;
}

namespace tampod::ffmpeg {

// The demuxer for a file's content, or nullptr when no allowed demuxer recognises it with a
// score above AVPROBE_SCORE_RETRY. Reads at most 1 MiB past a leading ID3v2 tag.
const AVInputFormat *probeInputFormat(const FileHandle &file, int *score = nullptr);

// "mov,mp4,m4a,..." → "mov".
QString shortName(const AVInputFormat *format);

} // namespace tampod::ffmpeg
