#include "platform/media_tag_reader.h"

#include "core/error.h"
#include "core/file_handle.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace tampod::MediaTagReader {

namespace {

// Enough for any tag block at the head of a file; the demuxers then read what their headers
// need and nothing more, since streams are not probed.
constexpr int probeSize = 1 << 20;
constexpr int bufferSize = 1 << 16;

struct Source {
    int fd;
    const CancellationToken *token;
};

int readPacket(void *opaque, std::uint8_t *buffer, int size)
{
    auto *source = static_cast<Source *>(opaque);
    if (source->token->isCancelled())
        return AVERROR_EXIT;
    ssize_t count;
    do {
        count = ::read(source->fd, buffer, static_cast<size_t>(size));
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        return AVERROR(errno);
    return count == 0 ? AVERROR_EOF : static_cast<int>(count);
}

std::int64_t seekFile(void *opaque, std::int64_t offset, int whence)
{
    auto *source = static_cast<Source *>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(source->fd, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = ::lseek(source->fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

int interrupted(void *opaque)
{
    return static_cast<const CancellationToken *>(opaque)->isCancelled() ? 1 : 0;
}

// Owns the custom I/O context and its buffer (the buffer may be replaced by FFmpeg).
struct IoContext {
    AVIOContext *context = nullptr;
    ~IoContext()
    {
        if (context)
            av_freep(&context->buffer);
        avio_context_free(&context);
    }
};

struct FormatContext {
    AVFormatContext *context = nullptr;
    bool opened = false;
    ~FormatContext()
    {
        if (opened)
            avformat_close_input(&context);
        else
            avformat_free_context(context);
    }
};

struct Options {
    AVDictionary *dictionary = nullptr;
    ~Options() { av_dict_free(&dictionary); }
};

QList<Tag> tagsOf(const AVDictionary *dictionary)
{
    QList<Tag> tags;
    const AVDictionaryEntry *entry = nullptr;
    while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
        tags.append({QString::fromUtf8(entry->key), QString::fromUtf8(entry->value)});
    return tags;
}

} // namespace

QList<QList<Tag>> read(const QString &path, const CancellationToken &token)
{
    // Opened by us, not by the demuxer's protocols: no URL syntax in the path is honoured, and
    // a FIFO or device is refused before anything waits on it.
    FileHandle file = FileHandle::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!S_ISREG(file.status().st_mode))
        throw MalformedData(QStringLiteral("not a regular file"));
    token.throwIfCancelled();

    Source source{file.fd(), &token};
    IoContext io;
    auto *buffer = static_cast<unsigned char *>(av_malloc(bufferSize));
    if (!buffer)
        throw std::bad_alloc();
    io.context = avio_alloc_context(buffer, bufferSize, 0, &source, readPacket, nullptr, seekFile);
    if (!io.context) {
        av_free(buffer);
        throw std::bad_alloc();
    }

    FormatContext format;
    format.context = avformat_alloc_context();
    if (!format.context)
        throw std::bad_alloc();
    format.context->pb = io.context;
    format.context->flags |= AVFMT_FLAG_CUSTOM_IO;
    format.context->interrupt_callback = {interrupted, const_cast<CancellationToken *>(&token)};

    Options options;
    av_dict_set_int(&options.dictionary, "probesize", probeSize, 0);
    av_dict_set_int(&options.dictionary, "formatprobesize", probeSize, 0);
    // Demuxers that would open further files (playlists, references) find no protocol.
    av_dict_set(&options.dictionary, "protocol_whitelist", "none", 0);

    // The name only helps recognise the format by its extension.
    const QByteArray name = QFileInfo(path).fileName().toUtf8();
    const int result = avformat_open_input(&format.context, name.constData(), nullptr, &options.dictionary);
    if (result < 0) {
        format.context = nullptr; // freed by FFmpeg on failure
        token.throwIfCancelled();
        throw MalformedData(QStringLiteral("no media file the demuxer recognises"));
    }
    format.opened = true;
    token.throwIfCancelled();

    QList<QList<Tag>> places;
    if (QList<Tag> tags = tagsOf(format.context->metadata); !tags.isEmpty())
        places.append(std::move(tags));
    for (unsigned i = 0; i < format.context->nb_streams; ++i) {
        if (QList<Tag> tags = tagsOf(format.context->streams[i]->metadata); !tags.isEmpty())
            places.append(std::move(tags));
    }
    return places;
}

} // namespace tampod::MediaTagReader
