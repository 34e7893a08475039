#include "views/main/seven_segment_display.h"

#include "views/kit/design_scale.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/main_view_texts.h"

#include <QPainter>

#include <algorithm>
#include <array>

namespace tampod {

namespace {

// Segments a … g: x, y, width, height in a digit cell.
constexpr std::array<QRectF, 7> segments = {
    QRectF(2, 0, 13, 2.5),   QRectF(14.5, 2, 2.5, 11), QRectF(14.5, 15, 2.5, 11), QRectF(2, 25.5, 13, 2.5),
    QRectF(0, 15, 2.5, 11),  QRectF(0, 2, 2.5, 11),    QRectF(2, 12.75, 13, 2.5),
};

constexpr std::array<std::uint8_t, 10> digitMasks = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

constexpr double bevel = 1.25;

} // namespace

SevenSegmentDisplay::SevenSegmentDisplay(QWidget *parent)
    : QWidget(parent)
{
    makeAccessible(this, QAccessible::StaticText);
    setAccessibleName(MainViewText::elapsedTime);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SevenSegmentDisplay::setText(const QString &text)
{
    if (text_ == text)
        return;
    text_ = text;
    setAccessibleValue(this, text);
    update();
}

void SevenSegmentDisplay::setColor(const QColor &color)
{
    if (color_ == color)
        return;
    color_ = color;
    update();
}

std::uint8_t SevenSegmentDisplay::mask(QChar character)
{
    const char16_t code = character.unicode();
    return code >= u'0' && code <= u'9' ? digitMasks[code - u'0'] : 0;
}

QPainterPath SevenSegmentDisplay::segmentPath(int segment)
{
    QPainterPath path;
    if (segment < 0 || segment >= int(segments.size()))
        return path;
    const QRectF r = segments[segment];
    if (r.width() > r.height()) {
        const double middle = r.center().y();
        path.moveTo(r.left(), middle);
        path.lineTo(r.left() + bevel, r.top());
        path.lineTo(r.right() - bevel, r.top());
        path.lineTo(r.right(), middle);
        path.lineTo(r.right() - bevel, r.bottom());
        path.lineTo(r.left() + bevel, r.bottom());
    } else {
        const double middle = r.center().x();
        path.moveTo(middle, r.top());
        path.lineTo(r.right(), r.top() + bevel);
        path.lineTo(r.right(), r.bottom() - bevel);
        path.lineTo(middle, r.bottom());
        path.lineTo(r.left(), r.bottom() - bevel);
        path.lineTo(r.left(), r.top() + bevel);
    }
    path.closeSubpath();
    return path;
}

void SevenSegmentDisplay::paint(QPainter &painter, const QRectF &rect, const QString &text, const QColor &color)
{
    const double s = DesignScale::fit(rect.size(), QSizeF(designWidth, designHeight));
    if (!(s > 0))
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.left() + (rect.width() - designWidth * s) / 2,
                      rect.top() + (rect.height() - designHeight * s) / 2);
    painter.scale(s, s);
    QColor unlit = color;
    unlit.setAlphaF(unlit.alphaF() * float(unlitOpacity));
    double x = 0;
    for (const QChar character : QStringView(text).left(maxCharacters)) {
        if (character == u':') {
            painter.fillRect(QRectF(x + 1, 8, 2, 2), color);
            painter.fillRect(QRectF(x + 1, 20, 2, 2), color);
            x += colonAdvance;
            continue;
        }
        const std::uint8_t lit = mask(character);
        for (int i = 0; i < int(segments.size()); ++i)
            painter.fillPath(segmentPath(i).translated(x, 0), (lit >> i) & 1 ? color : unlit);
        x += digitAdvance;
    }
    painter.restore();
}

void SevenSegmentDisplay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, rect(), text_, color_);
}

} // namespace tampod
