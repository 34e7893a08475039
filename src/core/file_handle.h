#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <sys/stat.h>

namespace tampod {

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
