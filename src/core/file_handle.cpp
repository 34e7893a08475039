#include "core/file_handle.h"

#include "core/error.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tampod {

namespace {

QByteArray encodedPath(const QString &path)
{
    return path.toLocal8Bit();
}

} // namespace

FileHandle &FileHandle::operator=(FileHandle &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

FileHandle::~FileHandle()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FileHandle FileHandle::open(const QString &path, int flags, mode_t mode)
{
    return openAt(AT_FDCWD, path, flags, mode);
}

FileHandle FileHandle::openAt(int dirFd, const QString &name, int flags, mode_t mode)
{
    const QByteArray encoded = encodedPath(name);
    int fd;
    do {
        fd = ::openat(dirFd, encoded.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw SystemError(errno, QStringLiteral("open"));
    return FileHandle(fd);
}

FileHandle FileHandle::openForReading(const QString &path)
{
    return open(path, O_RDONLY);
}

int FileHandle::release() noexcept
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileHandle::close()
{
    const int fd = release();
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        throw SystemError(errno, QStringLiteral("close"));
}

namespace {

// Reads until count bytes or the end. The buffer grows as data arrives, so a hostile count
// taken from a file header never allocates more than the file holds (plus one step).
template <typename ReadFn>
QByteArray readLoop(qint64 count, ReadFn readSome)
{
    constexpr qint64 step = 1 << 20;
    QByteArray out;
    qint64 done = 0;
    while (done < count) {
        if (out.size() == done)
            out.resize(std::min(count, done + step));
        const ssize_t n = readSome(out.data() + done, static_cast<size_t>(out.size() - done), done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError(errno, QStringLiteral("read"));
        }
        if (n == 0)
            break;
        done += n;
    }
    out.truncate(done);
    return out;
}

} // namespace

QByteArray FileHandle::readUpTo(qint64 count)
{
    return readLoop(count, [this](char *into, size_t n, qint64) { return ::read(fd_, into, n); });
}

QByteArray FileHandle::readExactly(qint64 count)
{
    QByteArray out = readUpTo(count);
    if (out.size() != count)
        throw MalformedData(QStringLiteral("The file ended early."));
    return out;
}

QByteArray FileHandle::preadUpTo(qint64 offset, qint64 count) const
{
    return readLoop(count, [this, offset](char *into, size_t n, qint64 done) {
        return ::pread(fd_, into, n, static_cast<off_t>(offset + done));
    });
}

QByteArray FileHandle::preadExactly(qint64 offset, qint64 count) const
{
    QByteArray out = preadUpTo(offset, count);
    if (out.size() != count)
        throw MalformedData(QStringLiteral("The file ended early."));
    return out;
}

void FileHandle::writeAll(const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError(errno, QStringLiteral("write"));
        }
        done += n;
    }
}

void FileHandle::pwriteAll(qint64 offset, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_, bytes.constData() + done,
                                   static_cast<size_t>(bytes.size() - done),
                                   static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError(errno, QStringLiteral("write"));
        }
        done += n;
    }
}

void FileHandle::append(const QByteArray &bytes)
{
    seekToEnd();
    writeAll(bytes);
}

void FileHandle::seek(qint64 offset)
{
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        throw SystemError(errno, QStringLiteral("seek"));
}

qint64 FileHandle::seekToEnd()
{
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0)
        throw SystemError(errno, QStringLiteral("seek"));
    return end;
}

qint64 FileHandle::position() const
{
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0)
        throw SystemError(errno, QStringLiteral("seek"));
    return at;
}

void FileHandle::truncate(qint64 length)
{
    int rc;
    do {
        rc = ::ftruncate(fd_, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        throw SystemError(errno, QStringLiteral("truncate"));
}

void FileHandle::sync()
{
    if (::fsync(fd_) != 0)
        throw SystemError(errno, QStringLiteral("fsync"));
}

struct stat FileHandle::status() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        throw SystemError(errno, QStringLiteral("stat"));
    return st;
}

qint64 FileHandle::size() const
{
    return status().st_size;
}

} // namespace tampod
