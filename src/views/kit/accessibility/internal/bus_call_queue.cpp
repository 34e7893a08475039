#include "views/kit/accessibility/internal/bus_call_queue.h"

#include "concurrency/thread_role.h"

#include <QMetaObject>

namespace tampod {

namespace {

// The calls served in one turn of the event loop take about this long, at least one call.
constexpr qint64 turnNanoseconds = 4'000'000;

} // namespace

BusCallQueue::BusCallQueue(Serve serve, QObject *parent) : QObject(parent), serve_(std::move(serve))
{
    TAMPOD_ASSERT_MAIN_THREAD();
    clock_.start();
}

bool BusCallQueue::take(const QDBusMessage &message, const QDBusConnection &connection)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    std::deque<Call> &calls = callers_[message.service()];
    if (int(calls.size()) >= callerBound || waiting_ >= totalBound) {
        if (calls.empty())
            callers_.remove(message.service());
        return false;
    }
    if (calls.empty())
        turns_.append(message.service());
    calls.push_back({message, connection});
    ++waiting_;
    if (!scheduled_) {
        scheduled_ = true;
        // Queued behind the calls the bus library has already handed over.
        QMetaObject::invokeMethod(this, &BusCallQueue::serveSome, Qt::QueuedConnection);
    }
    return true;
}

bool BusCallQueue::mayIntrospect(const QString &caller)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const qint64 second = clock_.elapsed() / 1000;
    if (introspections_.size() > 256) // callers of seconds past are forgotten
        introspections_.removeIf([second](const auto &entry) { return entry.value().second != second; });
    Introspections &asked = introspections_[caller];
    if (asked.second != second)
        asked = {second, 0};
    return ++asked.count <= introspectionsPerSecond;
}

void BusCallQueue::serveSome()
{
    scheduled_ = false;
    QElapsedTimer turn;
    turn.start();
    do {
        const QString caller = turns_.takeFirst();
        std::deque<Call> &calls = callers_[caller];
        Call call = std::move(calls.front());
        calls.pop_front();
        --waiting_;
        if (calls.empty())
            callers_.remove(caller);
        else
            turns_.append(caller);
        serve_(call.message, call.connection);
    } while (!turns_.isEmpty() && turn.nsecsElapsed() < turnNanoseconds);
    if (!turns_.isEmpty()) {
        scheduled_ = true;
        QMetaObject::invokeMethod(this, &BusCallQueue::serveSome, Qt::QueuedConnection);
    }
}

} // namespace tampod
