#pragma once

#include <QDBusVirtualObject>

class QAccessibleInterface;
#include <QHash>
#include <QPointer>

#include <memory>

namespace tampod {

class BusCallQueue;
class BusIntrospection;

// Stands in front of Qt's accessibility bridge on the accessibility bus, for every element, the
// root (the application) included. The bridge reads a message's arguments without counting
// them and uses an element's interfaces without asking whether it has them, so a message it
// was not made for ends the program. Each message is checked against what the element says it
// offers (its introspection) before the bridge sees it:
// - an interface the element lacks, a method or property that interface lacks, or arguments
//   that are not the method's are refused with an error;
// - Properties.GetAll is answered here, with each property the bridge gives for the interface;
// - where the bridge's answer is wrong, the guard answers: a table's cell by its index (the
//   index as the table counts its children, headings included; none past its last child), the
//   character at an offset (the bridge gives the first byte of its local encoding), a value
//   set by its method (the bridge reads an argument the method does not have) and the
//   value text as the element's "valuetext" attribute (the bridge gives only the number);
// - every offset, length, index and count is brought within the element's text or children
//   (BoundedBusCall), and a call the bridge would take without answering is answered.
// Everything else goes to the bridge unchanged. Calls from other programs are served in turn,
// each caller's in order, and a caller's calls past a few waiting are refused (BusCallQueue).
// Installed once; it takes its place each time the bridge turns accessibility on.
// thread: the guard lives in the bus library's thread, which hands it every call as it reads
// it: handleMessage there only takes calls into the queue or refuses them, and answers the
// guard's own questions while the main thread waits for them. Calls are served, and the rest
// runs, on the main thread.
class AccessibleBusGuard final : public QDBusVirtualObject {
public:
    static void install();

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;
    QString introspect(const QString &path) const override;

private:
    explicit AccessibleBusGuard(QDBusVirtualObject *bridge);
    // Puts a guard in front of the bridge's object, once the bridge has registered it.
    static void standInFrontOfTheBridge();
    // A call from another program, when its turn comes (BusCallQueue); message: its numbers
    // are brought within the element where the bridge gets it.
    void serve(QDBusMessage &message, const QDBusConnection &connection);
    // What the bus library would answer for an introspection of the element.
    QString introspection(const QString &path) const;
    const BusIntrospection &described(const QString &path);
    bool answersItself(QDBusMessage &message, const QDBusConnection &connection);
    bool answersBounded(QDBusMessage &message, const QDBusConnection &connection, QAccessibleInterface *element);
    bool answersProperties(const QDBusMessage &message, const QDBusConnection &connection,
                           const BusIntrospection &element);
    bool answersMethod(const QDBusMessage &message, const QDBusConnection &connection);
    void answerAllProperties(const QDBusMessage &message, const QDBusConnection &connection,
                             const BusIntrospection &element);

    QPointer<QDBusVirtualObject> bridge_; // thread: main, and the bus's while the main thread waits
    // Lives on the main thread, deleted there once the guard lets it go.
    std::shared_ptr<BusCallQueue> calls_;
    // Elements offer a few sets of interfaces: each set's description, by its text.
    QHash<QString, std::shared_ptr<const BusIntrospection>> descriptions_;
};

} // namespace tampod
