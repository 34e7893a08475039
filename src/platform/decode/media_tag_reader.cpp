#include "platform/decode/media_tag_reader.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_file_input.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"
#include "platform/internal/ffmpeg_owners.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace tampod::MediaTagReader {

namespace {

// The most a demuxer may read ahead while it opens; streams are not probed at all.
constexpr int probeSize = 256 * 1024;

FileHandle openTagSource(const QString &path)
{
    try {
        return FileHandle::openOutside(path);
    } catch (const NotARegularFile &error) {
        throw MalformedData(error.message());
    }
}

} // namespace

QList<QList<Tag>> read(const QString &path, const CancellationToken &token)
{
    // Opened by us, not by the demuxer's protocols: no URL syntax in the path is honoured, and
    // a FIFO or device is refused before anything waits on it.
    const FileHandle file = openTagSource(path);
    token.throwIfCancelled();

    ffmpeg::silenceLog();
    // Only the demuxers of the formats we open, recognised by content with a trustworthy score.
    const AVInputFormat *format = ffmpeg::probeInputFormat(file);
    if (!format)
        throw MalformedData(QStringLiteral("no media file the demuxer recognises"));
    token.throwIfCancelled();

    ffmpeg::FileInput input(file.fd(), file.size(), token);
    AVFormatContext *context = input.newDemuxerContext();
    if (!context)
        throw std::bad_alloc();
    context->probesize = probeSize;

    // Demuxers that would open further files find no protocol to do it with.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    const int result = avformat_open_input(&context, "", format, &options);
    av_dict_free(&options);
    if (result < 0) { // the context is freed on failure
        token.throwIfCancelled();
        throw MalformedData(QStringLiteral("the demuxer could not read the file's header"));
    }
    const ffmpeg::InputFormatContext demuxer(context);
    token.throwIfCancelled();

    return ffmpeg::tagsOf(*demuxer);
}

} // namespace tampod::MediaTagReader

namespace tampod::ffmpeg {

namespace {

QList<MediaTagReader::Tag> tagsOf(const AVDictionary *dictionary)
{
    QList<MediaTagReader::Tag> tags;
    const AVDictionaryEntry *entry = nullptr;
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
        tags.append({QString::fromUtf8(entry->key), QString::fromUtf8(entry->value)});
    return tags;
}

} // namespace

QList<QList<MediaTagReader::Tag>> tagsOf(const AVFormatContext &demuxer)
{
    QList<QList<MediaTagReader::Tag>> places;
    if (QList<MediaTagReader::Tag> tags = tagsOf(demuxer.metadata); !tags.isEmpty())
        places.append(std::move(tags));
    for (unsigned i = 0; i < demuxer.nb_streams; ++i) {
        if (QList<MediaTagReader::Tag> tags = tagsOf(demuxer.streams[i]->metadata); !tags.isEmpty())
            places.append(std::move(tags));
    }
    return places;
}

} // namespace tampod::ffmpeg
