#include "core/lock_file.h"

#include "core/file_system_call.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tampod {

std::optional<LockFile> LockFile::take(const QString &path)
{
    FileHandle file = FileHandle::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    const struct stat status = file.status();
    if (!S_ISREG(status.st_mode) || status.st_uid != ::getuid())
        throw SystemError(EACCES, QStringLiteral("lock check"));
    if (FileSystemCall::attempt("flock", [&] { return ::flock(file.fd(), LOCK_EX | LOCK_NB); }) == 0)
        return LockFile(std::move(file));
    if (errno == EWOULDBLOCK)
        return std::nullopt;
    throw SystemError(errno, QStringLiteral("flock"));
}

} // namespace tampod
