#pragma once

#include <QDBusVirtualObject>
#include <QPointer>

namespace tampod {

// Stands in front of Qt's accessibility bridge on the accessibility bus and answers the table
// questions the bridge gets wrong, handing every other message to the bridge unchanged:
// - a cell index past a table: the bridge answers GetRowColumnExtentsAtIndex with success for
//   any index, since the cell our tables give for a place past them has a cell interface (it
//   must: the bridge's other cell questions use that interface without checking);
// - a table question to an element that is no table (a cell, say): the bridge uses the table
//   interface it does not have, and the program crashes.
// Installed once; it takes its place each time the bridge turns accessibility on.
// thread: main only (the bus hands a virtual object's messages to the object's thread).
class AccessibleTableBusGuard final : public QDBusVirtualObject {
public:
    static void install();

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;
    QString introspect(const QString &path) const override;

private:
    explicit AccessibleTableBusGuard(QDBusVirtualObject *bridge);
    // Puts a guard in front of the bridge's object, once the bridge has registered it.
    static void standInFrontOfTheBridge();
    bool answersItself(const QDBusMessage &message, const QDBusConnection &connection) const;

    QPointer<QDBusVirtualObject> bridge_;
};

} // namespace tampod
