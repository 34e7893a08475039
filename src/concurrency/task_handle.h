#pragma once

#include "concurrency/cancellation.h"

#include <QCoro/QCoroTask>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace tampod {

// A main-thread task that later jobs can await "whatever its outcome", with a cancellation
// flag that the task and the workers it calls can see. Copies share one task; an empty
// handle counts as finished.
class TaskHandle {
public:
    using Body = std::function<QCoro::Task<>(CancellationToken)>;

    TaskHandle() = default;

    // Starts body at once on the main thread. With a parent token, cancelling the parent
    // cancels this task too.
    static TaskHandle start(Body body, const CancellationToken &parent = {});

    void cancel() const;
    bool isCancelled() const;
    bool isFinished() const;
    bool isEmpty() const { return !state_; }
    // The error the body ended with, if any (Cancelled included).
    std::exception_ptr error() const;

    class Finished {
    public:
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> handle);
        void await_resume() const noexcept {}

    private:
        friend class TaskHandle;
        explicit Finished(std::shared_ptr<struct TaskHandleState> state) : state_(std::move(state)) {}
        std::shared_ptr<struct TaskHandleState> state_;
    };

    // co_await handle.finished(): completes when the task has ended, however it ended.
    Finished finished() const { return Finished(state_); }

private:
    explicit TaskHandle(std::shared_ptr<struct TaskHandleState> state) : state_(std::move(state)) {}
    std::shared_ptr<struct TaskHandleState> state_;
};

// thread: main only.
struct TaskHandleState {
    explicit TaskHandleState(const CancellationToken &parent) : source(parent) {}
    CancellationSource source;
    bool finished = false;
    std::exception_ptr error;
    std::vector<std::coroutine_handle<>> waiters;
    void finish();
};

} // namespace tampod
