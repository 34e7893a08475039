#include "views/kit/accessible_value_source.h"

#include "views/kit/view_accessibility.h"

#include <QAccessible>
#include <QWidget>

namespace tampod {

void AccessibleValueSource::install()
{
    installAccessibleFactory();
}

void AccessibleValueSource::valueChanged(QWidget *widget)
{
    if (!QAccessible::isActive())
        return;
    auto *source = dynamic_cast<AccessibleValueSource *>(widget);
    const QString value = source ? source->accessibleValue() : QString();
    if (source && source->accessibleRange()) {
        QAccessibleValueChangeEvent event(widget, value);
        QAccessible::updateAccessibility(&event);
        return;
    }
    // Without a range the value is the element's text, and the bus carries its change as a
    // text change (a value change it would refuse for want of a range).
    static const char *const announced = "tampodAnnouncedValue";
    const QString previous = widget->property(announced).toString();
    if (previous == value)
        return;
    widget->setProperty(announced, value);
    QAccessibleTextUpdateEvent event(widget, 0, previous, value);
    QAccessible::updateAccessibility(&event);
}

} // namespace tampod
