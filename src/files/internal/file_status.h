#pragma once

#include "core/folder.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

namespace tampod {

// Where the files module gets statx answers and inode generations. Tests put in a source that
// plays a file system without birth times; everything else uses the system's.
struct FileStatusSource {
    int (*statx)(int dirFd, const char *name, int flags, unsigned mask, struct statx *out);
    // The inode generation of an open file (O_PATH descriptors too); 0 when the file system
    // keeps none.
    std::uint32_t (*generation)(int fd);

    static const FileStatusSource &system();
    // nullptr puts the system's back. Not for use while other threads read statuses.
    static void use(const FileStatusSource *source) noexcept;
};

// What the files module reads of one file-system entry.
struct FileStatus {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    std::uint64_t links = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    // What tells this file from a later one under a reused inode number: the birth time where
    // the file system keeps one (generation 0), otherwise the inode generation (0 when it keeps
    // neither; the birth fields are then 0).
    std::int64_t birthSeconds = 0;
    std::int64_t birthNanoseconds = 0;
    std::uint32_t generation = 0;

    bool isRegularFile() const { return S_ISREG(mode); }
    bool isDirectory() const { return S_ISDIR(mode); }

    // Of an open descriptor; failures throw SystemError with errno.
    static FileStatus of(int fd);
    // Of an entry or a path, a final link described and never followed; nullopt when nothing
    // is there, other failures throw.
    static std::optional<FileStatus> at(const Folder &folder, const QByteArray &name);
    static std::optional<FileStatus> ofPath(const QString &path);
};

} // namespace tampod
