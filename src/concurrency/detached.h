#pragma once

#include "concurrency/async.h"

#include <functional>

namespace tampod {

// Priorities of detached work: waveform reads and the launch cleanup run at utility, tempo
// analysis and section rendering at user-initiated.
enum class TaskPriority { Utility, UserInitiated };

namespace detail {
void startDetached(TaskPriority priority, std::function<void()> job);
}

// Runs fn on a shared pool thread of the given priority; co_await the result on the main thread.
template <typename Fn>
auto runDetached(TaskPriority priority, Fn fn) -> Async<std::invoke_result_t<Fn &>>
{
    using R = std::invoke_result_t<Fn &>;
    auto state = std::make_shared<detail::AsyncState<R>>();
    detail::startDetached(priority, [state, fn = std::move(fn)]() mutable { state->run(fn); });
    return Async<R>(state);
}

} // namespace tampod
