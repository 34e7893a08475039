#pragma once

#include "views/kit/accessibility/bounded_accessible_text.h"

#include <QAccessibleWidget>

class QLineEdit;

namespace tampod {

// Every line edit's element, from the kit's one accessible-interface factory, in place of Qt's
// own, whose word, sentence and line questions at the end of the text never return. The same
// element otherwise: an editable text whose value is the text shown (masked for a password),
// whose text a screen reader reads, selects and edits. thread: main only.
class LineEditAccessible final : public QAccessibleWidget,
                                 public BoundedAccessibleText,
                                 public QAccessibleEditableTextInterface {
public:
    explicit LineEditAccessible(QLineEdit *edit);

    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text t, const QString &text) override;
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

    // QAccessibleEditableTextInterface
    void deleteText(int start, int end) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int start, int end, const QString &text) override;

protected:
    QString content() const override;

private:
    QLineEdit *edit() const;
    // The text from start to end (in code units) replaced by text, as the user would type it.
    void typed(int start, int end, const QString &text);
};

} // namespace tampod
