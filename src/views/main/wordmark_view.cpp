#include "views/main/wordmark_view.h"

#include "views/kit/controls/continuous_corners.h"
#include "views/kit/design_scale.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/main_view_texts.h"

#include <QPainter>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tampod {

namespace {

constexpr double letterWeight = 6;

// An open polyline from points.
void polyline(QPainterPath &path, std::initializer_list<QPointF> points)
{
    auto point = points.begin();
    path.moveTo(*point);
    for (++point; point != points.end(); ++point)
        path.lineTo(*point);
}

// The centre lines of the letters; the letters are their strokes' outlines.
QPainterPath letterStrokes()
{
    QPainterPath path;
    // t
    polyline(path, {{70, 12}, {70, 42}, {83, 42}});
    polyline(path, {{65, 23}, {83, 23}});
    // a
    polyline(path, {{103, 23}, {133, 23}, {133, 42}, {103, 42}, {103, 32}, {133, 32}});
    // m
    polyline(path, {{153, 42}, {153, 23}, {195, 23}, {195, 42}});
    polyline(path, {{174, 23}, {174, 42}});
    // P
    path.moveTo(215, 42);
    path.lineTo(215, 12);
    path.lineTo(240, 12);
    path.cubicTo(246, 12, 249, 15, 249, 21);
    path.lineTo(249, 24);
    path.cubicTo(249, 30, 246, 33, 240, 33);
    path.lineTo(215, 33);
    // O
    path.addPath(continuousRoundedRect(QRectF(269, 12, 42, 30), 8));
    // D
    path.moveTo(331, 12);
    path.lineTo(353, 12);
    path.cubicTo(363, 12, 369, 18, 369, 27);
    path.cubicTo(369, 36, 363, 42, 353, 42);
    path.lineTo(331, 42);
    path.closeSubpath();
    return path;
}

// A separable box blur, three passes: close to a Gaussian shadow of the given radius.
void blur(QImage &image, double radius)
{
    const int r = std::max(1, int(std::lround(radius / 2)));
    const int w = image.width(), h = image.height();
    std::vector<int> line(std::max(w, h));
    for (int pass = 0; pass < 3; ++pass) {
        for (int horizontal = 0; horizontal < 2; ++horizontal) {
            const int length = horizontal ? w : h, lines = horizontal ? h : w;
            for (int l = 0; l < lines; ++l) {
                const auto at = [&](int i) -> QRgb & {
                    return reinterpret_cast<QRgb *>(image.scanLine(horizontal ? l : i))[horizontal ? i : l];
                };
                for (int i = 0; i < length; ++i)
                    line[i] = qAlpha(at(i));
                int sum = 0;
                for (int i = -r; i <= r; ++i)
                    sum += line[std::clamp(i, 0, length - 1)];
                for (int i = 0; i < length; ++i) {
                    at(i) = qRgba(0, 0, 0, sum / (2 * r + 1));
                    sum += line[std::min(i + r + 1, length - 1)] - line[std::max(i - r, 0)];
                }
            }
        }
    }
}

QPen pen(const QColor &color, double width, Qt::PenCapStyle cap, Qt::PenJoinStyle join)
{
    QPen pen(color, width, Qt::SolidLine, cap, join);
    pen.setMiterLimit(10);
    return pen;
}

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}

} // namespace

WordmarkView::WordmarkView(QWidget *parent)
    : QWidget(parent)
{
    makeAccessible(this, QAccessible::Graphic);
    setAccessibleName(MainViewText::wordmark);
    setAttribute(Qt::WA_TranslucentBackground);
}

const QPainterPath &WordmarkView::letters()
{
    static const QPainterPath path = [] {
        QPainterPathStroker stroker;
        stroker.setWidth(letterWeight);
        stroker.setCapStyle(Qt::SquareCap);
        stroker.setJoinStyle(Qt::MiterJoin);
        return stroker.createStroke(letterStrokes()).simplified();
    }();
    return path;
}

const QPainterPath &WordmarkView::marks()
{
    static const QPainterPath path = [] {
        QPainterPath marks;
        polyline(marks, {{6, 26}, {26, 46}, {26, 8}, {42, 24}});
        polyline(marks, {{383, 29}, {402, 9}, {402, 45}, {427, 20}});
        polyline(marks, {{417, 19}, {429, 19}, {429, 31}});
        return marks;
    }();
    return path;
}

QSize WordmarkView::sizeHint() const
{
    return QSize(int(designWidth), int(designHeight));
}

QImage WordmarkView::render(QSize size, double ratio) const
{
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QSizeF s = DesignScale::stretch(QSizeF(image.size()), QSizeF(designWidth, designHeight));
    const QTransform scaling = QTransform::fromScale(s.width(), s.height());
    // Glow: the glow stroke's shadow in the accent colour, then the stroke itself.
    QImage shadow(image.size(), QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    {
        QPainter painter(&shadow);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(scaling);
        painter.strokePath(letters(), pen(Theme::glowShape, 2, Qt::RoundCap, Qt::RoundJoin));
    }
    blur(shadow, 3 * scaling.m11());
    {
        QPainter painter(&shadow);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(shadow.rect(), withOpacity(Theme::accent, 0.7));
    }
    QPainter painter(&image);
    painter.drawImage(0, 0, shadow);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setTransform(scaling);
    painter.strokePath(letters(), pen(withOpacity(Theme::accent, 0.8), 2, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(letters(), pen(Theme::accent, 1.4, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(marks(), pen(Theme::wordmarkStrokes, 5, Qt::SquareCap, Qt::MiterJoin));
    return image;
}

void WordmarkView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const double ratio = painter.device()->devicePixelRatioF();
    if (cache_.size() != size() * ratio || cache_.devicePixelRatio() != ratio) {
        cache_ = render(size(), ratio);
        cache_.setDevicePixelRatio(ratio);
    }
    painter.drawImage(QPointF(0, 0), cache_);
}

} // namespace tampod
