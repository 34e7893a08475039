#pragma once

// Crash tests: a child process that ends, as a crash would, just before its n-th watched
// file-system call (every call of the core file layer and of the modules that use its
// FileSystemCall path).
#include "core/file_system_call.h"
#include "support/file_fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

namespace tampod::test {

inline int &callsBeforeCrash()
{
    static int left = 0; // in a child only
    return left;
}

// Runs steps in a child; after it calls arm(), the child dies (_exit) just before its n-th
// watched call. Returns whether it died there; false when the steps ended first.
inline bool diesAtCall(int n, const std::function<void(const std::function<void()> &arm)> &steps)
{
    constexpr int crashed = 77;
    const int status = inChild([&] {
        steps([n] {
            callsBeforeCrash() = n;
            FileSystemCall::setObserver([](const char *) {
                if (--callsBeforeCrash() == 0)
                    ::_exit(crashed);
            });
        });
        return 0;
    });
    EXPECT_TRUE(status == 0 || status == crashed) << "child status " << status;
    return status == crashed;
}

} // namespace tampod::test
