#include "views/library/library_symbols.h"

#include <QPainterPathStroker>
#include <QTransform>

namespace tampod::LibrarySymbols {

namespace {

QPainterPath stroked(const QPainterPath &path, double width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path).simplified();
}

// The box of the check symbols, a little smaller than the text size as a glyph's would be.
QPainterPath box(QPointF centre, double size)
{
    const double side = 0.78 * size;
    QPainterPath outline;
    outline.addRoundedRect(QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side), 0.2 * side, 0.2 * side);
    return stroked(outline, 0.075 * size);
}

// An arrow head pointing along +x with its tip at the origin, before placing.
QPainterPath arrowHead(double size)
{
    QPainterPath head;
    head.moveTo(0, 0);
    head.lineTo(-0.2 * size, -0.14 * size);
    head.lineTo(-0.2 * size, 0.14 * size);
    head.closeSubpath();
    return head;
}

} // namespace

QPainterPath square(QPointF centre, double size)
{
    return box(centre, size);
}

QPainterPath checkedSquare(QPointF centre, double size)
{
    const double side = 0.78 * size;
    const QPointF origin = centre - QPointF(side / 2, side / 2);
    QPainterPath check;
    check.moveTo(origin + QPointF(0.27 * side, 0.52 * side));
    check.lineTo(origin + QPointF(0.44 * side, 0.7 * side));
    check.lineTo(origin + QPointF(0.74 * side, 0.3 * side));
    return box(centre, size).united(stroked(check, 0.09 * size));
}

QPainterPath link(QPointF centre, double size)
{
    // Two capsules along the diagonal, overlapping in the middle.
    const double length = 0.56 * size;
    const double thickness = 0.3 * size;
    QPainterPath links;
    for (double offset : {-0.17 * size, 0.17 * size}) {
        QPainterPath capsule;
        capsule.addRoundedRect(QRectF(offset - length / 2, -thickness / 2, length, thickness), thickness / 2,
                               thickness / 2);
        links.addPath(stroked(capsule, 0.085 * size));
    }
    QTransform place;
    place.translate(centre.x(), centre.y());
    place.rotate(-45);
    return place.map(links).simplified();
}

QPainterPath repeat(QPointF centre, double size, bool one)
{
    const double w = 0.8 * size;
    const double h = 0.5 * size;
    const double r = 0.16 * size;
    const double l = centre.x() - w / 2, t = centre.y() - h / 2, ri = l + w, b = t + h;
    QPainterPath loop;
    // Upper arm: up the left side and right along the top, ending in a head.
    loop.moveTo(l, centre.y() + 0.04 * size);
    loop.lineTo(l, t + r);
    loop.quadTo(l, t, l + r, t);
    loop.lineTo(ri - 0.16 * size, t);
    // Lower arm: down the right side and left along the bottom.
    loop.moveTo(ri, centre.y() - 0.04 * size);
    loop.lineTo(ri, b - r);
    loop.quadTo(ri, b, ri - r, b);
    loop.lineTo(l + 0.16 * size, b);
    QPainterPath symbol = stroked(loop, 0.075 * size);
    QTransform right = QTransform::fromTranslate(ri - 0.04 * size, t);
    symbol = symbol.united(right.map(arrowHead(size)));
    QTransform left;
    left.translate(l + 0.04 * size, b);
    left.rotate(180);
    symbol = symbol.united(left.map(arrowHead(size)));
    if (one) {
        QPainterPath digit;
        digit.moveTo(centre.x() - 0.07 * size, centre.y() - 0.06 * size);
        digit.lineTo(centre.x() + 0.01 * size, centre.y() - 0.13 * size);
        digit.lineTo(centre.x() + 0.01 * size, centre.y() + 0.13 * size);
        symbol = symbol.united(stroked(digit, 0.07 * size));
    }
    return symbol;
}

} // namespace tampod::LibrarySymbols
