#include "files/store/temporary_audio_lock.h"

#include "files/internal/posix_support.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod {

TemporaryAudioLock::TemporaryAudioLock(const QUrl &url, bool create)
{
    const QByteArray path = PosixSupport::nativePath(url);
    int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
    if (create)
        flags |= O_CREAT | O_EXCL;
    const int fd = PosixSupport::openAt(AT_FDCWD, path, flags, 0600);
    if (fd < 0)
        PosixSupport::fail(EACCES, "open lock");
    try {
        struct stat status {};
        if (::fstat(fd, &status) != 0)
            PosixSupport::fail(errno ? errno : EACCES, "fstat lock");
        if (!S_ISREG(status.st_mode) || status.st_uid != ::getuid() || status.st_nlink != 1)
            PosixSupport::fail(EACCES, "lock check");
        // The umask may have narrowed the mode of a new file; the lock is 0600 exactly.
        if (create && (status.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)
            PosixSupport::fail(errno, "fchmod lock");
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0)
            PosixSupport::fail(errno ? errno : EACCES, "flock");
        identity_ = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    } catch (...) {
        ::close(fd);
        throw;
    }
    descriptor_ = fd;
}

TemporaryAudioLock::~TemporaryAudioLock()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

} // namespace tampod
