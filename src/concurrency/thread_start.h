#pragma once

#include <atomic>
#include <functional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>

namespace tampod {

namespace threadstart {
inline std::atomic<int> running{0};
} // namespace threadstart

// The one place the program starts a thread of its own (pool work goes through detached.h), so
// every thread can be found here and the layering check can refuse any other start. The thread
// is a std::jthread: destroying or reassigning it asks a body that takes a std::stop_token to
// stop, then joins, so no thread outlives its owner. Threads stay unnamed: naming one needs
// POSIX calls, which this module does not make.
template <typename Body>
[[nodiscard]] std::jthread startThread(Body &&body)
{
    // Counted from before the start to the body's end, so that a count taken after the owner
    // joined is exact (the system may list a joined thread a moment longer).
    struct Ending {
        ~Ending() { threadstart::running.fetch_sub(1); }
    };
    threadstart::running.fetch_add(1);
    try {
        return std::jthread([body = std::decay_t<Body>(std::forward<Body>(body))](std::stop_token stop) mutable {
            const Ending ending;
            if constexpr (std::is_invocable_v<std::decay_t<Body>, std::stop_token>)
                std::invoke(std::move(body), std::move(stop));
            else
                std::invoke(std::move(body));
        });
    } catch (...) {
        threadstart::running.fetch_sub(1);
        throw;
    }
}

// The threads startThread started whose bodies have not ended.
inline int runningThreads()
{
    return threadstart::running.load();
}

} // namespace tampod
