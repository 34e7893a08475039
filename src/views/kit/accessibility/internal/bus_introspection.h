#pragma once

#include <QHash>
#include <QString>

#include <optional>

namespace tampod {

// What an object on the bus says it offers, read from its introspection: for each interface,
// its methods with the signature of their arguments in, and its properties with their access.
class BusIntrospection {
public:
    // xml: the object's interface descriptions, as a virtual object gives them.
    static BusIntrospection parse(const QString &xml);

    bool hasInterface(const QString &interface) const { return interfaces_.contains(interface); }
    // The signature a method takes; none for a method the interface does not have.
    std::optional<QString> methodSignature(const QString &interface, const QString &method) const;
    bool hasProperty(const QString &interface, const QString &property) const;
    bool isWritable(const QString &interface, const QString &property) const;
    // Whether value, the variant argument of a property's Set as the bus library hands it, is
    // of the property's type: a value of another type would be read as a wrong one (a text
    // for a number reads 0).
    bool takesValue(const QString &interface, const QString &property, const QVariant &value) const;
    // The properties that can be read, in the order they are described.
    QStringList readableProperties(const QString &interface) const;

private:
    struct Property {
        QString name;
        bool readable = false;
        bool writable = false;
        QString type;
    };
    struct Interface {
        QHash<QString, QString> methods;
        QList<Property> properties;
    };
    const Property *property(const QString &interface, const QString &name) const;

    QHash<QString, Interface> interfaces_;
};

} // namespace tampod
