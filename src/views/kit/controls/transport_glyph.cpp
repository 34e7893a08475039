#include "views/kit/controls/transport_glyph.h"

#include <QTransform>

#include <algorithm>

namespace tampod {

namespace {

// A triangle pointing right from x (or, reversed, its mirror image about the grid's centre).
void addTriangle(QPainterPath &path, double x, double width, bool reversed = false)
{
    const double x0 = reversed ? TransportGlyph::grid - x : x;
    const double tip = reversed ? TransportGlyph::grid - (x + width) : x + width;
    path.moveTo(x0, 7);
    path.lineTo(tip, 16);
    path.lineTo(x0, 25);
    path.closeSubpath();
}

QPainterPath outline(const QPainterPath &stroke, double width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::FlatCap);
    stroker.setJoinStyle(Qt::MiterJoin);
    stroker.setMiterLimit(10);
    return stroker.createStroke(stroke);
}

} // namespace

QPainterPath TransportGlyph::designPath(Symbol symbol)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    switch (symbol) {
    case Symbol::start:
        addTriangle(path, 6, 15, true);
        path.addRect(7, 7, 3, 18);
        break;
    case Symbol::rewind:
        addTriangle(path, 5, 11, true);
        addTriangle(path, 16, 11, true);
        break;
    case Symbol::stop:
        path.addRect(8, 8, 17, 17);
        break;
    case Symbol::play:
        path.moveTo(7, 2);
        path.lineTo(31, 16);
        path.lineTo(7, 30);
        path.closeSubpath();
        break;
    case Symbol::repeatAudio: {
        QPainterPath strokes;
        strokes.moveTo(3, 15);
        strokes.quadTo(3, 8, 9, 8);
        strokes.lineTo(24, 8);
        strokes.moveTo(29, 17);
        strokes.quadTo(29, 24, 23, 24);
        strokes.lineTo(8, 24);
        path.addPath(outline(strokes, 2.5));
        path.moveTo(22, 2);
        path.lineTo(29, 8);
        path.lineTo(22, 14);
        path.closeSubpath();
        path.moveTo(10, 18);
        path.lineTo(3, 24);
        path.lineTo(10, 30);
        path.closeSubpath();
        break;
    }
    case Symbol::forward:
        addTriangle(path, 5, 11);
        addTriangle(path, 16, 11);
        break;
    case Symbol::end:
        addTriangle(path, 6, 15);
        path.addRect(26, 7, 3, 18);
        break;
    case Symbol::mixer: {
        QPainterPath rings;
        for (const auto &[slotX, knob] : {std::pair{5.0, QPointF(3, 18)}, std::pair{15.0, QPointF(13, 7)},
                                          std::pair{25.0, QPointF(23, 18)}}) {
            path.addRect(slotX, 3, 2, 26);
            rings.addEllipse(QRectF(knob, QSizeF(6, 6)));
        }
        path.addPath(outline(rings, 1.5));
        break;
    }
    }
    path.setFillRule(Qt::WindingFill);
    return path;
}

QPainterPath TransportGlyph::path(const QRectF &rect) const
{
    const double side = std::max(0.0, std::min(rect.width(), rect.height()));
    QTransform transform;
    transform.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    transform.scale(side / grid, side / grid);
    QPainterPath fitted = transform.map(designPath(symbol));
    fitted.setFillRule(Qt::WindingFill);
    return fitted;
}

} // namespace tampod
