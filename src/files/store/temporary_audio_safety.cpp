#include "files/store/temporary_audio_safety.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "files/internal/posix_support.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace tampod::TemporaryAudioSafety {

using PosixSupport::fail;

StrictJson::Json Identity::toJson() const
{
    return StrictJson::Json{{"device", device}, {"inode", inode}};
}

Identity Identity::fromJson(const StrictJson::Json &json)
{
    return {StrictJson::requireUInt64(json, "device"), StrictJson::requireUInt64(json, "inode")};
}

bool Status::isRegularFile() const
{
    return S_ISREG(mode);
}

bool Status::isDirectory() const
{
    return S_ISDIR(mode);
}

namespace {

Status fromStatx(const struct statx &s)
{
    Status status;
    status.device = makedev(s.stx_dev_major, s.stx_dev_minor);
    status.inode = s.stx_ino;
    status.mode = s.stx_mode;
    status.owner = s.stx_uid;
    status.links = s.stx_nlink;
    status.size = static_cast<std::int64_t>(s.stx_size);
    status.modifiedSeconds = s.stx_mtime.tv_sec;
    status.modifiedNanoseconds = s.stx_mtime.tv_nsec;
    status.hasBirth = (s.stx_mask & STATX_BTIME) != 0;
    if (status.hasBirth) {
        status.birthSeconds = s.stx_btime.tv_sec;
        status.birthNanoseconds = s.stx_btime.tv_nsec;
    }
    return status;
}

bool statusAt(int dirFd, const char *name, int flags, Status &out)
{
    struct statx s {};
    if (::statx(dirFd, name, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &s) != 0)
        return false;
    out = fromStatx(s);
    return true;
}

constexpr int directoryFlags = O_RDONLY | O_NOFOLLOW | O_DIRECTORY;

// Opens a folder no-follow; a failure throws errno.
FileHandle openFolder(int dirFd, const QByteArray &name)
{
    const int fd = PosixSupport::openAt(dirFd, name, directoryFlags);
    if (fd < 0)
        fail(errno ? errno : EACCES, "open folder");
    return FileHandle(fd);
}

void verify(int fd, const Identity &expected)
{
    Status status;
    if (!statusAt(fd, "", AT_EMPTY_PATH, status))
        fail(EACCES, "fstat");
    if (status.owner != ::getuid() || status.identity() != expected)
        fail(EACCES, "identity check");
}

int rank(const std::string &name)
{
    if (name == "tampod-pair-committed.json" || name == "tampod-pair-recovering.json")
        return 1;
    if (name == "owner.json" || name == "tampod-owner.json" || name == "lock")
        return 2;
    return 0;
}

void removeContents(int fd);

void removeDirectory(const QByteArray &name, int parent, const Identity &expected)
{
    FileHandle folder = openFolder(parent, name);
    verify(folder.fd(), expected);
    removeContents(folder.fd());
    Status again;
    if (!statusAt(parent, name.constData(), AT_SYMLINK_NOFOLLOW, again) || again.identity() != expected)
        fail(EACCES, "identity check");
    if (::unlinkat(parent, name.constData(), AT_REMOVEDIR) != 0)
        fail(EACCES, "rmdir");
}

void removeContents(int fd)
{
    const int duplicate = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0)
        fail(EACCES, "dup");
    DIR *stream = ::fdopendir(duplicate);
    if (!stream) {
        ::close(duplicate);
        fail(EACCES, "fdopendir");
    }
    std::vector<std::string> names;
    try {
        errno = 0;
        while (const dirent *entry = ::readdir(stream)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
            errno = 0;
        }
        if (errno != 0)
            fail(EACCES, "readdir");
    } catch (...) {
        ::closedir(stream);
        throw;
    }
    ::closedir(stream);

    std::stable_sort(names.begin(), names.end(),
                     [](const std::string &a, const std::string &b) { return rank(a) < rank(b); });
    for (const std::string &name : names) {
        const QByteArray entry = QByteArray::fromStdString(name);
        Status status;
        if (!statusAt(fd, entry.constData(), AT_SYMLINK_NOFOLLOW, status) || status.owner != ::getuid())
            fail(EACCES, "entry check");
        if (status.isDirectory()) {
            removeDirectory(entry, fd, status.identity());
        } else if (status.isRegularFile()) {
            if (::unlinkat(fd, entry.constData(), 0) != 0)
                fail(EACCES, "unlink");
        } else {
            fail(EACCES, "entry type");
        }
    }
}

} // namespace

Status Status::of(int fd)
{
    Status status;
    if (!statusAt(fd, "", AT_EMPTY_PATH, status))
        fail(errno, "fstat");
    return status;
}

Status Status::at(int dirFd, const QByteArray &name)
{
    Status status;
    if (!statusAt(dirFd, name.constData(), AT_SYMLINK_NOFOLLOW, status))
        fail(errno, "lstat");
    return status;
}

Status info(const QUrl &url)
{
    const QByteArray path = PosixSupport::nativePath(url);
    Status status;
    if (!statusAt(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, status))
        fail(EACCES, "lstat");
    if (status.owner != ::getuid())
        fail(EACCES, "owner check");
    return status;
}

Identity directoryIdentity(const QUrl &url)
{
    const QByteArray path = PosixSupport::nativePath(url);
    // Through a descriptor, so the folder checked is the one whose identity is returned even if
    // the path is swapped meanwhile; a link fails to open. O_PATH: the read and search bits do
    // not matter here.
    const int fd = PosixSupport::openAt(AT_FDCWD, path, O_PATH | O_NOFOLLOW | O_DIRECTORY);
    if (fd < 0)
        fail(EACCES, "open folder");
    FileHandle folder(fd);
    Status status;
    if (!statusAt(folder.fd(), "", AT_EMPTY_PATH, status) || status.owner != ::getuid()
        || (status.mode & 022) != 0 || !status.isDirectory())
        fail(EACCES, "folder check");
    return status.identity();
}

void removeTree(const QUrl &url, const Identity &identity)
{
    const QByteArray path = PosixSupport::nativePath(url);
    FileHandle folder = openFolder(AT_FDCWD, path);
    verify(folder.fd(), identity);
    removeContents(folder.fd());
    if (directoryIdentity(url) != identity)
        fail(EACCES, "identity check");
    if (::rmdir(path.constData()) != 0)
        fail(EACCES, "rmdir");
}

QByteArray readRecordBytes(const QUrl &url)
{
    const QByteArray path = PosixSupport::nativePath(url);
    // O_NONBLOCK: a FIFO planted under the record's name must not hang the reader; it is
    // refused below as not a regular file.
    const int fd = PosixSupport::openAt(AT_FDCWD, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        fail(EACCES, "open record");
    FileHandle file(fd);
    Status status;
    if (!statusAt(file.fd(), "", AT_EMPTY_PATH, status) || status.owner != ::getuid()
        || !status.isRegularFile() || status.links != 1 || status.size < 1
        || status.size > maximumRecordBytes)
        fail(EINVAL, "record check");
    // One more byte than allowed: a file that grew after the check is refused, not cut short.
    const QByteArray bytes = file.readUpTo(maximumRecordBytes + 1);
    if (bytes.size() > maximumRecordBytes)
        fail(EINVAL, "record size");
    return bytes;
}

} // namespace tampod::TemporaryAudioSafety
