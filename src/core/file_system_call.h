#pragma once

#include "core/error.h"

#include <QString>

#include <cerrno>
#include <sys/types.h>

namespace tampod::FileSystemCall {

// Tests watch every file-system call the file layer and the files module make, just before it
// is made: the crash harness ends its child process at the n-th call to prove that no crash
// point leaves half a result. Nothing else sets an observer.
using Observer = void (*)(const char *operation);
void setObserver(Observer observer) noexcept;
void notify(const char *operation) noexcept;

// Runs a POSIX call that returns -1 with errno on failure, retrying while it is interrupted,
// and returns its result; errno is left as the call set it. The observer sees it first.
template <typename Call>
auto attempt(const char *operation, Call call)
{
    notify(operation);
    for (;;) {
        const auto result = call();
        if (!(result == -1 && errno == EINTR))
            return result;
    }
}

// The same, throwing SystemError (errno, operation) on failure.
template <typename Call>
auto run(const char *operation, Call call)
{
    const auto result = attempt(operation, call);
    if (result == -1)
        throw SystemError(errno ? errno : EIO, QString::fromLatin1(operation));
    return result;
}

// pread(2) retried while it is interrupted: the bytes read, 0 at the end of the file, -1 with
// errno on an error. Every read of an outside file's bytes goes through here.
ssize_t readAt(int fd, void *buffer, size_t count, off_t offset) noexcept;

// Tests make a bad stretch of a disk: from now on every readAt of the file fd names (any
// descriptor of it) that overlaps [from, to) fails with EIO; an empty range ends that. Nothing
// else calls it.
void failReads(int fd, qint64 from, qint64 to) noexcept;

} // namespace tampod::FileSystemCall
