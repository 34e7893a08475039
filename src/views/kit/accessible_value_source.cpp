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
    QAccessibleValueChangeEvent event(widget, source ? source->accessibleValue() : QString());
    QAccessible::updateAccessibility(&event);
}

} // namespace tampod
