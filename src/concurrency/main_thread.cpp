#include "concurrency/main_thread.h"

namespace tampod {

bool isMainThread()
{
    const auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void resumeOnMainThread(std::coroutine_handle<> handle)
{
    postToMainThread([handle] { handle.resume(); });
}

void SleepFor::await_suspend(std::coroutine_handle<> handle) const
{
    // QTimer runs on the monotonic clock; PreciseTimer keeps millisecond accuracy.
    QTimer::singleShot(duration_, Qt::PreciseTimer, QCoreApplication::instance(),
                       [handle] { handle.resume(); });
}

} // namespace tampod
