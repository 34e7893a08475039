#pragma once

#include "views/kit/accessibility/bounded_accessible_text.h"

#include <QAccessibleWidget>
#include <QTextCursor>

class QAbstractScrollArea;

namespace tampod {

// Every multi-line text view's element (QPlainTextEdit, QTextEdit), from the kit's one
// accessible-interface factory, in place of Qt's own, whose word and line questions answer
// wrong pieces and whose offsets before the text or past it answer as if they were 0. The views
// of this program are read-only: a reader reads, selects and moves the cursor in the text,
// and edits nothing. thread: main only.
class TextViewAccessible final : public QAccessibleWidget, public BoundedAccessibleText {
public:
    explicit TextViewAccessible(QAbstractScrollArea *view);

    // Whether the factory gives widget this element.
    static bool serves(const QWidget *widget);

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTextInterface
    using BoundedAccessibleText::text;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    int selectionCount() const override;
    void selection(int index, int *start, int *end) const override;
    void addSelection(int start, int end) override;
    void removeSelection(int index) override;
    void setSelection(int index, int start, int end) override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int start, int end) override;

protected:
    QString content() const override;

private:
    QTextCursor cursor() const;
    void setCursor(const QTextCursor &cursor);
    // A cursor at a character offset of the text, clamped to it.
    QTextCursor cursorAt(int offset) const;
    QRect cursorRect(const QTextCursor &at) const;
    QTextCursor cursorFor(const QPoint &viewportPoint) const;
    bool isReadOnly() const;
};

} // namespace tampod
