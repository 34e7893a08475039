#pragma once

#include "concurrency/async.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tampod {

// The executor of an actor: one job at a time, in arrival order, on its own worker thread.
// An actor declares its executor as its last member, so that the destructor, which runs
// every job already queued and then joins the worker, finishes before the rest of the actor
// goes away.
class SerialExecutor {
public:
    explicit SerialExecutor(QString name);
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    template <typename Fn>
    auto submit(Fn fn) -> Async<std::invoke_result_t<Fn &>>
    {
        using R = std::invoke_result_t<Fn &>;
        auto state = std::make_shared<detail::AsyncState<R>>();
        enqueue([state, fn = std::move(fn)]() mutable { state->run(fn); });
        return Async<R>(state);
    }

    // True on this executor's worker thread (for thread-role assertions).
    bool isCurrent() const noexcept { return std::this_thread::get_id() == workerId_; }
    const QString &name() const noexcept { return name_; }

private:
    void enqueue(std::function<void()> job);
    void work();

    QString name_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_; // thread: guarded by mutex_
    bool stopping_ = false;                  // thread: guarded by mutex_
    std::jthread worker_;
    std::thread::id workerId_;               // thread: written once before any job runs
};

} // namespace tampod
