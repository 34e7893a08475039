#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

namespace tampod {

// Calls from other programs, each caller's in the order it sent them, served one call per
// caller in turn, a few milliseconds of them per turn of the main thread's event loop. Calls
// are taken where the bus library reads them, in its own thread, which reads no more until
// those it read are taken or refused: a caller sending thousands a second fills its own few
// places and has the rest refused at once, and nothing it sends waits in memory unseen. A
// caller waits behind its own calls and one call of each other caller. When all callers
// together fill the queue, the caller with the most calls waiting gives up its newest, so
// that many flooding callers never keep out one that asks little. Closed, the queue answers
// every call waiting and every later one that the program is quitting.
// thread: take, mayIntrospect and waiting from any thread; the rest on the main thread, where
// the queue lives and serves.
class BusCallQueue final : public QObject {
public:
    using Serve = std::function<void(QDBusMessage &, const QDBusConnection &)>;

    // Calls one caller may have waiting, and all callers together.
    static constexpr int callerBound = 32;
    static constexpr int totalBound = 1024;
    // Introspections one caller may ask for in a second: each is costly, and no reader asks
    // for more than a few.
    static constexpr int introspectionsPerSecond = 64;
    // The main thread serves calls for about this long in a turn of its event loop, at least one.
    static constexpr qint64 turnNanoseconds = 4'000'000;

    explicit BusCallQueue(Serve serve, QObject *parent = nullptr);
    ~BusCallQueue() override;

    // Takes the call, or answers it with an error: the caller has its bound of calls waiting,
    // or all callers theirs and no caller has more than this one, or the queue is closed.
    // False when the call was answered.
    bool take(const QDBusMessage &message, const QDBusConnection &connection);
    // Counts one introspection of the caller; false past its bound for this second.
    bool mayIntrospect(const QString &caller);
    int waiting() const;
    // Answers every waiting call and every later one that the program is quitting.
    void close();

private:
    struct Call {
        QDBusMessage message;
        QDBusConnection connection;
    };
    struct Introspections {
        qint64 second = -1;
        int count = 0;
    };
    static void refuse(const Call &call, QDBusError::ErrorType error, const QString &why);
    // The caller with the most calls waiting, when it has more than waitingOfAsking.
    QString busiestCallerAbove(qsizetype waitingOfAsking) const;
    void serveSome();

    Serve serve_; // thread: main
    mutable QMutex mutex_;
    // Everything below: thread: any, under mutex_.
    QHash<QString, std::deque<Call>> callers_;
    QStringList turns_; // callers with calls waiting, the next to be served first
    int waiting_ = 0;
    bool scheduled_ = false;
    bool closed_ = false;
    QElapsedTimer clock_;
    QHash<QString, Introspections> introspections_;
};

} // namespace tampod
