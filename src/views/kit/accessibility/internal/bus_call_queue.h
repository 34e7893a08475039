#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

namespace tampod {

// Calls from other programs, each caller's in the order it sent them, served one call per
// caller in turn, a few milliseconds of them per turn of the event loop. The bus library hands
// every call to the main thread at once, however fast they come: served as they came, a caller
// sending thousands a second made every other wait behind them and the program's memory grow
// without end. Here a caller waits behind its own calls only, its calls past a few waiting are
// refused at once, and a turn of the event loop takes in every call that came meanwhile before
// the next calls are served. thread: main only.
class BusCallQueue final : public QObject {
public:
    using Serve = std::function<void(QDBusMessage &, const QDBusConnection &)>;

    // Calls one caller may have waiting, and all callers together.
    static constexpr int callerBound = 32;
    static constexpr int totalBound = 1024;
    // Introspections one caller may ask for in a second: each is the bus library's work, done
    // at once and costly, and no reader asks for more than a few.
    static constexpr int introspectionsPerSecond = 64;

    explicit BusCallQueue(Serve serve, QObject *parent = nullptr);

    // False when the caller has its bound of calls waiting, or all callers theirs.
    bool take(const QDBusMessage &message, const QDBusConnection &connection);
    // Counts one introspection of the caller; false past its bound for this second.
    bool mayIntrospect(const QString &caller);
    int waiting() const { return waiting_; }

private:
    struct Call {
        QDBusMessage message;
        QDBusConnection connection;
    };
    struct Introspections {
        qint64 second = -1;
        int count = 0;
    };
    void serveSome();

    Serve serve_;
    QHash<QString, std::deque<Call>> callers_;
    QStringList turns_; // callers with calls waiting, the next to be served first
    int waiting_ = 0;
    bool scheduled_ = false;
    QElapsedTimer clock_;
    QHash<QString, Introspections> introspections_;
};

} // namespace tampod
