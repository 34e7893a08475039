#include "platform/decode/internal/ffmpeg/ffmpeg_file_input.h"

#include "core/file_system_call.h"

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavutil/mem.h>
}

namespace tampod::ffmpeg {

namespace {
constexpr int ioBufferBytes = 64 * 1024;
}

FileInput::FileInput(int fd, std::int64_t size, CancellationToken token)
    : fd_(fd), size_(size), token_(std::move(token))
{
}

AVFormatContext *FileInput::newDemuxerContext()
{
    io_.reset();
    position_ = 0;
    auto *buffer = static_cast<std::uint8_t *>(av_malloc(ioBufferBytes));
    if (!buffer)
        return nullptr;
    io_.reset(avio_alloc_context(buffer, ioBufferBytes, 0, this, &FileInput::read, nullptr,
                                 &FileInput::seek));
    if (!io_) {
        av_free(buffer);
        return nullptr;
    }
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        return nullptr;
    context->pb = io_.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->interrupt_callback = {&FileInput::interrupted, this};
    return context;
}

int FileInput::read(void *opaque, std::uint8_t *buffer, int size)
{
    auto *self = static_cast<FileInput *>(opaque);
    if (self->token_.isCancelled())
        return AVERROR_EXIT;
    // The demuxer sees the file up to size_ only: what follows (a tag after a raw stream) is
    // no audio of it.
    const std::int64_t left = self->size_ - self->position_;
    if (left <= 0)
        return AVERROR_EOF;
    const ssize_t n = FileSystemCall::readAt(self->fd_, buffer, size_t(std::min<std::int64_t>(size, left)),
                                             self->position_);
    if (n < 0) {
        if (self->readError_ == 0)
            self->readError_ = errno ? errno : EIO;
        return AVERROR(self->readError_);
    }
    if (n == 0)
        return AVERROR_EOF;
    self->position_ += n;
    return int(n);
}

std::int64_t FileInput::seek(void *opaque, std::int64_t offset, int whence)
{
    auto *self = static_cast<FileInput *>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return self->size_;
    case SEEK_SET: break;
    case SEEK_CUR: offset += self->position_; break;
    case SEEK_END: offset += self->size_; break;
    default: return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    self->position_ = offset;
    return offset;
}

int FileInput::interrupted(void *opaque)
{
    return static_cast<const FileInput *>(opaque)->token_.isCancelled() ? 1 : 0;
}

} // namespace tampod::ffmpeg
