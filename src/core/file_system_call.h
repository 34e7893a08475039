#pragma once

#include "core/error.h"

#include <QString>

#include <cerrno>

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

} // namespace tampod::FileSystemCall
