#pragma once

#include "views/kit/accessibility/accessible_value_source.h"
#include "views/kit/binding.h"

#include <QAbstractSlider>
#include <QMetaObject>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

class QMouseEvent;

namespace tampod {

// A horizontal hardware slider over 0…1: a flat groove and a triangle or bar knob, drawn at a
// fixed design size and scaled with its width. It shows its binding's value clamped to 0…1
// and writes every position the user drags it to (always within 0…1) through the binding.
// Being a QAbstractSlider, it takes the keyboard focus, steps with the arrow and Page keys and
// offers a screen reader the value interface; those changes go through the same binding.
// Each finished change (a released drag, a key step, a screen reader's set) is also reported
// once through valueCommitted, for work too heavy for every step of a drag.
// A screen reader hears its value text (a percentage unless set otherwise): at once after the
// user's change, and after a change of the binding only once the text changes, so a value the
// program moves all the time (a playback position) is announced no more often than its text
// changes. Disabled, it is drawn the same and ignores the mouse. thread: main.
class HardwareSlider : public QAbstractSlider, public AccessibleValueSource {
    Q_OBJECT

public:
    enum class Handle { triangle, bar };

    static constexpr double knobWidth = 16;
    static constexpr double knobHeight = 26;
    static constexpr double grooveHeight = 5;
    // The integer range QAbstractSlider steps in; an arrow key moves 1 %, a Page key 10 %.
    static constexpr int steps = 1000;

    HardwareSlider(QSizeF designSize, Handle handle, const QString &label, QWidget *parent = nullptr);

    // Replaces the binding and shows its value; later changes of the value are shown too.
    void setBinding(Binding<double> binding);
    void setGreenHandle(bool green);
    bool greenHandle() const { return greenHandle_; }
    Handle handle() const { return handle_; }

    // The shown value, 0…1 (QAbstractSlider's integer value is its nearest step).
    double value() const { return value_; }
    // Re-reads the binding.
    void refresh();
    // The value as a screen reader hears it, in place of the percentage.
    void setValueText(std::function<QString()> text);

    // The value under a design x, and the knob's centre for a value (design units).
    double valueAt(double designX) const;
    double knobCentre(double value) const;

    QSizeF designSize() const { return designSize_; }
    QSize sizeHint() const override;

    QString accessibleValue() const override;
    bool isAdjustable() const override { return true; }
    void accessibleAdjust(bool increment) override;
    std::optional<AccessibleRange> accessibleRange() const override;
    void setAccessibleCurrent(double value) override;

Q_SIGNALS:
    // The user finished a change: a drag was released elsewhere than it began, or a key or a
    // screen reader set a new value.
    void valueCommitted(double value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    double designX(const QMouseEvent *event) const;
    void userMoved(double designX);
    // Shows value and writes it through the binding.
    void write(double value);
    // Shows value; the user's change moves the integer steps (and tells a screen reader) at once,
    // any other only when the value text changes.
    void showValue(double value, bool byUser);
    // Moves the integer steps to the shown value without reporting it as the user's.
    void alignSteps();

    QSizeF designSize_;
    Handle handle_;
    bool greenHandle_ = false;
    double value_ = 0;
    std::optional<Binding<double>> binding_;
    QMetaObject::Connection subscription_;
    // While dragging: where on the knob it was grabbed, in design units.
    std::optional<double> grab_;
    // While dragging: the value before the press, to tell whether the drag changed it.
    double pressValue_ = 0;
    std::function<QString()> valueText_;
    // The value text when the integer steps last moved.
    QString announced_;
};

} // namespace tampod
