#include "views/kit/hardware_button.h"

#include "views/kit/continuous_corners.h"
#include "views/kit/theme.h"
#include "views/kit/view_accessibility.h"

#include <QPainter>

namespace tampod {

namespace {

QColor grey(double white)
{
    return QColor::fromRgbF(float(white), float(white), float(white));
}

// The system's blue of the dark appearance.
const QColor systemBlue = QColor::fromRgbF(0.039f, 0.518f, 1.0f);

} // namespace

QColor HardwareButtonStyle::labelColor(bool enabled) const
{
    if (blueReady && enabled)
        return Qt::white;
    if (active)
        return Theme::accent;
    if (face)
        return grey(0.1);
    return grey(enabled ? 0.82 : 0.65);
}

std::optional<QColor> HardwareButtonStyle::faceColor(bool enabled, bool pressed) const
{
    if (!face)
        return std::nullopt;
    if (blueReady && enabled)
        return systemBlue;
    return grey(pressed ? 0.55 : 0.48);
}

HardwareButton::HardwareButton(QSizeF designSize, QWidget *parent)
    : QAbstractButton(parent)
    , designSize_(designSize)
{
    setFocusPolicy(Qt::TabFocus);
    makeAccessible(this, QAccessible::Button);
}

void HardwareButton::setButtonStyle(const HardwareButtonStyle &style)
{
    if (style_ == style)
        return;
    style_ = style;
    update();
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
    // The layout rounds edges, so the two scales may differ by a fraction of a pixel.
    painter.scale(width() / designSize_.width(), height() / designSize_.height());
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
