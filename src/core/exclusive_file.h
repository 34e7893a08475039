#pragma once

#include "core/file_handle.h"

#include <QString>

#include <sys/types.h>

namespace tampod {

// A new file made with O_CREAT|O_EXCL|O_NOFOLLOW: it never replaces or follows anything at
// its path. remove() deletes it only while the path still names the same file, so cleaning
// up after a failure never touches a file that took its place.
class ExclusiveFile {
public:
    ExclusiveFile() = default;
    // accessFlags: O_WRONLY or O_RDWR. Throws SystemError (EEXIST when something is there).
    static ExclusiveFile create(const QString &path, int accessFlags);

    FileHandle &handle() noexcept { return handle_; }
    void remove() noexcept;

private:
    QString path_;
    FileHandle handle_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace tampod
