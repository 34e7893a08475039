#include "views/kit/accessibility/accessible_value_source.h"

#include "views/kit/accessibility/view_accessibility.h"

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
    // Computed on request, the value before is not kept by the source: the last one announced
    // stands in for it, so a text change names what it replaces.
    static const char *const announced = "tampodAnnouncedValue";
    const QString previous = widget->property(announced).toString();
    if (previous == value)
        return;
    widget->setProperty(announced, value);
    announceValueChange(widget, previous, value);
}

} // namespace tampod
