#include "views/kit/accessibility/internal/bounded_bus_call.h"
#include "views/kit/accessibility/internal/bus_call_queue.h"
#include "views/kit/accessibility/view_accessibility.h"

#include "support/test_support.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDBusPendingCall>
#include <QDBusServer>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QTableWidget>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>

using namespace tampod;

namespace {

using Outcome = BoundedBusCall::Outcome;

const QString text = QStringLiteral("org.a11y.atspi.Text");

BoundedBusCall asked(QWidget *widget, const QString &interface, const QString &method, const QVariantList &arguments)
{
    return BoundedBusCall::of(QAccessible::queryAccessibleInterface(widget), interface, method, arguments);
}

// What the bridge gets, as numbers and texts.
QVariantList passed(const BoundedBusCall &call)
{
    EXPECT_EQ(call.outcome(), Outcome::pass);
    return call.arguments();
}

} // namespace

// A text's ranges and offsets reach the bridge within the text (its own count, in characters):
// the bridge walks a range one character at a time with an int that overflows at the largest.
TEST(BoundedBusCall, RangesAndOffsetsReachTheBridgeWithinTheText)
{
    installAccessibleFactory();
    QLineEdit field(QStringLiteral("日本🎵ab")); // five characters, six UTF-16 units
    const QVariantList whole{0, 5, 0u};
    EXPECT_EQ(passed(asked(&field, text, "GetRangeExtents", {0, INT_MAX, 0u})), whole);
    EXPECT_EQ(passed(asked(&field, text, "GetRangeExtents", {0, -1, 0u})), whole);
    EXPECT_EQ(passed(asked(&field, text, "GetRangeExtents", {INT_MIN, 3, 2u})), QVariantList({0, 3, 2u}));
    EXPECT_EQ(passed(asked(&field, text, "GetRangeExtents", {INT_MAX, INT_MIN, 0u})), QVariantList({5, 5, 0u}));
    EXPECT_EQ(passed(asked(&field, text, "GetText", {4, 1})), QVariantList({4, 4}));
    EXPECT_EQ(passed(asked(&field, text, "SetSelection", {0, INT_MIN, INT_MAX})), QVariantList({0, 0, 5}));
    EXPECT_EQ(passed(asked(&field, text, "GetCharacterExtents", {INT_MAX, 0u})), QVariantList({5, 0u}));
    // A question keeps Qt's -1 for the end and -2 for the cursor; any other offset is in the text.
    EXPECT_EQ(passed(asked(&field, text, "GetTextAtOffset", {-1, 1u})), QVariantList({-1, 1u}));
    EXPECT_EQ(passed(asked(&field, text, "GetTextAtOffset", {INT_MIN, 1u})), QVariantList({0, 1u}));
    EXPECT_EQ(passed(asked(&field, text, "GetTextAfterOffset", {INT_MAX, 1u})), QVariantList({5, 1u}));
    EXPECT_EQ(passed(asked(&field, "org.a11y.atspi.EditableText", "DeleteText", {INT_MIN, INT_MAX})),
              QVariantList({0, 5}));

    // No selection but the first is made or asked for; none answers with the cursor.
    field.setCursorPosition(2);
    const BoundedBusCall second = asked(&field, text, "SetSelection", {1, 0, 2});
    EXPECT_EQ(second.outcome(), Outcome::answer);
    EXPECT_EQ(second.arguments(), QVariantList{false});
    EXPECT_EQ(asked(&field, text, "GetSelection", {INT_MAX}).arguments(), QVariantList({2, 2}));
    EXPECT_EQ(asked(&field, text, "RemoveSelection", {0}).arguments(), QVariantList{false});

    const BoundedBusCall offScreen = asked(&field, text, "GetRangeExtents", {0, 1, 3u});
    EXPECT_EQ(offScreen.outcome(), Outcome::refuse);
    EXPECT_EQ(offScreen.error(), QDBusError::InvalidArgs);
    EXPECT_EQ(asked(&field, text, "GetBoundedRanges", {0, 0, 9, 9, 0u, 0u, 0u}).error(), QDBusError::NotSupported);
}

// The bridge cuts or pads an inserted text to the length in UTF-16 units, padding with memory
// never written: it gets at most the text's own characters, as many units as they take.
TEST(BoundedBusCall, AnInsertedTextHoldsAtMostItsOwnCharacters)
{
    installAccessibleFactory();
    QLineEdit field(QStringLiteral("abc"));
    const QString editable = QStringLiteral("org.a11y.atspi.EditableText");
    const struct {
        QString inserted;
        int length;
        QString reaching;
    } cases[] = {
        {"日本", 6, "日本"},      // the C API's length in bytes
        {"é", 2, "é"},          // likewise
        {"ab", 3000, "ab"},     // past every text
        {"x🎵y", 2, "x🎵"},     // characters, a pair of units taken whole
        {"xyz", -1, "xyz"},     // the toolkits' whole text
        {"xyz", 0, ""},
    };
    for (const auto &[inserted, length, reaching] : cases) {
        const QVariantList bounded = passed(asked(&field, editable, "InsertText", {INT_MAX, inserted, length}));
        EXPECT_EQ(bounded, QVariantList({3, reaching, int(reaching.size())})) << inserted.toStdString() << length;
    }
}

// A cell, header, row or column past the table's, an action past the element's and a child past
// its count are none, as the bridge answers for a number below zero.
TEST(BoundedBusCall, ChildrenCellsAndActionsPastTheirCountAreNone)
{
    installAccessibleFactory();
    QTableWidget table(2, 3);
    const QString cells = QStringLiteral("org.a11y.atspi.Table");
    EXPECT_EQ(passed(asked(&table, cells, "GetAccessibleAt", {1, 2})), QVariantList({1, 2}));
    EXPECT_EQ(asked(&table, cells, "GetAccessibleAt", {2, 0}).outcome(), Outcome::noElement);
    EXPECT_EQ(asked(&table, cells, "GetColumnHeader", {3}).outcome(), Outcome::noElement);
    EXPECT_EQ(asked(&table, cells, "GetIndexAt", {INT_MIN, 0}).arguments(), QVariantList{-1});
    EXPECT_EQ(asked(&table, cells, "GetRowAtIndex", {INT_MAX}).arguments(), QVariantList{-1});
    EXPECT_EQ(asked(&table, cells, "GetColumnDescription", {3}).arguments(), QVariantList{QString()});
    EXPECT_EQ(asked(&table, cells, "GetRowExtentAt", {0, 3}).arguments(), QVariantList{0});
    EXPECT_EQ(asked(&table, cells, "IsSelected", {2, 0}).arguments(), QVariantList{false});
    EXPECT_EQ(asked(&table, cells, "AddColumnSelection", {3}).arguments(), QVariantList{false});
    EXPECT_EQ(passed(asked(&table, cells, "IsRowSelected", {1})), QVariantList{1});

    QPushButton button(QStringLiteral("Go"));
    const QString actions = QStringLiteral("org.a11y.atspi.Action");
    EXPECT_EQ(passed(asked(&button, actions, "GetName", {0})), QVariantList{0});
    EXPECT_EQ(asked(&button, actions, "GetName", {INT_MAX}).arguments(), QVariantList{QString()});
    EXPECT_EQ(asked(&button, actions, "DoAction", {-1}).arguments(), QVariantList{false});

    const QString accessible = QStringLiteral("org.a11y.atspi.Accessible");
    const int children = QAccessible::queryAccessibleInterface(&table)->childCount();
    EXPECT_EQ(passed(asked(&table, accessible, "GetChildAtIndex", {children - 1})), QVariantList{children - 1});
    EXPECT_EQ(passed(asked(&table, accessible, "GetChildAtIndex", {children})), QVariantList{-1});
}

// A caller flooding the bus waits behind its own calls only: the others are served in turn
// with it, and its calls past its bound are refused at once. Introspections are counted apart.
TEST(BusCallQueue, EachCallerWaitsBehindItsOwnCallsOnly)
{
    QStringList served;
    BusCallQueue queue([&](QDBusMessage &message, const QDBusConnection &) {
        served << message.service() + u':' + message.member();
    });
    const auto call = [](const QString &caller, int number) {
        return QDBusMessage::createMethodCall(caller, QStringLiteral("/e"), QStringLiteral("i.f"), QString::number(number));
    };
    const QDBusConnection none(QStringLiteral("no bus"));
    for (int number = 0; number < BusCallQueue::callerBound; ++number)
        EXPECT_TRUE(queue.take(call(QStringLiteral("flood"), number), none));
    EXPECT_FALSE(queue.take(call(QStringLiteral("flood"), BusCallQueue::callerBound), none));
    EXPECT_TRUE(queue.take(call(QStringLiteral("reader"), 0), none));
    EXPECT_TRUE(queue.take(call(QStringLiteral("reader"), 1), none));
    EXPECT_EQ(queue.waiting(), BusCallQueue::callerBound + 2);
    QCoreApplication::sendPostedEvents(&queue);
    while (queue.waiting() > 0)
        QCoreApplication::sendPostedEvents(&queue);
    ASSERT_EQ(served.size(), BusCallQueue::callerBound + 2);
    EXPECT_EQ(served.mid(0, 5), QStringList({"flood:0", "reader:0", "flood:1", "reader:1", "flood:2"}));
    EXPECT_EQ(served.last(), QStringLiteral("flood:%1").arg(BusCallQueue::callerBound - 1));

    // Asked at once, within a second or across the turn of one at most.
    int allowed = 0;
    for (int asked = 0; asked < 3 * BusCallQueue::introspectionsPerSecond; ++asked)
        allowed += queue.mayIntrospect(QStringLiteral("busctl")) ? 1 : 0;
    EXPECT_GE(allowed, BusCallQueue::introspectionsPerSecond);
    EXPECT_LE(allowed, 2 * BusCallQueue::introspectionsPerSecond);
    EXPECT_TRUE(queue.mayIntrospect(QStringLiteral("reader")));
}

namespace {

QDBusMessage callOf(const QString &caller, int number)
{
    return QDBusMessage::createMethodCall(caller, QStringLiteral("/e"), QStringLiteral("i.f"), QString::number(number));
}

} // namespace

// All callers together hold at most the total bound: past it, a caller with as many calls
// waiting as any other is refused, and one that asks little is taken in place of the newest
// call of the caller with the most waiting, so that many flooding callers never keep it out.
TEST(BusCallQueue, TheCallsOfAllCallersAreBoundedWithoutKeepingOutOneThatAsksLittle)
{
    QStringList served;
    BusCallQueue queue([&](QDBusMessage &message, const QDBusConnection &) { served << message.service(); });
    const QDBusConnection none(QStringLiteral("no bus"));
    const int half = BusCallQueue::callerBound / 2;
    const int flooders = BusCallQueue::totalBound / half;
    for (int flooder = 0; flooder < flooders; ++flooder)
        for (int number = 0; number < half; ++number)
            ASSERT_TRUE(queue.take(callOf(QStringLiteral("flood%1").arg(flooder), number), none));
    EXPECT_EQ(queue.waiting(), BusCallQueue::totalBound);
    EXPECT_FALSE(queue.take(callOf(QStringLiteral("flood0"), half), none));
    EXPECT_FALSE(queue.take(callOf(QStringLiteral("flood1"), half), none));
    for (int number = 0; number < 3; ++number)
        EXPECT_TRUE(queue.take(callOf(QStringLiteral("reader"), number), none)) << number;
    EXPECT_EQ(queue.waiting(), BusCallQueue::totalBound);

    // Closed, the queue holds nothing and takes nothing.
    queue.close();
    EXPECT_EQ(queue.waiting(), 0);
    EXPECT_FALSE(queue.take(callOf(QStringLiteral("reader"), 3), none));
    QCoreApplication::sendPostedEvents(&queue);
    EXPECT_EQ(served, QStringList());
}

// Past the total bound, the caller with the most calls waiting gives up its newest only to one
// that still has fewer waiting once it is taken: one that would then have as many is refused,
// or two flooding callers would take each other's places call after call.
TEST(BusCallQueue, ACallerGivesUpACallOnlyToOneLeftWithFewerWaiting)
{
    QStringList served;
    BusCallQueue queue([&](QDBusMessage &message, const QDBusConnection &) {
        served << message.service() + u':' + message.member();
    });
    const QDBusConnection none(QStringLiteral("no bus"));
    const auto fill = [&](const QString &caller, int count) {
        for (int number = 0; number < count; ++number)
            ASSERT_TRUE(queue.take(callOf(caller, number), none)) << caller.toStdString() << number;
    };
    const int half = BusCallQueue::callerBound / 2;
    fill(QStringLiteral("busiest"), half + 1);
    fill(QStringLiteral("asker"), half);
    fill(QStringLiteral("light"), half - 1);
    for (int rest = BusCallQueue::totalBound - 3 * half, flooder = 0; rest > 0; rest -= half)
        fill(QStringLiteral("flood%1").arg(flooder++), std::min(rest, half));
    ASSERT_EQ(queue.waiting(), BusCallQueue::totalBound);

    EXPECT_FALSE(queue.take(callOf(QStringLiteral("asker"), half), none));
    EXPECT_TRUE(queue.take(callOf(QStringLiteral("light"), half - 1), none));
    // The busiest has as many waiting as the asker now.
    EXPECT_FALSE(queue.take(callOf(QStringLiteral("asker"), half + 1), none));
    EXPECT_EQ(queue.waiting(), BusCallQueue::totalBound);
    while (queue.waiting() > 0)
        QCoreApplication::sendPostedEvents(&queue);
    EXPECT_EQ(served.size(), BusCallQueue::totalBound);
    const auto call = [](const char *caller, int number) {
        return QStringLiteral("%1:%2").arg(QLatin1String(caller)).arg(number);
    };
    for (const QString &kept : {call("busiest", half - 1), call("asker", half - 1), call("light", half - 1)})
        EXPECT_TRUE(served.contains(kept)) << kept.toStdString();
    for (const QString &lost : {call("busiest", half), call("asker", half), call("asker", half + 1)})
        EXPECT_FALSE(served.contains(lost)) << lost.toStdString();
}

namespace {

// Takes the calls that come to it into a queue, in a thread of its own, as the bus guard does
// in the bus library's thread; counts each.
class Taker final : public QDBusVirtualObject {
public:
    explicit Taker(BusCallQueue &queue) : queue_(queue) {}
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        queue_.take(message, connection);
        taken.release();
        return true;
    }
    QString introspect(const QString &) const override { return {}; }

    QSemaphore taken;

private:
    BusCallQueue &queue_;
};

// A peer that sends calls to a taker in another thread of this process.
class TakerOnAConnection {
public:
    explicit TakerOnAConnection(BusCallQueue &queue) : taker_(new Taker(queue))
    {
        QObject::connect(&thread_, &QThread::finished, taker_, &QObject::deleteLater);
        thread_.start();
        QObject::connect(&server_, &QDBusServer::newConnection, [this](const QDBusConnection &connection) {
            program_ = connection;
            // Registered where it was made, as the guard is; what it gains there moves with it.
            program_->registerVirtualObject(QStringLiteral("/e"), taker_, QDBusConnection::SubPath);
            taker_->moveToThread(&thread_);
        });
        caller_ = QDBusConnection::connectToPeer(server_.address(), name_);
    }
    ~TakerOnAConnection()
    {
        QDBusConnection::disconnectFromPeer(name_);
        if (program_)
            program_->unregisterObject(QStringLiteral("/e"), QDBusConnection::UnregisterTree);
        thread_.quit();
        thread_.wait();
    }

    bool isConnected() const { return caller_ && caller_->isConnected(); }
    QSemaphore &taken() { return taker_->taken; }
    // A call left unanswered ends as NoReply after a minute.
    QDBusPendingCall send()
    {
        const QDBusMessage call = QDBusMessage::createMethodCall(QString(), QStringLiteral("/e/1"),
                                                                 QStringLiteral("i.f"), QStringLiteral("f"));
        return caller_->asyncCall(call, 60'000);
    }

private:
    const QString name_ = QStringLiteral("bus call queue caller");
    Taker *taker_;
    QThread thread_;
    QDBusServer server_;
    std::optional<QDBusConnection> program_, caller_;
};

} // namespace

// Closed, the queue answers every call waiting, and every later one, that the program is
// quitting: no caller waits for an answer that never comes. The calls come over a connection
// and are taken in another thread, as a reader's on the bus; the main thread serves none of
// those that wait when the queue is closed.
TEST(BusCallQueue, ClosedItAnswersEveryCallWaitingAndLater)
{
    int served = 0;
    BusCallQueue queue([&](QDBusMessage &message, const QDBusConnection &connection) {
        ++served;
        connection.send(message.createReply());
    });
    TakerOnAConnection peer(queue);
    ASSERT_TRUE(peer.isConnected());
    // Served while the main thread turns its event loop.
    QDBusPendingCall first = peer.send();
    ASSERT_TRUE(test::pumpUntil([&] { return first.isFinished(); }));
    EXPECT_FALSE(first.isError()) << first.error().message().toStdString();
    ASSERT_TRUE(peer.taken().tryAcquire(1));
    // Taken while it does not.
    QList<QDBusPendingCall> waiting;
    for (int number = 0; number < 5; ++number)
        waiting << peer.send();
    ASSERT_TRUE(peer.taken().tryAcquire(int(waiting.size()), 120'000));
    EXPECT_EQ(queue.waiting(), waiting.size());
    queue.close();
    waiting << peer.send();
    for (QDBusPendingCall &call : waiting) {
        call.waitForFinished();
        EXPECT_EQ(call.error().type(), QDBusError::ServiceUnknown);
        EXPECT_EQ(call.error().message().toStdString(), "The program is quitting.");
    }
    EXPECT_EQ(served, 1);
}

// A turn of the event loop serves calls for a few milliseconds, then lets the rest of the
// program run: however many calls wait, slow ones are not all served in one turn.
TEST(BusCallQueue, ATurnServesCallsForAFewMillisecondsOnly)
{
    int served = 0;
    BusCallQueue queue([&](QDBusMessage &, const QDBusConnection &) {
        QElapsedTimer slow;
        slow.start();
        while (slow.nsecsElapsed() < 1'000'000) {
        }
        ++served;
    });
    const QDBusConnection none(QStringLiteral("no bus"));
    constexpr int calls = 3 * BusCallQueue::callerBound;
    for (int number = 0; number < calls; ++number)
        ASSERT_TRUE(queue.take(callOf(QStringLiteral("caller%1").arg(number % 3), number), none));
    QCoreApplication::sendPostedEvents(&queue);
    EXPECT_GE(served, 1);
    EXPECT_LE(served, BusCallQueue::turnNanoseconds / 1'000'000 + 1);
    while (queue.waiting() > 0)
        QCoreApplication::sendPostedEvents(&queue);
    EXPECT_EQ(served, calls);
}
