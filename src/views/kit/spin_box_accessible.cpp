#include "views/kit/spin_box_accessible.h"

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

QAccessibleTextInterface *SpinBoxAccessible::fieldText() const
{
    QAccessibleInterface *edit = field();
    return edit ? edit->textInterface() : nullptr;
}

QAccessibleEditableTextInterface *SpinBoxAccessible::fieldEditing() const
{
    QAccessibleInterface *edit = field();
    return edit ? edit->editableTextInterface() : nullptr;
}

QString SpinBoxAccessible::text(QAccessible::Text t) const
{
    return t == QAccessible::Value ? box()->text() : QAccessibleWidget::text(t);
}

void *SpinBoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface && hasRange())
        return static_cast<QAccessibleValueInterface *>(this);
    if (type == QAccessible::TextInterface && fieldText())
        return static_cast<QAccessibleTextInterface *>(this);
    if (type == QAccessible::EditableTextInterface && fieldEditing())
        return static_cast<QAccessibleEditableTextInterface *>(this);
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

QString SpinBoxAccessible::text(int start, int end) const
{
    QAccessibleTextInterface *text = fieldText();
    return text ? text->text(start, end) : QString();
}

int SpinBoxAccessible::characterCount() const
{
    QAccessibleTextInterface *text = fieldText();
    return text ? text->characterCount() : 0;
}

int SpinBoxAccessible::cursorPosition() const
{
    QAccessibleTextInterface *text = fieldText();
    return text ? text->cursorPosition() : 0;
}

void SpinBoxAccessible::setCursorPosition(int position)
{
    if (QAccessibleTextInterface *text = fieldText())
        text->setCursorPosition(position);
}

int SpinBoxAccessible::selectionCount() const
{
    QAccessibleTextInterface *text = fieldText();
    return text ? text->selectionCount() : 0;
}

void SpinBoxAccessible::selection(int index, int *start, int *end) const
{
    *start = *end = 0;
    if (QAccessibleTextInterface *text = fieldText())
        text->selection(index, start, end);
}

void SpinBoxAccessible::addSelection(int start, int end)
{
    if (QAccessibleTextInterface *text = fieldText())
        text->addSelection(start, end);
}

void SpinBoxAccessible::removeSelection(int index)
{
    if (QAccessibleTextInterface *text = fieldText())
        text->removeSelection(index);
}

void SpinBoxAccessible::setSelection(int index, int start, int end)
{
    if (QAccessibleTextInterface *text = fieldText())
        text->setSelection(index, start, end);
}

QRect SpinBoxAccessible::characterRect(int offset) const
{
    QAccessibleTextInterface *text = fieldText();
    return text ? text->characterRect(offset) : QRect();
}

int SpinBoxAccessible::offsetAtPoint(const QPoint &point) const
{
    QAccessibleTextInterface *text = fieldText();
    return text ? text->offsetAtPoint(point) : -1;
}

void SpinBoxAccessible::scrollToSubstring(int start, int end)
{
    if (QAccessibleTextInterface *text = fieldText())
        text->scrollToSubstring(start, end);
}

QString SpinBoxAccessible::attributes(int, int *start, int *end) const
{
    *start = 0;
    *end = characterCount();
    return {};
}

void SpinBoxAccessible::deleteText(int start, int end)
{
    if (QAccessibleEditableTextInterface *editing = fieldEditing())
        editing->deleteText(start, end);
}

void SpinBoxAccessible::insertText(int offset, const QString &text)
{
    if (QAccessibleEditableTextInterface *editing = fieldEditing())
        editing->insertText(offset, text);
}

void SpinBoxAccessible::replaceText(int start, int end, const QString &text)
{
    if (QAccessibleEditableTextInterface *editing = fieldEditing())
        editing->replaceText(start, end, text);
}

} // namespace tampod
