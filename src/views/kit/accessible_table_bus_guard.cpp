#include "views/kit/accessible_table_bus_guard.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

namespace tampod {

namespace {

// Where Qt's bridge serves every element: one object for the whole tree, an element's path is
// this and its number.
const QString elementsPath = QStringLiteral("/org/a11y/atspi/accessible");
const QString tableInterfaceName = QStringLiteral("org.a11y.atspi.Table");
const QString propertiesInterfaceName = QStringLiteral("org.freedesktop.DBus.Properties");
const QString bridgeConnectionName = QStringLiteral("a11y");

class Observer final : public QAccessible::ActivationObserver {
public:
    void accessibilityActiveChanged(bool active) override
    {
        // The bridge turns accessibility on first and registers its object after.
        if (active)
            QTimer::singleShot(0, QCoreApplication::instance(), [] { AccessibleTableBusGuard::install(); });
    }
};

// The element a message's path names; null for the root and for elements gone.
QAccessibleInterface *elementAt(const QString &path)
{
    if (!path.startsWith(elementsPath + u'/'))
        return nullptr;
    bool ok = false;
    const QAccessible::Id id = path.mid(elementsPath.size() + 1).toUInt(&ok);
    return ok ? QAccessible::accessibleInterface(id) : nullptr;
}

// The interface a message asks about: its own, or the one whose property it reads.
QString askedInterface(const QDBusMessage &message)
{
    if (message.interface() == propertiesInterfaceName && !message.arguments().isEmpty())
        return message.arguments().first().toString();
    return message.interface();
}

bool isPastTheTable(QAccessibleTableInterface *table, qint64 index)
{
    const qint64 columns = table->columnCount();
    return index < 0 || columns <= 0 || index >= columns * table->rowCount();
}

} // namespace

AccessibleTableBusGuard::AccessibleTableBusGuard(QDBusVirtualObject *bridge)
    : QDBusVirtualObject(bridge), bridge_(bridge)
{
}

void AccessibleTableBusGuard::install()
{
    static Observer observer;
    static const bool observing = [] {
        QAccessible::installActivationObserver(&observer);
        return true;
    }();
    Q_UNUSED(observing);
    standInFrontOfTheBridge();
}

void AccessibleTableBusGuard::standInFrontOfTheBridge()
{
    if (!QCoreApplication::instance())
        return;
    QDBusConnection bus(bridgeConnectionName);
    if (!bus.isConnected())
        return;
    auto *bridge = qobject_cast<QDBusVirtualObject *>(bus.objectRegisteredAt(elementsPath));
    if (!bridge || dynamic_cast<AccessibleTableBusGuard *>(bridge))
        return;
    bus.unregisterObject(elementsPath);
    auto *guard = new AccessibleTableBusGuard(bridge);
    if (!bus.registerVirtualObject(elementsPath, guard, QDBusConnection::SubPath)) {
        delete guard;
        bus.registerVirtualObject(elementsPath, bridge, QDBusConnection::SubPath);
    }
}

bool AccessibleTableBusGuard::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (answersItself(message, connection))
        return true;
    return bridge_ && bridge_->handleMessage(message, connection);
}

QString AccessibleTableBusGuard::introspect(const QString &path) const
{
    return bridge_ ? bridge_->introspect(path) : QString();
}

bool AccessibleTableBusGuard::answersItself(const QDBusMessage &message, const QDBusConnection &connection) const
{
    if (message.type() != QDBusMessage::MethodCallMessage || askedInterface(message) != tableInterfaceName)
        return false;
    QAccessibleInterface *element = elementAt(message.path());
    if (!element)
        return false;
    QAccessibleTableInterface *table = element->tableInterface();
    if (!table) {
        connection.send(message.createErrorReply(QDBusError::UnknownInterface,
                                                 QStringLiteral("The element is not a table.")));
        return true;
    }
    if (message.member() != QLatin1String("GetRowColumnExtentsAtIndex"))
        return false;
    const QVariantList arguments = message.arguments();
    if (arguments.isEmpty() || !isPastTheTable(table, arguments.first().toLongLong()))
        return false;
    // No cell there: "no", and no place, extent or selection.
    connection.send(message.createReply(QVariantList{false, -1, -1, -1, -1, false}));
    return true;
}

} // namespace tampod
