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
    // Computed on request, the value before is gone; only a text change would need it, and a
    // source's interface offers no text.
    auto *source = dynamic_cast<AccessibleValueSource *>(widget);
    announceValueChange(widget, QString(), source ? source->accessibleValue() : QString());
}

} // namespace tampod
