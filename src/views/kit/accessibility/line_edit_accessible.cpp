#include "views/kit/accessibility/line_edit_accessible.h"

#include <QAbstractSpinBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QValidator>

#include <algorithm>

namespace tampod {

LineEditAccessible::LineEditAccessible(QLineEdit *edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

QLineEdit *LineEditAccessible::edit() const
{
    return static_cast<QLineEdit *>(widget());
}

QString LineEditAccessible::text(QAccessible::Text t) const
{
    if (t != QAccessible::Value)
        return QAccessibleWidget::text(t);
    return edit()->echoMode() == QLineEdit::NoEcho ? QString() : edit()->displayText();
}

void LineEditAccessible::setText(QAccessible::Text t, const QString &text)
{
    if (t == QAccessible::Value)
        typed(0, int(edit()->text().size()), text);
    else
        QAccessibleWidget::setText(t, text);
}

QAccessible::State LineEditAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.readOnly = edit()->isReadOnly();
    state.passwordEdit = edit()->echoMode() != QLineEdit::Normal;
    state.selectableText = true;
    return state;
}

void *LineEditAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

// A hidden text is read as no text, as Qt's own element reads it.
QString LineEditAccessible::content() const
{
    return edit()->echoMode() == QLineEdit::Normal ? edit()->text() : QString();
}

int LineEditAccessible::cursorPosition() const
{
    return characterOffset(edit()->text(), edit()->cursorPosition());
}

void LineEditAccessible::setCursorPosition(int position)
{
    edit()->setCursorPosition(unitOffset(edit()->text(), position));
}

int LineEditAccessible::selectionCount() const
{
    return edit()->hasSelectedText() ? 1 : 0;
}

void LineEditAccessible::selection(int index, int *start, int *end) const
{
    *start = *end = 0;
    if (index != 0 || !edit()->hasSelectedText())
        return;
    const QString text = edit()->text();
    *start = characterOffset(text, edit()->selectionStart());
    *end = characterOffset(text, edit()->selectionStart() + edit()->selectionLength());
}

void LineEditAccessible::addSelection(int start, int end)
{
    setSelection(0, start, end);
}

void LineEditAccessible::removeSelection(int index)
{
    if (index == 0)
        edit()->deselect();
}

void LineEditAccessible::setSelection(int index, int start, int end)
{
    const QString text = edit()->text();
    if (index == 0)
        edit()->setSelection(unitOffset(text, start), unitOffset(text, end) - unitOffset(text, start));
}

// Measured from the cursor, which the field places itself (after its margins, alignment and
// scrolling).
QRect LineEditAccessible::characterRect(int offset) const
{
    const QString shown = edit()->displayText();
    const int unit = unitOffset(shown, offset);
    if (offset < 0 || unit >= shown.size())
        return {};
    const QRect cursor = edit()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const QFontMetrics metrics(edit()->font());
    const int x = cursor.center().x() + metrics.horizontalAdvance(shown.left(unit))
                  - metrics.horizontalAdvance(shown.left(edit()->cursorPosition()));
    const QPoint topLeft = edit()->mapToGlobal(QPoint(x, cursor.top()));
    const int width = metrics.horizontalAdvance(shown.mid(unit, unitOffset(shown, offset + 1) - unit));
    return {topLeft, QSize(width, cursor.height())};
}

int LineEditAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = edit()->mapFromGlobal(point);
    return edit()->rect().contains(local) ? characterOffset(edit()->text(), edit()->cursorPositionAt(local)) : -1;
}

void LineEditAccessible::scrollToSubstring(int start, int end)
{
    const QString text = edit()->text();
    edit()->setCursorPosition(unitOffset(text, end));
    edit()->setCursorPosition(unitOffset(text, start));
}

void LineEditAccessible::deleteText(int start, int end)
{
    replaceText(start, end, QString());
}

void LineEditAccessible::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void LineEditAccessible::replaceText(int start, int end, const QString &text)
{
    const QString now = edit()->text();
    start = std::clamp(unitOffset(now, start), 0, int(now.size()));
    end = std::clamp(unitOffset(now, end), start, int(now.size()));
    typed(start, end, text);
}

// The views take a field's text when the user edits it (textEdited), never when a program sets
// it: a reader's, a dictation tool's or an on-screen keyboard's edit is typed as the user types
// over a selection, so that it reaches the model and its checks, the field's validator, mask and
// length limit included, and it is undone as typing is.
void LineEditAccessible::typed(int start, int end, const QString &text)
{
    QLineEdit *field = edit();
    if (field->isReadOnly() || !field->isEnabled() || (start == end && text.isEmpty()))
        return;
    QString checked = QString(field->text()).replace(start, end - start, text);
    int position = 0;
    if (const QValidator *validator = field->validator(); validator && validator->validate(checked, position) == QValidator::Invalid)
        return;
    field->setSelection(start, end - start);
    if (text.isEmpty())
        field->del();
    else
        field->insert(text);
    // A box that takes typed digits only on Return or on leaving takes these at once: nothing
    // else would tell it the edit is whole.
    if (auto *box = qobject_cast<QAbstractSpinBox *>(field->parentWidget()); box && !box->keyboardTracking())
        box->interpretText();
}

} // namespace tampod
