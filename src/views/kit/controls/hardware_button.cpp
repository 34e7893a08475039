#include "views/kit/controls/hardware_button.h"

#include "views/kit/controls/continuous_corners.h"
#include "views/kit/design_scale.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"

#include <QPainter>

namespace tampod {

QColor HardwareButtonStyle::labelColor(bool enabled) const
{
    if (blueReady && enabled)
        return Theme::brightText;
    if (active)
        return Theme::accent;
    if (face)
        return Theme::faceLabel;
    return enabled ? Theme::controlLabel : Theme::disabledControlLabel;
}

std::optional<QColor> HardwareButtonStyle::faceColor(bool enabled, bool pressed) const
{
    if (!face)
        return std::nullopt;
    if (blueReady && enabled)
        return Theme::systemBlue;
    return pressed ? Theme::pressedFace : Theme::face;
}

HardwareButton::HardwareButton(QSizeF designSize, QWidget *parent)
    : QAbstractButton(parent)
    , designSize_(designSize)
{
    DesignScale::setDesignSize(this, designSize);
    setFocusPolicy(Qt::TabFocus);
    makeAccessible(this, QAccessible::Button);
}

void HardwareButton::setButtonStyle(const HardwareButtonStyle &style)
{
    if (isCheckable())
        setChecked(style.active);
    if (style_ == style)
        return;
    style_ = style;
    update();
}

void HardwareButton::setToggle(bool toggle)
{
    setCheckable(toggle);
    setChecked(toggle && style_.active);
}

void HardwareButton::setLabelPath(const QPainterPath &path)
{
    labelPath_ = path;
    setText(QString());
    update();
}

void HardwareButton::setGlyph(TransportGlyph::Symbol symbol, double side)
{
    const QRectF frame((designSize_.width() - side) / 2, (designSize_.height() - side) / 2, side, side);
    setLabelPath(TransportGlyph{symbol}.path(frame));
}

void HardwareButton::setLabelText(const QString &text, double pixelSize, bool bold)
{
    labelPath_ = QPainterPath();
    textSize_ = pixelSize;
    bold_ = bold;
    setText(text);
    update();
}

QSize HardwareButton::sizeHint() const
{
    return designSize_.toSize();
}

void HardwareButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The face fills the frame the layout rounded, edge to edge.
    const QSizeF s = DesignScale::stretch(this);
    painter.scale(s.width(), s.height());
    const bool enabled = isEnabled();
    const bool pressed = isDown();
    painter.setOpacity(HardwareButtonStyle::opacity(pressed));
    const QRectF frame(QPointF(0, 0), designSize_);
    if (const auto fill = style_.faceColor(enabled, pressed))
        painter.fillPath(continuousRoundedRect(frame, HardwareButtonStyle::cornerRadius), *fill);
    const QColor color = style_.labelColor(enabled);
    if (!labelPath_.isEmpty())
        painter.fillPath(labelPath_, color);
    if (!text().isEmpty()) {
        QFont font = this->font();
        font.setPixelSize(qRound(textSize_));
        font.setBold(bold_);
        painter.setFont(font);
        painter.setPen(color);
        painter.drawText(frame, Qt::AlignCenter, text());
    }
}

} // namespace tampod
