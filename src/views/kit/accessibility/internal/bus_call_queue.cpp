#include "views/kit/accessibility/internal/bus_call_queue.h"

#include "concurrency/thread_role.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <optional>

namespace tampod {

namespace {

const QString tooMany = QStringLiteral("Too many calls at once: ask again later.");
const QString quitting = QStringLiteral("The program is quitting.");

} // namespace

BusCallQueue::BusCallQueue(Serve serve, QObject *parent) : QObject(parent), serve_(std::move(serve))
{
    TAMPOD_ASSERT_MAIN_THREAD();
    clock_.start();
}

BusCallQueue::~BusCallQueue()
{
    close();
}

void BusCallQueue::refuse(const Call &call, QDBusError::ErrorType error, const QString &why)
{
    call.connection.send(call.message.createErrorReply(error, why));
}

bool BusCallQueue::take(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QString caller = message.service();
    std::optional<Call> evicted;
    {
        QMutexLocker lock(&mutex_);
        if (closed_) {
            lock.unlock();
            refuse({message, connection}, QDBusError::ServiceUnknown, quitting);
            return false;
        }
        auto found = callers_.find(caller);
        const qsizetype own = found == callers_.end() ? 0 : qsizetype(found->size());
        if (own >= callerBound) {
            lock.unlock();
            refuse({message, connection}, QDBusError::LimitsExceeded, tooMany);
            return false;
        }
        if (waiting_ >= totalBound) {
            const QString busiest = busiestCallerAbove(own + 1);
            if (busiest.isEmpty()) {
                lock.unlock();
                refuse({message, connection}, QDBusError::LimitsExceeded, tooMany);
                return false;
            }
            std::deque<Call> &theirs = callers_[busiest];
            evicted = std::move(theirs.back());
            theirs.pop_back();
            --waiting_;
        }
        if (own == 0) {
            turns_.append(caller);
            found = callers_.insert(caller, {});
        }
        found->push_back({message, connection});
        ++waiting_;
        if (!scheduled_) {
            scheduled_ = true;
            // Queued behind what the main thread has to do already.
            QMetaObject::invokeMethod(this, &BusCallQueue::serveSome, Qt::QueuedConnection);
        }
    }
    if (evicted)
        refuse(*evicted, QDBusError::LimitsExceeded, tooMany);
    return true;
}

QString BusCallQueue::busiestCallerAbove(qsizetype waitingOfAsking) const
{
    QString busiest;
    qsizetype most = waitingOfAsking;
    for (auto it = callers_.cbegin(); it != callers_.cend(); ++it) {
        if (qsizetype(it->size()) > most) {
            most = qsizetype(it->size());
            busiest = it.key();
        }
    }
    return busiest;
}

bool BusCallQueue::mayIntrospect(const QString &caller)
{
    QMutexLocker lock(&mutex_);
    const qint64 second = clock_.elapsed() / 1000;
    if (introspections_.size() > 256) // callers of seconds past are forgotten
        introspections_.removeIf([second](const auto &entry) { return entry.value().second != second; });
    Introspections &asked = introspections_[caller];
    if (asked.second != second)
        asked = {second, 0};
    return ++asked.count <= introspectionsPerSecond;
}

int BusCallQueue::waiting() const
{
    QMutexLocker lock(&mutex_);
    return waiting_;
}

void BusCallQueue::close()
{
    QHash<QString, std::deque<Call>> answered;
    {
        QMutexLocker lock(&mutex_);
        closed_ = true;
        answered.swap(callers_);
        turns_.clear();
        waiting_ = 0;
    }
    for (const std::deque<Call> &calls : std::as_const(answered))
        for (const Call &call : calls)
            refuse(call, QDBusError::ServiceUnknown, quitting);
}

void BusCallQueue::serveSome()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    QElapsedTimer turn;
    turn.start();
    for (int served = 0;; ++served) {
        std::optional<Call> call;
        {
            QMutexLocker lock(&mutex_);
            if (turns_.isEmpty() || (served > 0 && turn.nsecsElapsed() >= turnNanoseconds)) {
                scheduled_ = !turns_.isEmpty();
                if (scheduled_)
                    QMetaObject::invokeMethod(this, &BusCallQueue::serveSome, Qt::QueuedConnection);
                return;
            }
            const QString caller = turns_.takeFirst();
            std::deque<Call> &calls = callers_[caller];
            call = std::move(calls.front());
            calls.pop_front();
            --waiting_;
            if (calls.empty())
                callers_.remove(caller);
            else
                turns_.append(caller);
        }
        serve_(call->message, call->connection);
    }
}

} // namespace tampod
