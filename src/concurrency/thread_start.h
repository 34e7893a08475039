#pragma once

#include <thread>
#include <utility>

namespace tampod {

// The one place the program starts a thread of its own (pool work goes through detached.h), so
// every thread can be found here and the layering check can refuse any other start. The thread
// is a std::jthread: destroying or reassigning it asks a body that takes a std::stop_token to
// stop, then joins, so no thread outlives its owner. Threads stay unnamed: naming one needs
// POSIX calls, which this module does not make.
template <typename Body>
[[nodiscard]] std::jthread startThread(Body &&body)
{
    return std::jthread(std::forward<Body>(body));
}

} // namespace tampod
