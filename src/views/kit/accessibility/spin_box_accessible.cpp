#include "views/kit/accessibility/spin_box_accessible.h"

#include <QAbstractSpinBox>
#include <QLineEdit>

namespace tampod {

SpinBoxAccessible::SpinBoxAccessible(QAbstractSpinBox *box) : QAccessibleWidget(box, QAccessible::SpinBox) {}

QAbstractSpinBox *SpinBoxAccessible::box() const
{
    return static_cast<QAbstractSpinBox *>(widget());
}

// A whole or decimal number box; a date or time box has no numeric value.
bool SpinBoxAccessible::hasRange() const
{
    return box()->property("value").canConvert<double>() && box()->property("minimum").isValid();
}

QAccessibleInterface *SpinBoxAccessible::field() const
{
    auto *edit = box()->findChild<QLineEdit *>(QString(), Qt::FindDirectChildrenOnly);
    return edit ? QAccessible::queryAccessibleInterface(edit) : nullptr;
}

QString SpinBoxAccessible::text(QAccessible::Text t) const
{
    return t == QAccessible::Value ? box()->text() : QAccessibleWidget::text(t);
}

void *SpinBoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface && hasRange())
        return static_cast<QAccessibleValueInterface *>(this);
    // The text, read and edited, is the field's: its own element answers for the box.
    if (type == QAccessible::TextInterface || type == QAccessible::EditableTextInterface)
        if (QAccessibleInterface *edit = field())
            return edit->interface_cast(type);
    return QAccessibleWidget::interface_cast(type);
}

QVariant SpinBoxAccessible::currentValue() const
{
    return box()->property("value");
}

void SpinBoxAccessible::setCurrentValue(const QVariant &value)
{
    if (box()->isEnabled() && !box()->isReadOnly())
        box()->setProperty("value", value); // the box keeps it within its range
}

QVariant SpinBoxAccessible::maximumValue() const
{
    return box()->property("maximum");
}

QVariant SpinBoxAccessible::minimumValue() const
{
    return box()->property("minimum");
}

QVariant SpinBoxAccessible::minimumStepSize() const
{
    return box()->property("singleStep");
}

} // namespace tampod
