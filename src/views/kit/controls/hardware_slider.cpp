#include "views/kit/controls/hardware_slider.h"

#include "views/kit/design_scale.h"
#include "views/kit/theme.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace tampod {

namespace {

double clamped(double value)
{
    return std::isnan(value) ? 0 : std::clamp(value, 0.0, 1.0);
}

} // namespace

HardwareSlider::HardwareSlider(QSizeF designSize, Handle handle, const QString &label, QWidget *parent)
    : QAbstractSlider(parent)
    , designSize_(designSize)
    , handle_(handle)
{
    DesignScale::setDesignSize(this, designSize);
    setOrientation(Qt::Horizontal);
    setRange(0, steps);
    setSingleStep(steps / 100);
    setPageStep(steps / 10);
    // Like the hardware buttons: reached with Tab, so a click leaves the window's keys alone.
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(label);
    // Keys, a screen reader's value and its increase/decrease actions all land here; a drag
    // writes its exact position instead, with the steps blocked.
    connect(this, &QAbstractSlider::valueChanged, this, [this](int step) { write(double(step) / steps); });
}

void HardwareSlider::setBinding(Binding<double> binding)
{
    QObject::disconnect(subscription_);
    binding_ = std::move(binding);
    subscription_ = binding_->onChange(this, [this] { refresh(); });
    refresh();
}

void HardwareSlider::refresh()
{
    showValue(binding_ ? clamped(binding_->get()) : 0, false);
}

void HardwareSlider::setValueText(std::function<QString()> text)
{
    valueText_ = std::move(text);
}

void HardwareSlider::showValue(double value, bool byUser)
{
    if (value == value_)
        return;
    value_ = value;
    // QAbstractSlider tells a screen reader of every move of its steps.
    if (byUser || accessibleValue() != announced_)
        alignSteps();
    update();
}

void HardwareSlider::alignSteps()
{
    announced_ = accessibleValue();
    const QSignalBlocker blocker(this);
    setValue(int(std::lround(value_ * steps)));
}

void HardwareSlider::write(double value)
{
    const double before = value_;
    showValue(clamped(value), true);
    if (binding_)
        binding_->set(value_);
    if (!grab_ && value_ != before)
        Q_EMIT valueCommitted(value_);
}

void HardwareSlider::setGreenHandle(bool green)
{
    if (greenHandle_ == green)
        return;
    greenHandle_ = green;
    update();
}

double HardwareSlider::valueAt(double designX) const
{
    const double travel = designSize_.width() - knobWidth;
    return travel > 0 ? clamped((designX - knobWidth / 2) / travel) : 0;
}

double HardwareSlider::knobCentre(double value) const
{
    return knobWidth / 2 + clamped(value) * (designSize_.width() - knobWidth);
}

QSize HardwareSlider::sizeHint() const
{
    return designSize_.toSize();
}

QString HardwareSlider::accessibleValue() const
{
    if (valueText_)
        return valueText_();
    return QString::number(std::lround(value_ * 100)) + QStringLiteral("%");
}

void HardwareSlider::accessibleAdjust(bool increment)
{
    if (!isEnabled())
        return;
    alignSteps();
    triggerAction(increment ? SliderSingleStepAdd : SliderSingleStepSub);
}

std::optional<AccessibleValueSource::AccessibleRange> HardwareSlider::accessibleRange() const
{
    return AccessibleRange{0, 1, value_, double(singleStep()) / steps};
}

void HardwareSlider::setAccessibleCurrent(double value)
{
    if (isEnabled() && !std::isnan(value))
        write(value);
}

double HardwareSlider::designX(const QMouseEvent *event) const
{
    // The scale the groove and knob are drawn at, so the knob is where it is seen.
    return event->position().x() / DesignScale::stretch(this).width();
}

void HardwareSlider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Groove and knob fill the frame the layout rounded, edge to edge.
    const QSizeF s = DesignScale::stretch(this);
    painter.scale(s.width(), s.height());
    const double middle = designSize_.height() / 2;
    painter.fillRect(QRectF(0, middle - grooveHeight / 2, designSize_.width(), grooveHeight), Theme::sliderGroove);

    const QPointF centre(knobCentre(value_), middle);
    const QColor knob = greenHandle_ ? Theme::accent : Theme::sliderKnob;
    QPainterPath shape;
    if (handle_ == Handle::triangle) {
        shape.moveTo(centre + QPointF(0, -8));
        shape.lineTo(centre + QPointF(7.5, 7));
        shape.lineTo(centre + QPointF(-7.5, 7));
        shape.closeSubpath();
    } else {
        shape.addRoundedRect(QRectF(centre.x() - 3.5, centre.y() - 12, 7, 24), 1.5, 1.5);
    }
    painter.fillPath(shape, knob);
}

void HardwareSlider::mousePressEvent(QMouseEvent *event)
{
    if (!isEnabled() || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const double x = designX(event);
    const double knob = knobCentre(value_);
    // Grabbing the knob keeps it under the pointer; a click beside it jumps there.
    grab_ = std::abs(x - knob) <= knobWidth / 2 ? x - knob : 0;
    pressValue_ = value_;
    userMoved(x);
}

void HardwareSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (grab_ && isEnabled())
        userMoved(designX(event));
}

void HardwareSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !grab_)
        return;
    grab_.reset();
    if (value_ != pressValue_)
        Q_EMIT valueCommitted(value_);
}

void HardwareSlider::wheelEvent(QWheelEvent *event)
{
    // The wheel scrolls what lies beneath, as before this was a slider.
    event->ignore();
}

// A key steps from the value shown, which the steps may not have followed yet.
void HardwareSlider::keyPressEvent(QKeyEvent *event)
{
    alignSteps();
    QAbstractSlider::keyPressEvent(event);
}

void HardwareSlider::userMoved(double designX)
{
    write(valueAt(designX - grab_.value_or(0)));
}

} // namespace tampod
