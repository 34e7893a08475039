#include "views/kit/controls/continuous_corners.h"

#include <algorithm>

namespace tampod {

namespace {

// How far along each side the corner curve begins, in radii.
constexpr double reach = 1.52866483;

// One corner at c: u points back along the side arriving at it, v along the side leaving it.
void addCorner(QPainterPath &path, QPointF c, QPointF u, QPointF v, double r)
{
    const auto at = [&](double a, double b) { return c + r * (a * u + b * v); };
    path.lineTo(at(reach, 0));
    path.cubicTo(at(1.08849323, 0), at(0.86840689, 0), at(0.66993427, 0.06549600));
    path.lineTo(at(0.63149399, 0.07491100));
    path.cubicTo(at(0.37282392, 0.16905899), at(0.16906013, 0.37282401), at(0.07491100, 0.63149399));
    path.lineTo(at(0.06549600, 0.66993427));
    path.cubicTo(at(0, 0.86840689), at(0, 1.08849323), at(0, reach));
}

} // namespace

QPainterPath continuousRoundedRect(const QRectF &rect, double radius)
{
    QPainterPath path;
    const QRectF r = rect.normalized();
    const double fitted = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2 / reach);
    if (fitted <= 0) {
        path.addRect(r);
        return path;
    }
    path.moveTo(r.left() + reach * fitted, r.top());
    addCorner(path, r.topRight(), {-1, 0}, {0, 1}, fitted);
    addCorner(path, r.bottomRight(), {0, -1}, {-1, 0}, fitted);
    addCorner(path, r.bottomLeft(), {1, 0}, {0, -1}, fitted);
    addCorner(path, r.topLeft(), {0, 1}, {1, 0}, fitted);
    path.closeSubpath();
    return path;
}

} // namespace tampod
