#pragma once

#include "views/kit/binding.h"

#include <QMetaObject>
#include <QSizeF>
#include <QString>
#include <QWidget>

#include <optional>

class QMouseEvent;

namespace tampod {

// A horizontal hardware slider over 0…1: a flat groove and a triangle or bar knob, drawn at a
// fixed design size and scaled with its width. It shows its binding's value clamped to 0…1
// and writes every position the user drags it to (always within 0…1) through the binding.
// Disabled, it is drawn the same and ignores the mouse. thread: main.
class HardwareSlider : public QWidget {
    Q_OBJECT

public:
    enum class Handle { triangle, bar };

    static constexpr double knobWidth = 16;
    static constexpr double knobHeight = 26;
    static constexpr double grooveHeight = 5;

    HardwareSlider(QSizeF designSize, Handle handle, const QString &label, QWidget *parent = nullptr);

    // Replaces the binding and shows its value; later changes of the value are shown too.
    void setBinding(Binding<double> binding);
    void setGreenHandle(bool green);
    bool greenHandle() const { return greenHandle_; }
    Handle handle() const { return handle_; }

    // The shown value, 0…1.
    double value() const { return value_; }
    // Re-reads the binding.
    void refresh();

    // The value under a design x, and the knob's centre for a value (design units).
    double valueAt(double designX) const;
    double knobCentre(double value) const;

    QSizeF designSize() const { return designSize_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    double designX(const QMouseEvent *event) const;
    void userMoved(double designX);

    QSizeF designSize_;
    Handle handle_;
    bool greenHandle_ = false;
    double value_ = 0;
    std::optional<Binding<double>> binding_;
    QMetaObject::Connection subscription_;
    // While dragging: where on the knob it was grabbed, in design units.
    std::optional<double> grab_;
};

} // namespace tampod
