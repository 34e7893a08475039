#include "views/kit/accessibility/accessible_bus_guard.h"

#include "concurrency/thread_role.h"
#include "views/kit/accessibility/accessible_cell_place.h"
#include "views/kit/accessibility/internal/bounded_bus_call.h"
#include "views/kit/accessibility/internal/bus_call_queue.h"
#include "views/kit/accessibility/internal/bus_introspection.h"
#include "views/kit/accessibility/internal/bus_names.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMap>
#include <QTimer>

#include <optional>

namespace tampod {

namespace {

using atspi::accessibleInterfaceName;
using atspi::applicationInterfaceName;
using atspi::tableInterfaceName;
using atspi::textInterfaceName;
using atspi::valueInterfaceName;

// Where Qt's bridge serves every element: one object for the whole tree, an element's path is
// this and its number, the application's this and "root".
const QString elementsPath = QStringLiteral("/org/a11y/atspi/accessible");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString nullPath = QStringLiteral("/org/a11y/atspi/null");
const QString propertiesInterfaceName = QStringLiteral("org.freedesktop.DBus.Properties");
const QString introspectableInterfaceName = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString peerInterfaceName = QStringLiteral("org.freedesktop.DBus.Peer");
const QString bridgeConnectionName = QStringLiteral("a11y");

// The interfaces the bus library serves for every object, as it describes them.
const QString standardInterfaces = QStringLiteral(
    "  <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "    <method name=\"Get\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"Set\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"value\" type=\"v\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"GetAll\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"values\" type=\"a{sv}\" direction=\"out\"/>\n"
    "      <annotation name=\"org.qtproject.QtDBus.QtTypeName.Out0\" value=\"QVariantMap\"/>\n"
    "    </method>\n"
    "    <signal name=\"PropertiesChanged\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"out\"/>\n"
    "      <arg name=\"changed_properties\" type=\"a{sv}\" direction=\"out\"/>\n"
    "      <annotation name=\"org.qtproject.QtDBus.QtTypeName.Out1\" value=\"QVariantMap\"/>\n"
    "      <arg name=\"invalidated_properties\" type=\"as\" direction=\"out\"/>\n"
    "    </signal>\n"
    "  </interface>\n"
    "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "    <method name=\"Introspect\">\n"
    "      <arg name=\"xml_data\" type=\"s\" direction=\"out\"/>\n"
    "    </method>\n"
    "  </interface>\n"
    "  <interface name=\"org.freedesktop.DBus.Peer\">\n"
    "    <method name=\"Ping\"/>\n"
    "    <method name=\"GetMachineId\">\n"
    "      <arg name=\"machine_uuid\" type=\"s\" direction=\"out\"/>\n"
    "    </method>\n"
    "  </interface>\n");

// Methods the bridge serves that its introspection leaves out, with their signatures.
struct Unlisted {
    const QString &interface;
    QLatin1String method;
    QLatin1String signature;
};
const Unlisted unlisted[] = {
    {accessibleInterfaceName, QLatin1String("GetInterfaces"), QLatin1String("")},
    {textInterfaceName, QLatin1String("GetDefaultAttributes"), QLatin1String("")},
    {textInterfaceName, QLatin1String("GetDefaultAttributeSet"), QLatin1String("")},
};

class Observer final : public QAccessible::ActivationObserver {
public:
    void accessibilityActiveChanged(bool active) override
    {
        // The bridge turns accessibility on first and registers its object after.
        if (active)
            QTimer::singleShot(0, QCoreApplication::instance(), [] { AccessibleBusGuard::install(); });
    }
};

// The element a message's path names; null for elements gone.
QAccessibleInterface *elementAt(const QString &path)
{
    if (path == rootPath)
        return QAccessible::queryAccessibleInterface(QCoreApplication::instance());
    if (!path.startsWith(elementsPath + u'/'))
        return nullptr;
    bool ok = false;
    const QAccessible::Id id = path.mid(elementsPath.size() + 1).toUInt(&ok);
    return ok ? QAccessible::accessibleInterface(id) : nullptr;
}

void refuse(const QDBusMessage &message, const QDBusConnection &connection, QDBusError::ErrorType error,
            const QString &why)
{
    connection.send(message.createErrorReply(error, why));
}

// The signature of a method the bridge serves without listing it; none for any other.
std::optional<QString> unlistedSignature(const QString &interface, const QString &method)
{
    for (const Unlisted &known : unlisted)
        if (known.interface == interface && known.method == method)
            return QString(known.signature);
    return std::nullopt;
}

// The calls the bus library answers for every object.
bool answeredByTheBusLibrary(const QDBusMessage &message)
{
    const QString interface = message.interface();
    return interface == introspectableInterfaceName || interface == peerInterfaceName
           || (interface.isEmpty() && message.member() == QLatin1String("Introspect"));
}

// The bus's reference to no element: this program and the null path.
QVariant noElement(const QDBusConnection &connection)
{
    QDBusArgument reference;
    reference.beginStructure();
    reference << connection.baseService() << QDBusObjectPath(nullPath);
    reference.endStructure();
    return QVariant::fromValue(reference);
}

// A call the bridge takes and never answers: the application's id set by the registry.
bool unansweredByTheBridge(const QDBusMessage &message)
{
    return message.path() == rootPath && message.interface() == propertiesInterfaceName
           && message.member() == QLatin1String("Set") && message.arguments().value(0) == applicationInterfaceName;
}

// The code point at offset (within the text), 0 for none.
int characterAt(QAccessibleInterface *element, int offset)
{
    QAccessibleTextInterface *text = element->textInterface();
    if (!text || offset < 0 || offset >= text->characterCount())
        return 0;
    const QList<uint> points = text->text(offset, offset + 1).toUcs4();
    return points.isEmpty() ? 0 : int(points.first());
}

} // namespace

AccessibleBusGuard::AccessibleBusGuard(QDBusVirtualObject *bridge)
    : bridge_(bridge),
      calls_(new BusCallQueue([this](QDBusMessage &message, const QDBusConnection &connection) { serve(message, connection); }),
             [](BusCallQueue *calls) { calls->deleteLater(); })
{
}

void AccessibleBusGuard::install()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    static Observer observer;
    static const bool observing = [] {
        QAccessible::installActivationObserver(&observer);
        qDBusRegisterMetaType<QMap<QString, QString>>();
        return true;
    }();
    Q_UNUSED(observing);
    standInFrontOfTheBridge();
}

void AccessibleBusGuard::standInFrontOfTheBridge()
{
    if (!QCoreApplication::instance())
        return;
    QDBusConnection bus(bridgeConnectionName);
    if (!bus.isConnected())
        return;
    auto *bridge = qobject_cast<QDBusVirtualObject *>(bus.objectRegisteredAt(elementsPath));
    if (!bridge || dynamic_cast<AccessibleBusGuard *>(bridge))
        return;
    bus.unregisterObject(elementsPath);
    auto *guard = new AccessibleBusGuard(bridge);
    if (!bus.registerVirtualObject(elementsPath, guard, QDBusConnection::SubPath)) {
        delete guard;
        bus.registerVirtualObject(elementsPath, bridge, QDBusConnection::SubPath);
        return;
    }
    // The queue is closed, and serves no more, once the bridge is gone or the program quits.
    // The guard stays with the connection to its end: deleted in the bus library's thread,
    // it would wait on the main thread, which waits on that thread while it ends the program.
    BusCallQueue *calls = guard->calls_.get();
    QObject::connect(bridge, &QObject::destroyed, calls, &BusCallQueue::close);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, calls, &BusCallQueue::close);
    // The bus library reads messages in a thread of its own (its interface object lives there)
    // and posts each call to the thread of the object it is for: there, the guard decides on
    // each call before the library reads more, so that no flood piles up unseen in the main
    // thread's events.
    QDBusConnectionInterface *library = bus.interface();
    if (library && library->thread() != guard->thread())
        guard->moveToThread(library->thread());
}

bool AccessibleBusGuard::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    if (message.service() == connection.baseService()) {
        // The guard's own question to the bridge (answerAllProperties), asked on the main
        // thread, which waits for the answer: the bridge is the main thread's meanwhile.
        return bridge_ && bridge_->handleMessage(message, connection);
    }
    if (answeredByTheBusLibrary(message) && !calls_->mayIntrospect(message.service())) {
        refuse(message, connection, QDBusError::LimitsExceeded, QStringLiteral("Too many calls at once: ask again later."));
        return true;
    }
    calls_->take(message, connection);
    return true;
}

void AccessibleBusGuard::serve(QDBusMessage &message, const QDBusConnection &connection)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (answeredByTheBusLibrary(message)) {
        const bool introspect = message.member() == QLatin1String("Introspect") && message.signature().isEmpty();
        QAccessibleInterface *target = elementAt(message.path());
        if (!introspect)
            refuse(message, connection, QDBusError::UnknownMethod, QStringLiteral("The interface has no such method."));
        else if (!target || !target->isValid())
            refuse(message, connection, QDBusError::UnknownObject, QStringLiteral("No such element."));
        else
            connection.send(message.createReply(introspection(message.path())));
        return;
    }
    if (answersItself(message, connection))
        return;
    if (bridge_ && bridge_->handleMessage(message, connection)) {
        if (unansweredByTheBridge(message))
            connection.send(message.createReply());
        return;
    }
    // Where the bridge declines a call the element offers, the bus library would answer that
    // there is no such object, which a reader takes for an element gone.
    refuse(message, connection, QDBusError::NotSupported, QStringLiteral("The element does not answer this."));
}

QString AccessibleBusGuard::introspect(const QString &path) const
{
    return bridge_ ? bridge_->introspect(path) : QString();
}

QString AccessibleBusGuard::introspection(const QString &path) const
{
    // The bridge describes the element's own interfaces; the bus library adds its own.
    return QStringLiteral("<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
                          "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n")
           + introspect(path) + standardInterfaces + QStringLiteral("</node>\n");
}

const BusIntrospection &AccessibleBusGuard::described(const QString &path)
{
    const QString xml = introspect(path);
    auto found = descriptions_.constFind(xml);
    if (found == descriptions_.cend())
        found = descriptions_.insert(xml, std::make_shared<const BusIntrospection>(BusIntrospection::parse(xml)));
    return **found;
}

bool AccessibleBusGuard::answersItself(QDBusMessage &message, const QDBusConnection &connection)
{
    const QString interface = message.interface();
    // An element going away is asked nothing more, its description included.
    QAccessibleInterface *target = elementAt(message.path());
    if (!target || !target->isValid()) {
        refuse(message, connection, QDBusError::UnknownObject, QStringLiteral("No such element."));
        return true;
    }
    const BusIntrospection &element = described(message.path());
    if (interface == propertiesInterfaceName)
        return answersProperties(message, connection, element);
    if (!element.hasInterface(interface)) {
        refuse(message, connection, QDBusError::UnknownInterface, QStringLiteral("The element has no such interface."));
        return true;
    }
    std::optional<QString> signature = element.methodSignature(interface, message.member());
    if (!signature)
        signature = unlistedSignature(interface, message.member());
    if (!signature) {
        refuse(message, connection, QDBusError::UnknownMethod, QStringLiteral("The interface has no such method."));
        return true;
    }
    if (*signature != message.signature()) {
        refuse(message, connection, QDBusError::InvalidArgs,
               QStringLiteral("The method takes the arguments \"%1\".").arg(*signature));
        return true;
    }
    return answersBounded(message, connection, target) || answersMethod(message, connection);
}

bool AccessibleBusGuard::answersBounded(QDBusMessage &message, const QDBusConnection &connection,
                                        QAccessibleInterface *element)
{
    const BoundedBusCall call = BoundedBusCall::of(element, message.interface(), message.member(), message.arguments());
    switch (call.outcome()) {
    case BoundedBusCall::Outcome::pass:
        message.setArguments(call.arguments());
        return false;
    case BoundedBusCall::Outcome::answer:
        connection.send(message.createReply(call.arguments()));
        return true;
    case BoundedBusCall::Outcome::noElement:
        connection.send(message.createReply(noElement(connection)));
        return true;
    case BoundedBusCall::Outcome::refuse:
        refuse(message, connection, call.error(), call.why());
        return true;
    }
    return false;
}

bool AccessibleBusGuard::answersProperties(const QDBusMessage &message, const QDBusConnection &connection,
                                           const BusIntrospection &element)
{
    const QString member = message.member();
    const QString signature = member == QLatin1String("Get")      ? QStringLiteral("ss")
                              : member == QLatin1String("Set")    ? QStringLiteral("ssv")
                              : member == QLatin1String("GetAll") ? QStringLiteral("s")
                                                                  : QString();
    if (signature.isEmpty()) {
        refuse(message, connection, QDBusError::UnknownMethod, QStringLiteral("No such method."));
        return true;
    }
    if (message.signature() != signature) {
        refuse(message, connection, QDBusError::InvalidArgs,
               QStringLiteral("The method takes the arguments \"%1\".").arg(signature));
        return true;
    }
    const QVariantList arguments = message.arguments();
    const QString interface = arguments.first().toString();
    if (member == QLatin1String("GetAll")) {
        answerAllProperties(message, connection, element);
        return true;
    }
    if (!element.hasInterface(interface)) {
        refuse(message, connection, QDBusError::UnknownInterface, QStringLiteral("The element has no such interface."));
        return true;
    }
    const QString property = arguments.at(1).toString();
    if (member == QLatin1String("Get") ? !element.hasProperty(interface, property)
                                       : !element.isWritable(interface, property)) {
        refuse(message, connection, QDBusError::UnknownProperty, QStringLiteral("No such property to read or set."));
        return true;
    }
    if (member == QLatin1String("Set") && !element.takesValue(interface, property, arguments.at(2))) {
        refuse(message, connection, QDBusError::InvalidArgs, QStringLiteral("The value is not of the property's type."));
        return true;
    }
    return false;
}

void AccessibleBusGuard::answerAllProperties(const QDBusMessage &message, const QDBusConnection &connection,
                                             const BusIntrospection &element)
{
    const QString interface = message.arguments().first().toString();
    const bool standard = interface == propertiesInterfaceName || interface == introspectableInterfaceName
                          || interface == peerInterfaceName;
    if (!standard && !element.hasInterface(interface)) {
        refuse(message, connection, QDBusError::UnknownInterface, QStringLiteral("The element has no such interface."));
        return;
    }
    // Each property as the bridge gives it, asked through the bus library's loop to this
    // connection's own objects (answered at once, in this thread); one it does not give is left out.
    QVariantMap properties;
    for (const QString &name : element.readableProperties(interface)) {
        QDBusMessage get = QDBusMessage::createMethodCall(connection.baseService(), message.path(),
                                                          propertiesInterfaceName, QStringLiteral("Get"));
        get.setArguments({interface, name});
        const QDBusMessage answer = connection.call(get);
        if (answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty())
            properties.insert(name, qvariant_cast<QDBusVariant>(answer.arguments().first()).variant());
    }
    connection.send(message.createReply(QVariant(properties)));
}

bool AccessibleBusGuard::answersMethod(const QDBusMessage &message, const QDBusConnection &connection)
{
    QAccessibleInterface *element = elementAt(message.path());
    const QString interface = message.interface();
    const QString member = message.member();
    const QVariantList arguments = message.arguments();
    if (interface == tableInterfaceName && member == QLatin1String("GetRowColumnExtentsAtIndex")) {
        connection.send(message.createReply(AccessibleCellPlace::of(element, arguments.first().toInt()).answer()));
        return true;
    }
    if (interface == textInterfaceName && member == QLatin1String("GetCharacterAtOffset")) {
        connection.send(message.createReply(characterAt(element, arguments.first().toInt())));
        return true;
    }
    // The bridge reads this method's value as the third argument of a property's Set.
    if (interface == valueInterfaceName && member == QLatin1String("SetCurrentValue")) {
        if (QAccessibleValueInterface *value = element->valueInterface())
            value->setCurrentValue(arguments.first().toDouble());
        connection.send(message.createReply());
        return true;
    }
    if (interface == accessibleInterfaceName && member == QLatin1String("GetAttributes") && element->valueInterface()) {
        const QString value = element->text(QAccessible::Value);
        if (value.isEmpty())
            return false;
        connection.send(message.createReply(QVariant::fromValue(QMap<QString, QString>{{QStringLiteral("valuetext"), value}})));
        return true;
    }
    return false;
}

} // namespace tampod
