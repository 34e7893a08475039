#pragma once

#include "core/error.h"
#include "core/native_path.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <sys/stat.h>

namespace tampod {

// The absolute path with every symbolic link, "." and ".." resolved (realpath); none when a
// component cannot be resolved (missing, unreadable, a loop).
std::optional<QString> resolvedPath(const QString &path);

// Whether an open follows a symbolic link at the last component.
enum class LinkPolicy { Follow, NoFollow };

// The status of whatever is at path, or none when nothing is there (or it cannot be reached).
std::optional<struct stat> statusOf(const QString &path, LinkPolicy links);
// Whether this process may read what is at path, by its effective ids.
bool isReadable(const QString &path);
// Removes the file at path (never a folder); whether it did.
bool removeFile(const QString &path) noexcept;

// An outside file turned out to be a folder, FIFO, socket or device: reading it would fail
// late, block forever or stream without end, so it is refused at once.
class NotARegularFile : public SystemError {
public:
    explicit NotARegularFile(const QString &path, bool isFolder);
};

// An owned file descriptor (always O_CLOEXEC). Every failure throws SystemError with errno;
// a failed fsync is an error, never ignored.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) noexcept : fd_(fd) {}
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    FileHandle(FileHandle &&other) noexcept : fd_(other.release()) {}
    FileHandle &operator=(FileHandle &&other) noexcept;
    ~FileHandle();

    // open(2) with O_CLOEXEC added; dirFd for openat (AT_FDCWD by default).
    static FileHandle open(const QString &path, int flags, mode_t mode = 0600);
    static FileHandle openAt(int dirFd, const QString &name, int flags, mode_t mode = 0600);
    static FileHandle openForReading(const QString &path);

    // The one open for files that come from outside (a user's audio, a companion, a tag
    // source): never blocks on a FIFO or device, refuses anything but a regular file, then
    // returns a blocking read-only descriptor. dirFd for openat.
    static FileHandle openOutside(const QString &path, LinkPolicy links = LinkPolicy::Follow);
    static FileHandle openOutsideAt(int dirFd, const QString &name, LinkPolicy links);
    // An existing regular file opened for changing in place (tag writers), no-follow, with the
    // same refusal of anything but a regular file.
    static FileHandle openForUpdate(const QString &path);

    bool isOpen() const noexcept { return fd_ >= 0; }
    int fd() const noexcept { return fd_; }
    int release() noexcept;
    void close(); // reports a failing close; the destructor ignores it

    // Reads until count bytes or the end of the file; fewer bytes only at the end.
    QByteArray readUpTo(qint64 count);
    // Exactly count bytes, or MalformedData at a short read.
    QByteArray readExactly(qint64 count);
    QByteArray preadUpTo(qint64 offset, qint64 count) const;
    QByteArray preadExactly(qint64 offset, qint64 count) const;
    void writeAll(const QByteArray &bytes);
    void pwriteAll(qint64 offset, const QByteArray &bytes);
    void append(const QByteArray &bytes);
    void seek(qint64 offset);
    qint64 seekToEnd();
    qint64 position() const;
    void truncate(qint64 length);
    void sync();
    struct stat status() const;
    qint64 size() const;

private:
    int fd_ = -1;
};

} // namespace tampod
