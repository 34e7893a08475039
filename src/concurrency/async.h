#pragma once

#include "concurrency/main_thread.h"

#include <atomic>
#include <condition_variable>
#include <coroutine>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace tampod {

namespace detail {

template <typename T>
struct AsyncValue {
    std::optional<T> value;
    T take() { return std::move(*value); }
};

template <>
struct AsyncValue<void> {
    void take() {}
};

// The result of work started on another thread. Completed once, from any thread; awaited by
// one main-thread coroutine, which is resumed from the event loop.
template <typename T>
struct AsyncState {
    std::mutex mutex;
    std::condition_variable finished; // for blocking waits outside the event loop
    bool done = false;                 // guarded by mutex
    AsyncValue<T> result;              // written before done, read after
    std::exception_ptr error;
    std::coroutine_handle<> waiter;    // guarded by mutex

    template <typename Fn>
    void run(Fn &fn) noexcept
    {
        try {
            if constexpr (std::is_void_v<T>)
                fn();
            else
                result.value.emplace(fn());
        } catch (...) {
            error = std::current_exception();
        }
        std::coroutine_handle<> toResume;
        {
            std::lock_guard lock(mutex);
            done = true;
            toResume = std::exchange(waiter, {});
        }
        finished.notify_all();
        if (toResume)
            resumeOnMainThread(toResume);
    }

    T get()
    {
        if (error)
            std::rethrow_exception(error);
        return result.take();
    }
};

} // namespace detail

// What an actor operation or a detached job returns. co_await it from a main-thread
// coroutine: the coroutine resumes on the main thread with the value, or with the very error
// the job threw (Cancelled included). wait() blocks instead, for code off the event loop.
template <typename T>
class [[nodiscard]] Async {
public:
    using State = detail::AsyncState<T>;
    explicit Async(std::shared_ptr<State> state) : state_(std::move(state)) {}

    bool await_ready() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->done;
    }
    bool await_suspend(std::coroutine_handle<> handle)
    {
        std::lock_guard lock(state_->mutex);
        if (state_->done)
            return false;
        state_->waiter = handle;
        return true;
    }
    T await_resume() { return state_->get(); }

    T wait()
    {
        std::unique_lock lock(state_->mutex);
        state_->finished.wait(lock, [this] { return state_->done; });
        lock.unlock();
        return state_->get();
    }

private:
    std::shared_ptr<State> state_;
};

// Awaits an answer that arrives through a callback, such as a panel's completion: start is
// called at once with a function that delivers the value. Only the first delivery counts.
template <typename T, typename Start>
Async<T> awaitCallback(Start start)
{
    auto state = std::make_shared<detail::AsyncState<T>>();
    auto delivered = std::make_shared<std::atomic<bool>>(false);
    start([state, delivered](T value) {
        if (delivered->exchange(true))
            return;
        auto take = [&value] { return std::move(value); };
        state->run(take);
    });
    return Async<T>(state);
}

} // namespace tampod
