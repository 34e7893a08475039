#include "concurrency/detached.h"

#include <QThread>
#include <QThreadPool>

namespace tampod::detail {

namespace {

QThreadPool &pool(TaskPriority priority)
{
    static QThreadPool *utility = [] {
        auto *p = new QThreadPool;
        p->setThreadPriority(QThread::LowPriority);
        p->setMaxThreadCount(std::max(2, QThread::idealThreadCount() / 2));
        return p;
    }();
    static QThreadPool *userInitiated = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
        return p;
    }();
    return priority == TaskPriority::Utility ? *utility : *userInitiated;
}

} // namespace

void startDetached(TaskPriority priority, std::function<void()> job)
{
    pool(priority).start(std::move(job));
}

} // namespace tampod::detail
