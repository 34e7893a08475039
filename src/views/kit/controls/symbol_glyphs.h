#pragma once

#include <QPainterPath>
#include <QRectF>

namespace tampod {

// The trash can of "Clear All Files": an outline drawing on a 28 × 32 grid, fitted square
// and centred into rect, to be filled.
QPainterPath trashSymbol(const QRectF &rect);

} // namespace tampod
