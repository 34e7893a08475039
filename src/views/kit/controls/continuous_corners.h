#pragma once

#include <QPainterPath>
#include <QRectF>

namespace tampod {

// A rounded rectangle whose corners blend into the sides with continuous curvature, as the
// hardware faces and panels are drawn; radius shrinks to fit a small rectangle.
QPainterPath continuousRoundedRect(const QRectF &rect, double radius);

} // namespace tampod
