#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"

#include "core/file_handle.h"
#include "core/id3v2_header.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/flac/flac_length.h"
#include "platform/decode/internal/mpeg/coded_frame_walk.h"
#include "platform/decode/internal/mpeg/mpeg_audio_info.h"
#include "platform/decode/internal/mpeg/trailing_tags.h"
#include "platform/decode/internal/stream_start_search.h"
#include "platform/internal/ffmpeg_owners.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tampod::ffmpeg {

namespace {

constexpr qint64 firstProbeBytes = 2048;
constexpr qint64 lastProbeBytes = 1 << 20;

// Demuxers of the formats we open. Anything else (playlists, image sequences, formats that
// open further files) is never used, whatever the content claims.
bool isAllowed(const AVInputFormat *format)
{
    static constexpr std::array<const char *, 14> allowed = {
        "wav", "w64", "aiff", "caf", "flac", "mp3", "mov,mp4,m4a,3gp,3g2,mj2",
        "aac", "ac3", "eac3", "ogg", "asf", "ape", "au"};
    for (const char *name : allowed)
        if (std::strcmp(format->name, name) == 0)
            return true;
    return false;
}

} // namespace

int64_t id3v2Length(const FileHandle &file, int64_t offset)
{
    const int64_t stated = statedId3v2Length(file, offset);
    if (stated == 0)
        return 0;
    // A tagger that miscounted its tag: the stream (MPEG audio frames, or a FLAC stream's
    // marker) begins near where the tag says it ends.
    const auto start = streamstart::nearest(file, offset + stated, offset + Id3v2::headerLength,
                                            [](std::span<const uint8_t> bytes, bool fileEnds) {
                                                return flaclength::streamAt(bytes)
                                                       || codedframes::layer3FramesAt(bytes, fileEnds);
                                            });
    return start.value_or(offset + stated) - offset;
}

int64_t statedId3v2Length(const FileHandle &file, int64_t offset)
{
    int64_t total = 0;
    for (int i = 0; i < 16; ++i) {
        const auto tag = Id3v2::header(file.preadUpTo(offset + total, Id3v2::headerLength));
        if (!tag)
            break;
        total += static_cast<int64_t>(tag->tagLength());
    }
    return total;
}

const AVInputFormat *probeInputFormat(const FileHandle &file, int *scoreOut, bool byHeader)
{
    if (const auto header = byHeader ? containerheader::read(file, false) : std::nullopt) {
        if (const AVInputFormat *format = av_find_input_format(header->demuxer)) {
            if (scoreOut)
                *scoreOut = AVPROBE_SCORE_MAX;
            return format;
        }
    }
    const qint64 start = id3v2Length(file, 0);
    const int64_t fileSize = file.size();
    // Tags after a raw stream are no part of it: a short stream is judged without them.
    const int64_t audioEnd = trailingtags::audioEnd(file, start, fileSize);
    for (qint64 size = firstProbeBytes; size <= lastProbeBytes; size *= 2) {
        QByteArray bytes = file.preadUpTo(start, std::clamp<qint64>(audioEnd - start, 0, size));
        const bool whole = bytes.size() < size;
        const int length = int(bytes.size());
        if (length == 0)
            return nullptr;
        bytes.append(QByteArray(AVPROBE_PADDING_SIZE, '\0'));
        AVProbeData data{};
        data.filename = "";
        data.buf = reinterpret_cast<unsigned char *>(bytes.data());
        data.buf_size = length;
        int score = 0;
        const AVInputFormat *format = av_probe_input_format3(&data, 1, &score);
        if (format && score > AVPROBE_SCORE_RETRY) {
            if (!isAllowed(format))
                return nullptr;
            if (scoreOut)
                *scoreOut = score;
            return format;
        }
        if (whole)
            break;
    }
    // A few frames of MP3 are too little for content probing, but an encoder's Info header
    // on the first frame is unmistakable.
    if (mpegaudio::hasInfoHeader(file, start)) {
        if (scoreOut)
            *scoreOut = AVPROBE_SCORE_EXTENSION;
        return av_find_input_format("mp3");
    }
    // So are a few frames of a raw stream, but every frame header read from the first to the
    // end of the file, each where the one before ends (and AC-3's checksums), is as sure.
    const char *walked = codedframes::ac3(file, start, fileSize, false)         ? "ac3"
                         : codedframes::ac3(file, start, fileSize, true)        ? "eac3"
                         : codedframes::mpegLayer3(file, start, fileSize)       ? "mp3"
                         : codedframes::adts(file, start, fileSize)             ? "aac"
                                                                                : nullptr;
    if (walked) {
        if (scoreOut)
            *scoreOut = AVPROBE_SCORE_EXTENSION;
        return av_find_input_format(walked);
    }
    return nullptr;
}

QString shortName(const AVInputFormat *format)
{
    const QString name = QString::fromLatin1(format->name);
    return name.section(QLatin1Char(','), 0, 0);
}

} // namespace tampod::ffmpeg
