#include "views/kit/controls/symbol_glyphs.h"

#include <QPainterPathStroker>
#include <QTransform>

#include <algorithm>

namespace tampod {

namespace {

constexpr double gridWidth = 28;
constexpr double gridHeight = 32;

QPainterPath trashOnGrid()
{
    QPainterPath lines;
    // Lid and its handle.
    lines.moveTo(2, 7);
    lines.lineTo(26, 7);
    lines.moveTo(10, 7);
    lines.lineTo(10, 4.5);
    lines.quadTo(10, 3, 11.5, 3);
    lines.lineTo(16.5, 3);
    lines.quadTo(18, 3, 18, 4.5);
    lines.lineTo(18, 7);
    // The can, narrowing a little towards its rounded foot.
    lines.moveTo(5, 7);
    lines.lineTo(6.4, 27.5);
    lines.quadTo(6.6, 30, 9.2, 30);
    lines.lineTo(18.8, 30);
    lines.quadTo(21.4, 30, 21.6, 27.5);
    lines.lineTo(23, 7);
    // Its ribs.
    for (const auto &[top, bottom] : {std::pair{10.6, 11.0}, std::pair{14.0, 14.0}, std::pair{17.4, 17.0}}) {
        lines.moveTo(top, 11.5);
        lines.lineTo(bottom, 25.5);
    }
    QPainterPathStroker stroker;
    stroker.setWidth(2.1);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(lines).simplified();
}

} // namespace

QPainterPath trashSymbol(const QRectF &rect)
{
    static const QPainterPath grid = trashOnGrid();
    const double scale = std::min(rect.width() / gridWidth, rect.height() / gridHeight);
    QTransform transform;
    transform.translate(rect.center().x() - gridWidth * scale / 2, rect.center().y() - gridHeight * scale / 2);
    transform.scale(scale, scale);
    return transform.map(grid);
}

} // namespace tampod
