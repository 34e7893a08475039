#include "views/kit/accessibility/internal/bus_introspection.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QXmlStreamReader>

namespace tampod {

BusIntrospection BusIntrospection::parse(const QString &xml)
{
    BusIntrospection found;
    // An object's interfaces, one after another: read as one document.
    QXmlStreamReader reader(QStringLiteral("<node>") + xml + QStringLiteral("</node>"));
    Interface *interface = nullptr;
    QString *method = nullptr;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::EndElement) {
            if (reader.name() == QLatin1String("interface"))
                interface = nullptr;
            else if (reader.name() == QLatin1String("method"))
                method = nullptr;
            continue;
        }
        if (reader.tokenType() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        const QString name = attributes.value(QLatin1String("name")).toString();
        if (reader.name() == QLatin1String("interface")) {
            interface = &found.interfaces_[name];
        } else if (interface && reader.name() == QLatin1String("method")) {
            method = &interface->methods[name];
        } else if (method && reader.name() == QLatin1String("arg")
                   && attributes.value(QLatin1String("direction")) != QLatin1String("out")) {
            method->append(attributes.value(QLatin1String("type")));
        } else if (interface && !method && reader.name() == QLatin1String("property")) {
            const auto access = attributes.value(QLatin1String("access"));
            interface->properties.append({name, access != QLatin1String("write"), access != QLatin1String("read"),
                                          attributes.value(QLatin1String("type")).toString()});
        }
    }
    return found;
}

std::optional<QString> BusIntrospection::methodSignature(const QString &interface, const QString &method) const
{
    const auto at = interfaces_.constFind(interface);
    if (at == interfaces_.cend() || !at->methods.contains(method))
        return std::nullopt;
    return at->methods.value(method);
}

const BusIntrospection::Property *BusIntrospection::property(const QString &interface, const QString &name) const
{
    const auto at = interfaces_.constFind(interface);
    if (at == interfaces_.cend())
        return nullptr;
    for (const Property &candidate : at->properties)
        if (candidate.name == name)
            return &candidate;
    return nullptr;
}

bool BusIntrospection::hasProperty(const QString &interface, const QString &name) const
{
    const Property *found = property(interface, name);
    return found && found->readable;
}

bool BusIntrospection::isWritable(const QString &interface, const QString &name) const
{
    const Property *found = property(interface, name);
    return found && found->writable;
}

bool BusIntrospection::takesValue(const QString &interface, const QString &name, const QVariant &value) const
{
    const Property *found = property(interface, name);
    if (!found || !value.canConvert<QDBusVariant>())
        return false;
    const QVariant inside = qvariant_cast<QDBusVariant>(value).variant();
    // A container arrives unread, with its signature; a plain value as its Qt type.
    const QString type = inside.metaType() == QMetaType::fromType<QDBusArgument>()
                             ? qvariant_cast<QDBusArgument>(inside).currentSignature()
                             : QString::fromLatin1(QDBusMetaType::typeToSignature(inside.metaType()));
    return !type.isEmpty() && type == found->type;
}

QStringList BusIntrospection::readableProperties(const QString &interface) const
{
    QStringList names;
    for (const Property &candidate : interfaces_.value(interface).properties)
        if (candidate.readable)
            names.append(candidate.name);
    return names;
}

} // namespace tampod
