#include "files/internal/file_status.h"

#include "core/error.h"
#include "core/file_handle.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

namespace tampod {

namespace {

// FS_IOC_GETVERSION of <linux/fs.h>, a header only platform includes.
constexpr unsigned long getVersionRequest = _IOR('v', 1, long);

int systemStatx(int dirFd, const char *name, int flags, unsigned mask, struct statx *out)
{
    return ::statx(dirFd, name, flags, mask, out);
}

std::uint32_t ioctlGeneration(int fd)
{
    int value = 0;
    return ::ioctl(fd, getVersionRequest, &value) == 0 ? static_cast<std::uint32_t>(value) : 0;
}

std::uint32_t systemGeneration(int fd)
{
    int value = 0;
    if (::ioctl(fd, getVersionRequest, &value) == 0)
        return static_cast<std::uint32_t>(value);
    if (errno != EBADF)
        return 0;
    // An O_PATH descriptor takes no ioctl: open the file it refers to (not its path) again,
    // read-only and never blocking, and only a plain file or folder.
    struct stat held {};
    if (::fstat(fd, &held) != 0 || !(S_ISREG(held.st_mode) || S_ISDIR(held.st_mode)))
        return 0;
    try {
        FileHandle again = FileHandle::open(QStringLiteral("/proc/self/fd/%1").arg(fd),
                                            O_RDONLY | O_NONBLOCK | O_NOCTTY);
        const struct stat opened = again.status();
        if (opened.st_dev != held.st_dev || opened.st_ino != held.st_ino)
            return 0;
        return ioctlGeneration(again.fd());
    } catch (const SystemError &) {
        return 0;
    }
}

const FileStatusSource systemSource{systemStatx, systemGeneration};
std::atomic<const FileStatusSource *> current{&systemSource};

const FileStatusSource &source()
{
    return *current.load(std::memory_order_acquire);
}

constexpr unsigned wanted = STATX_BASIC_STATS | STATX_BTIME;

FileStatus fromStatx(const struct statx &s)
{
    FileStatus status;
    status.device = makedev(s.stx_dev_major, s.stx_dev_minor);
    status.inode = s.stx_ino;
    status.mode = s.stx_mode;
    status.owner = s.stx_uid;
    status.links = s.stx_nlink;
    status.size = static_cast<std::int64_t>(s.stx_size);
    status.modifiedSeconds = s.stx_mtime.tv_sec;
    status.modifiedNanoseconds = s.stx_mtime.tv_nsec;
    if ((s.stx_mask & STATX_BTIME) && s.stx_btime.tv_sec != 0) {
        status.birthSeconds = s.stx_btime.tv_sec;
        status.birthNanoseconds = s.stx_btime.tv_nsec;
    }
    return status;
}

bool hasBirth(const FileStatus &status)
{
    return status.birthSeconds != 0;
}

// The status of dirFd/name without following a final link. Without a birth time, the generation
// is read through a descriptor of the entry itself (open), whose status is the answer.
std::optional<FileStatus> statusAt(int dirFd, const char *name, const std::function<FileHandle()> &open)
{
    struct statx s {};
    if (source().statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, wanted, &s) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw SystemError(errno, QStringLiteral("stat"));
    }
    const FileStatus status = fromStatx(s);
    if (hasBirth(status) || !(status.isRegularFile() || status.isDirectory()))
        return status;
    try {
        return FileStatus::of(open().fd());
    } catch (const SystemError &error) {
        if (error.errnoValue() == ENOENT)
            return std::nullopt;
        throw;
    }
}

} // namespace

const FileStatusSource &FileStatusSource::system()
{
    return systemSource;
}

void FileStatusSource::use(const FileStatusSource *source) noexcept
{
    current.store(source ? source : &systemSource, std::memory_order_release);
}

FileStatus FileStatus::of(int fd)
{
    struct statx s {};
    if (source().statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, wanted, &s) != 0)
        throw SystemError(errno, QStringLiteral("stat"));
    FileStatus status = fromStatx(s);
    if (!hasBirth(status) && (status.isRegularFile() || status.isDirectory()))
        status.generation = source().generation(fd);
    return status;
}

std::optional<FileStatus> FileStatus::at(const Folder &folder, const QByteArray &name)
{
    return statusAt(folder.fd(), name.constData(),
                    [&] { return folder.openFile(name, O_PATH | O_NOFOLLOW); });
}

std::optional<FileStatus> FileStatus::ofPath(const QString &path)
{
    const QByteArray native = encodedPath(path);
    return statusAt(AT_FDCWD, native.constData(),
                    [&] { return FileHandle::open(path, O_PATH | O_NOFOLLOW); });
}

} // namespace tampod
