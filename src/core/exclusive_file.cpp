#include "core/exclusive_file.h"

#include "core/file_system_call.h"


#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod {

ExclusiveFile ExclusiveFile::create(const QString &path, int accessFlags)
{
    ExclusiveFile file;
    file.handle_ = FileHandle::open(path, accessFlags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    const struct stat status = file.handle_.status();
    file.path_ = path;
    file.device_ = status.st_dev;
    file.inode_ = status.st_ino;
    return file;
}

void ExclusiveFile::remove() noexcept
{
    handle_ = FileHandle();
    if (path_.isEmpty())
        return;
    struct stat status {};
    const QByteArray native = encodedPath(path_);
    if (::lstat(native.constData(), &status) == 0 && status.st_dev == device_
        && status.st_ino == inode_)
        FileSystemCall::attempt("unlink", [&] { return ::unlink(native.constData()); });
    path_.clear();
}

} // namespace tampod
