#include "core/file_handle.h"

#include "core/error.h"
#include "core/file_system_call.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace tampod {

std::optional<QString> resolvedPath(const QString &path)
{
    char *resolved = ::realpath(encodedPath(path).constData(), nullptr);
    if (!resolved)
        return std::nullopt;
    QString text = decodedPath(QByteArray(resolved));
    std::free(resolved);
    return text;
}

std::optional<struct stat> statusOf(const QString &path, LinkPolicy links)
{
    struct stat status {};
    const QByteArray native = encodedPath(path);
    const int rc = links == LinkPolicy::NoFollow ? ::lstat(native.constData(), &status)
                                                 : ::stat(native.constData(), &status);
    if (rc != 0)
        return std::nullopt;
    return status;
}

bool isReadable(const QString &path)
{
    return !path.isEmpty() && ::faccessat(AT_FDCWD, encodedPath(path).constData(), R_OK, AT_EACCESS) == 0;
}

bool removeFile(const QString &path) noexcept
{
    const QByteArray native = encodedPath(path);
    return FileSystemCall::attempt("unlink", [&] { return ::unlink(native.constData()); }) == 0;
}

namespace {

QString notRegularText(const QString &path, bool isFolder)
{
    const QString name = displayedPath(path.section(QLatin1Char('/'), -1));
    return isFolder ? QStringLiteral("“%1” is a folder, not a file.").arg(name)
                    : QStringLiteral("“%1” is not a regular file (a pipe, socket or device).").arg(name);
}

} // namespace

NotARegularFile::NotARegularFile(const QString &path, bool isFolder)
    : SystemError(isFolder ? EISDIR : EINVAL, QStringLiteral("open"), notRegularText(path, isFolder))
{
}

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
    return FileHandle(FileSystemCall::run(
        "open", [&] { return ::openat(dirFd, encoded.constData(), flags | O_CLOEXEC, mode); }));
}

FileHandle FileHandle::openForReading(const QString &path)
{
    return openOutside(path);
}

namespace {

// O_NONBLOCK keeps open() itself from waiting for a FIFO's writer; the type is then judged
// on the descriptor, so nothing can be swapped in between a check and the open.
FileHandle openRegular(int dirFd, const QString &name, int accessFlags, LinkPolicy links)
{
    const int noFollow = links == LinkPolicy::NoFollow ? O_NOFOLLOW : 0;
    FileHandle file = FileHandle::openAt(dirFd, name, accessFlags | O_NONBLOCK | O_NOCTTY | noFollow);
    const mode_t type = file.status().st_mode & S_IFMT;
    if (type != S_IFREG)
        throw NotARegularFile(name, type == S_IFDIR);
    const int flags = ::fcntl(file.fd(), F_GETFL);
    if (flags < 0 || ::fcntl(file.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw SystemError(errno, QStringLiteral("fcntl"));
    return file;
}

} // namespace

FileHandle FileHandle::openOutside(const QString &path, LinkPolicy links)
{
    return openRegular(AT_FDCWD, path, O_RDONLY, links);
}

FileHandle FileHandle::openOutsideAt(int dirFd, const QString &name, LinkPolicy links)
{
    return openRegular(dirFd, name, O_RDONLY, links);
}

FileHandle FileHandle::openForUpdate(const QString &path)
{
    return openRegular(AT_FDCWD, path, O_RDWR, LinkPolicy::NoFollow);
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
        return FileSystemCall::readAt(fd_, into, n, static_cast<off_t>(offset + done));
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
    FileSystemCall::notify("write");
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
    FileSystemCall::notify("write");
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
    FileSystemCall::run("truncate", [&] { return ::ftruncate(fd_, static_cast<off_t>(length)); });
}

void FileHandle::sync()
{
    // A failing fsync may leave errno unset on some file systems; it is still a failure.
    FileSystemCall::run("fsync", [this] { return ::fsync(fd_); });
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
