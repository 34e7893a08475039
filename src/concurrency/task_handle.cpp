#include "concurrency/task_handle.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"

namespace tampod {

void TaskHandleState::finish()
{
    finished = true;
    // Waiters resume from the event loop, never inside the finishing task's frame.
    for (auto handle : std::exchange(waiters, {}))
        resumeOnMainThread(handle);
}

namespace {

QCoro::Task<> runBody(std::shared_ptr<TaskHandleState> state, TaskHandle::Body body)
{
    try {
        co_await body(state->source.token());
    } catch (...) {
        state->error = std::current_exception();
    }
    state->finish();
}

} // namespace

TaskHandle TaskHandle::start(Body body, const CancellationToken &parent)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    auto state = std::make_shared<TaskHandleState>(parent);
    // The returned QCoro task may be dropped: QCoro frees a running frame when it ends.
    runBody(state, std::move(body));
    return TaskHandle(state);
}

void TaskHandle::cancel() const
{
    if (state_)
        state_->source.cancel();
}

bool TaskHandle::isCancelled() const
{
    return state_ && state_->source.isCancelled();
}

bool TaskHandle::isFinished() const
{
    return !state_ || state_->finished;
}

std::exception_ptr TaskHandle::error() const
{
    return state_ ? state_->error : nullptr;
}

bool TaskHandle::Finished::await_ready() const noexcept
{
    return !state_ || state_->finished;
}

void TaskHandle::Finished::await_suspend(std::coroutine_handle<> handle)
{
    state_->waiters.push_back(handle);
}

} // namespace tampod
