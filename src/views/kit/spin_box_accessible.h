#pragma once

#include "views/kit/bounded_accessible_text.h"

#include <QAccessibleWidget>

class QAbstractSpinBox;

namespace tampod {

// Every spin box's element, from the kit's one accessible-interface factory, in place of Qt's
// own, which reads its text through a line-edit element of its own making whose word, sentence
// and line questions at the end of the text never return. The same element otherwise: a spin
// box whose value is its text, with a range where it has a numeric value, and its text and
// editing those of its field's element. thread: main only.
class SpinBoxAccessible final : public QAccessibleWidget,
                                public QAccessibleValueInterface,
                                public BoundedAccessibleText,
                                public QAccessibleEditableTextInterface {
public:
    explicit SpinBoxAccessible(QAbstractSpinBox *box);

    QString text(QAccessible::Text t) const override;
    void *interface_cast(QAccessible::InterfaceType type) override;
    // The field is part of the box, not an element of its own.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    // QAccessibleValueInterface, read from the box's value property
    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

    // QAccessibleTextInterface, the field's
    QString text(int start, int end) const override;
    int characterCount() const override;
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
    QString attributes(int offset, int *start, int *end) const override;

    // QAccessibleEditableTextInterface, the field's
    void deleteText(int start, int end) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int start, int end, const QString &text) override;

private:
    QAbstractSpinBox *box() const;
    bool hasRange() const;
    // The field's text element; null while the box has no field.
    QAccessibleInterface *field() const;
    QAccessibleTextInterface *fieldText() const;
    QAccessibleEditableTextInterface *fieldEditing() const;
};

} // namespace tampod
