#include "views/kit/refresh_scheduler.h"

#include <QList>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace tampod {

namespace {

// The schedulers with a refresh queued. thread: main
QList<QPointer<RefreshScheduler>> &scheduled()
{
    static QList<QPointer<RefreshScheduler>> list;
    return list;
}

} // namespace

RefreshScheduler::RefreshScheduler(std::function<void()> refresh, QObject *parent)
    : QObject(parent)
    , refresh_(std::move(refresh))
{
}

RefreshScheduler::~RefreshScheduler()
{
    scheduled().removeAll(this);
}

void RefreshScheduler::schedule()
{
    if (queued_)
        return;
    queued_ = true;
    scheduled().append(this);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (queued_)
                refreshNow();
        },
        Qt::QueuedConnection);
}

void RefreshScheduler::refreshNow()
{
    if (std::exchange(queued_, false))
        scheduled().removeAll(this);
    refresh_();
}

void RefreshScheduler::refreshAllScheduled()
{
    // A refresh may queue others; each runs once here, and what it queues runs as usual.
    const QList<QPointer<RefreshScheduler>> queued = std::exchange(scheduled(), {});
    for (const QPointer<RefreshScheduler> &scheduler : queued) {
        if (scheduler && scheduler->queued_)
            scheduler->refreshNow();
    }
}

} // namespace tampod
