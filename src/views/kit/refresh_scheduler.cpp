#include "views/kit/refresh_scheduler.h"

#include <QMetaObject>

namespace tampod {

RefreshScheduler::RefreshScheduler(std::function<void()> refresh, QObject *parent)
    : QObject(parent)
    , refresh_(std::move(refresh))
{
}

void RefreshScheduler::schedule()
{
    if (queued_)
        return;
    queued_ = true;
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
    queued_ = false;
    refresh_();
}

} // namespace tampod
