#include "core/lock_file.h"

#include "core/file_system_call.h"
#include "core/folder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tampod {

namespace {

constexpr int openFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

} // namespace

std::optional<LockFile> LockFile::take(const QString &path)
{
    return lock(FileHandle::open(path, openFlags, 0600));
}

std::optional<LockFile> LockFile::take(const Folder &folder, const QByteArray &name)
{
    return lock(folder.openFile(name, openFlags, 0600));
}

std::optional<LockFile> LockFile::lock(FileHandle file)
{
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
