#pragma once

#include <QPainterPath>
#include <QPointF>

namespace tampod::LibrarySymbols {

// The library's symbols as paths to fill, centred on a point and sized like text of the given
// pixel size.
QPainterPath square(QPointF centre, double size);
QPainterPath checkedSquare(QPointF centre, double size);
// Two chain links across the line between a pair's L and R rows.
QPainterPath link(QPointF centre, double size);
// A closed loop of two arrows; with one, a "1" inside it (the section repeat).
QPainterPath repeat(QPointF centre, double size, bool one);

} // namespace tampod::LibrarySymbols
