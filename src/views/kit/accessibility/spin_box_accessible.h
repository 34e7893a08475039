#pragma once

#include <QAccessibleWidget>

class QAbstractSpinBox;

namespace tampod {

// Every spin box's element, from the kit's one accessible-interface factory, in place of Qt's
// own, which reads its text through a line-edit element of its own making whose word, sentence
// and line questions at the end of the text never return. The same element otherwise: a spin
// box whose value is its text, with a range where it has a numeric value, whose text interfaces
// are those of its field's element (the kit's LineEditAccessible). thread: main only.
class SpinBoxAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
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

private:
    QAbstractSpinBox *box() const;
    bool hasRange() const;
    // The field's element; null while the box has no field.
    QAccessibleInterface *field() const;
};

} // namespace tampod
