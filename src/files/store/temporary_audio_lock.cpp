#include "files/store/temporary_audio_lock.h"

#include "core/file_system_call.h"
#include "files/internal/file_location.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod {

TemporaryAudioLock::TemporaryAudioLock(const QUrl &url, bool create)
{
    const QString path = FileLocation::localPath(url);
    int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
    if (create)
        flags |= O_CREAT | O_EXCL;
    try {
        file_ = FileHandle::open(path, flags, 0600);
    } catch (const SystemError &) {
        throw SystemError(EACCES, QStringLiteral("open lock"));
    }
    const struct stat status = file_.status();
    if (!S_ISREG(status.st_mode) || status.st_uid != ::getuid() || status.st_nlink != 1)
        throw SystemError(EACCES, QStringLiteral("lock check"));
    // The umask may have narrowed the mode of a new file; the lock is 0600 exactly.
    if (create && (status.st_mode & 07777) != 0600)
        FileSystemCall::run("chmod", [&] { return ::fchmod(file_.fd(), 0600); });
    if (FileSystemCall::attempt("flock", [&] { return ::flock(file_.fd(), LOCK_EX | LOCK_NB); }) != 0)
        throw SystemError(errno ? errno : EACCES, QStringLiteral("flock"));
    identity_ = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

} // namespace tampod
