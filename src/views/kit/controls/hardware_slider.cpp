#include "views/kit/controls/hardware_slider.h"

#include "views/kit/design_scale.h"
#include "views/kit/theme.h"
#include "views/kit/view_accessibility.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

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
    : QWidget(parent)
    , designSize_(designSize)
    , handle_(handle)
{
    DesignScale::setDesignSize(this, designSize);
    setFocusPolicy(Qt::NoFocus);
    makeAccessible(this, QAccessible::Slider);
    setAccessibleName(label);
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
    const double value = binding_ ? clamped(binding_->get()) : 0;
    if (value == value_)
        return;
    value_ = value;
    update();
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
    userMoved(x);
}

void HardwareSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (grab_ && isEnabled())
        userMoved(designX(event));
}

void HardwareSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        grab_.reset();
}

void HardwareSlider::userMoved(double designX)
{
    const double value = valueAt(designX - grab_.value_or(0));
    if (value != value_) {
        value_ = value;
        update();
    }
    if (binding_)
        binding_->set(value);
}

} // namespace tampod
