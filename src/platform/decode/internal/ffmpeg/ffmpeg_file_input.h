#pragma once

// Private to the platform module.

#include "concurrency/cancellation.h"
#include "platform/decode/media_tag_reader.h"
#include "platform/internal/ffmpeg_owners.h"

#include <cstdint>

namespace tampod::ffmpeg {

// Feeds a demuxer from our own open descriptor, so FFmpeg never sees a path it could take for
// a protocol ("a:b.wav") or use to open another file. The demuxer sees the first size bytes
// as the whole file. Cancelling the token stops reads and FFmpeg's blocking waits.
class FileInput {
public:
    FileInput(int fd, std::int64_t size, CancellationToken token);
    FileInput(const FileInput &) = delete;
    FileInput &operator=(const FileInput &) = delete;

    // A fresh demuxer context reading from the start of the file through this input, not yet
    // opened; null when memory runs out. Replaces the I/O context of an earlier call, so the
    // demuxer made before must be gone.
    AVFormatContext *newDemuxerContext();

    void setCancellationToken(CancellationToken token) { token_ = std::move(token); }
    // The error the system reported at the first read that failed (EIO, say), 0 while every read
    // succeeded. The demuxer may take a failed read for the end of the file, so the stream asks.
    int readError() const { return readError_; }

private:
    static int read(void *opaque, std::uint8_t *buffer, int size);
    static std::int64_t seek(void *opaque, std::int64_t offset, int whence);
    static int interrupted(void *opaque);

    int fd_;
    std::int64_t size_;
    std::int64_t position_ = 0;
    int readError_ = 0;
    CancellationToken token_;
    IoContext io_;
};

// An opened demuxer's tags: the container's, then each stream's, places without tags left out.
QList<QList<MediaTagReader::Tag>> tagsOf(const AVFormatContext &demuxer);

} // namespace tampod::ffmpeg
