#include "views/kit/accessibility/text_view_accessible.h"

#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>

namespace tampod {

namespace {

QPlainTextEdit *plainView(QWidget *widget)
{
    return qobject_cast<QPlainTextEdit *>(widget);
}

QTextEdit *richView(QWidget *widget)
{
    return qobject_cast<QTextEdit *>(widget);
}

} // namespace

TextViewAccessible::TextViewAccessible(QAbstractScrollArea *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{
}

bool TextViewAccessible::serves(const QWidget *widget)
{
    return qobject_cast<const QPlainTextEdit *>(widget) || qobject_cast<const QTextEdit *>(widget);
}

QString TextViewAccessible::content() const
{
    if (QPlainTextEdit *plain = plainView(widget()))
        return plain->toPlainText();
    if (QTextEdit *rich = richView(widget()))
        return rich->toPlainText();
    return {};
}

bool TextViewAccessible::isReadOnly() const
{
    if (QPlainTextEdit *plain = plainView(widget()))
        return plain->isReadOnly();
    QTextEdit *rich = richView(widget());
    return !rich || rich->isReadOnly();
}

QString TextViewAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return content();
    return QAccessibleWidget::text(t);
}

QAccessible::State TextViewAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = isReadOnly();
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

void *TextViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QTextCursor TextViewAccessible::cursor() const
{
    if (QPlainTextEdit *plain = plainView(widget()))
        return plain->textCursor();
    if (QTextEdit *rich = richView(widget()))
        return rich->textCursor();
    return {};
}

void TextViewAccessible::setCursor(const QTextCursor &cursor)
{
    if (QPlainTextEdit *plain = plainView(widget()))
        plain->setTextCursor(cursor);
    else if (QTextEdit *rich = richView(widget()))
        rich->setTextCursor(cursor);
}

QTextCursor TextViewAccessible::cursorAt(int offset) const
{
    QTextCursor at = cursor();
    const QString whole = content();
    at.setPosition(std::clamp(unitOffset(whole, offset), 0, int(whole.size())));
    return at;
}

QRect TextViewAccessible::cursorRect(const QTextCursor &at) const
{
    if (QPlainTextEdit *plain = plainView(widget()))
        return plain->cursorRect(at);
    if (QTextEdit *rich = richView(widget()))
        return rich->cursorRect(at);
    return {};
}

QTextCursor TextViewAccessible::cursorFor(const QPoint &viewportPoint) const
{
    if (QPlainTextEdit *plain = plainView(widget()))
        return plain->cursorForPosition(viewportPoint);
    if (QTextEdit *rich = richView(widget()))
        return rich->cursorForPosition(viewportPoint);
    return {};
}

int TextViewAccessible::cursorPosition() const
{
    return characterOffset(content(), cursor().position());
}

void TextViewAccessible::setCursorPosition(int position)
{
    setCursor(cursorAt(position));
}

int TextViewAccessible::selectionCount() const
{
    return cursor().hasSelection() ? 1 : 0;
}

void TextViewAccessible::selection(int index, int *start, int *end) const
{
    *start = *end = 0;
    const QTextCursor now = cursor();
    if (index != 0 || !now.hasSelection())
        return;
    const QString whole = content();
    *start = characterOffset(whole, now.selectionStart());
    *end = characterOffset(whole, now.selectionEnd());
}

void TextViewAccessible::addSelection(int start, int end)
{
    setSelection(0, start, end);
}

void TextViewAccessible::removeSelection(int index)
{
    if (index != 0)
        return;
    QTextCursor now = cursor();
    now.clearSelection();
    setCursor(now);
}

void TextViewAccessible::setSelection(int index, int start, int end)
{
    if (index != 0)
        return;
    QTextCursor selected = cursorAt(start);
    selected.setPosition(cursorAt(end).position(), QTextCursor::KeepAnchor);
    setCursor(selected);
}

// From the cursor's place before the character to its place after it, on the character's line.
QRect TextViewAccessible::characterRect(int offset) const
{
    if (offset < 0 || offset >= characterCount())
        return {};
    auto *view = static_cast<QAbstractScrollArea *>(widget());
    const QRect before = cursorRect(cursorAt(offset));
    const QRect after = cursorRect(cursorAt(offset + 1));
    const int width = after.top() == before.top() ? std::max(after.left() - before.left(), 1) : 1;
    return {view->viewport()->mapToGlobal(before.topLeft()), QSize(width, before.height())};
}

int TextViewAccessible::offsetAtPoint(const QPoint &point) const
{
    auto *view = static_cast<QAbstractScrollArea *>(widget());
    const QPoint local = view->viewport()->mapFromGlobal(point);
    if (!view->viewport()->rect().contains(local))
        return -1;
    return characterOffset(content(), cursorFor(local).position());
}

void TextViewAccessible::scrollToSubstring(int start, int end)
{
    setCursor(cursorAt(end));
    setCursor(cursorAt(start));
}

} // namespace tampod
