#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <utility>

namespace tampod {

bool isMainThread();

// Queues fn on the main thread's event loop. Never blocks the caller.
template <typename Fn>
void postToMainThread(Fn &&fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Fn>(fn), Qt::QueuedConnection);
}

// Queues fn on the main thread; it runs only while guard is still alive.
template <typename Fn>
void postToMainThread(QObject *guard, Fn &&fn)
{
    QPointer<QObject> weak(guard);
    postToMainThread([weak, fn = std::forward<Fn>(fn)]() mutable {
        if (weak)
            fn();
    });
}

// Resumes a suspended main-thread coroutine from the event loop (never inline on a worker).
void resumeOnMainThread(std::coroutine_handle<> handle);

// Awaited on the main thread, suspends until the event loop's next turn: a queue never hands
// a result over inside the call that asked for it.
struct NextMainThreadTurn {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const { resumeOnMainThread(handle); }
    void await_resume() const noexcept {}
};

// co_await sleepFor(duration): suspends a main-thread coroutine on the steady clock.
class SleepFor {
public:
    explicit SleepFor(std::chrono::milliseconds duration) : duration_(duration) {}
    bool await_ready() const noexcept { return duration_.count() <= 0; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}

private:
    std::chrono::milliseconds duration_;
};

inline SleepFor sleepFor(std::chrono::milliseconds duration)
{
    return SleepFor(duration);
}

} // namespace tampod
