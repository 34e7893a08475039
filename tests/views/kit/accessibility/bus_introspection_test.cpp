#include "views/kit/accessibility/internal/bus_introspection.h"

#include <QDBusArgument>
#include <QDBusVariant>

#include <gtest/gtest.h>

using namespace tampod;

// A property's Set is taken only with a value of the property's type: the bridge reads a text
// sent for the application's id as the id 0, and answers that it was set.
TEST(BusIntrospection, APropertyIsSetOnlyWithAValueOfItsType)
{
    const BusIntrospection element = BusIntrospection::parse(QStringLiteral(
        "<interface name=\"org.a11y.atspi.Application\"><property name=\"Id\" type=\"i\" access=\"readwrite\"/>"
        "<property name=\"Version\" type=\"s\" access=\"read\"/></interface>"
        "<interface name=\"org.a11y.atspi.Value\"><property name=\"CurrentValue\" type=\"d\" access=\"readwrite\"/>"
        "</interface>"));
    const QString application = QStringLiteral("org.a11y.atspi.Application");
    const auto sent = [](const QVariant &value) { return QVariant::fromValue(QDBusVariant(value)); };
    EXPECT_TRUE(element.takesValue(application, QStringLiteral("Id"), sent(7)));
    EXPECT_FALSE(element.takesValue(application, QStringLiteral("Id"), sent(QStringLiteral("7"))));
    EXPECT_FALSE(element.takesValue(application, QStringLiteral("Id"), sent(7.0)));
    EXPECT_FALSE(element.takesValue(application, QStringLiteral("Id"), QVariant(7))); // not a variant
    EXPECT_FALSE(element.takesValue(application, QStringLiteral("Nothing"), sent(7)));
    EXPECT_TRUE(element.takesValue(QStringLiteral("org.a11y.atspi.Value"), QStringLiteral("CurrentValue"), sent(0.5)));
    QDBusArgument list;
    list << QStringList{QStringLiteral("a")};
    EXPECT_FALSE(element.takesValue(application, QStringLiteral("Id"), sent(QVariant::fromValue(list))));
}
