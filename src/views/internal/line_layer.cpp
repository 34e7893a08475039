#include "views/internal/line_layer.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tampod {

namespace {

// The length of [a0, a1] ∩ [b0, b1].
float overlap(float a0, float a1, float b0, float b1)
{
    return std::max(0.0f, std::min(a1, b1) - std::max(a0, b0));
}

} // namespace

void LineLayer::reset(QSizeF size, double scale)
{
    scale_ = scale;
    const QSize pixels(int(std::ceil(size.width() * scale)), int(std::ceil(size.height() * scale)));
    if (image_.size() != pixels)
        image_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    image_.setDevicePixelRatio(scale);
    image_.fill(Qt::transparent);
}

void LineLayer::addPolyline(const std::vector<QPointF> &points, double width)
{
    bits_ = image_.bits(); // detaches once here, not for every pixel
    stride_ = image_.bytesPerLine();
    for (std::size_t i = 1; i < points.size(); ++i)
        addSegment(points[i - 1] * scale_, points[i] * scale_, width * scale_ / 2);
}

void LineLayer::mirrorVertically()
{
    const int height = image_.height();
    const int width = image_.width();
    uchar *bits = image_.bits();
    const qsizetype stride = image_.bytesPerLine();
    // White at any coverage compares as its coverage, so the larger pixel is the larger value.
    for (int y = 0; y < height / 2; ++y) {
        auto *top = reinterpret_cast<QRgb *>(bits + y * stride);
        auto *bottom = reinterpret_cast<QRgb *>(bits + (height - 1 - y) * stride);
        for (int x = 0; x < width; ++x)
            top[x] = bottom[x] = std::max(top[x], bottom[x]);
    }
}

// One segment with square ends, swept across the rows of a steep segment or the columns of a
// flat one: in each row the line covers a band as wide as its width seen along that row.
void LineLayer::addSegment(QPointF a, QPointF b, double halfWidth)
{
    const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
    if (!(length > 0) || !std::isfinite(length))
        return;
    const bool steep = std::abs(b.y() - a.y()) >= std::abs(b.x() - a.x());
    // Work in (along, across) = (y, x) for steep segments, (x, y) for flat ones.
    float a0 = float(steep ? a.y() : a.x());
    float a1 = float(steep ? b.y() : b.x());
    float c0 = float(steep ? a.x() : a.y());
    float c1 = float(steep ? b.x() : b.y());
    if (a0 > a1) {
        std::swap(a0, a1);
        std::swap(c0, c1);
    }
    const float unitAlong = float((a1 - a0) / length);
    const float start = a0 - float(halfWidth) * unitAlong;
    const float end = a1 + float(halfWidth) * unitAlong;
    const float slope = a1 > a0 ? (c1 - c0) / (a1 - a0) : 0.0f;
    const float band = float(halfWidth) / std::max(unitAlong, 1e-6f);
    const int lines = steep ? image_.height() : image_.width();
    const int cells = steep ? image_.width() : image_.height();
    const int first = std::max(0, int(std::floor(start)));
    const int last = std::min(lines - 1, int(std::ceil(end)) - 1);
    // A pixel step along a line of the sweep, and from one line to the next.
    const qsizetype cellStep = steep ? 1 : stride_ / qsizetype(sizeof(QRgb));
    const qsizetype lineStep = steep ? stride_ / qsizetype(sizeof(QRgb)) : 1;
    auto *pixels = reinterpret_cast<QRgb *>(bits_);
    for (int line = first; line <= last; ++line) {
        const float weight = overlap(float(line), float(line + 1), start, end) * 255.0f;
        const float t = std::clamp(float(line) + 0.5f, a0, a1);
        const float centre = c0 + (t - a0) * slope;
        const float low = centre - band;
        const float high = centre + band;
        const int from = std::max(0, int(std::floor(low)));
        const int to = std::min(cells - 1, int(std::ceil(high)) - 1);
        QRgb *pixel = pixels + line * lineStep + from * cellStep;
        for (int cell = from; cell <= to; ++cell, pixel += cellStep) {
            const float inside = std::min(float(cell + 1), high) - std::max(float(cell), low);
            const int level = int(inside * weight + 0.5f);
            if (level > int(qAlpha(*pixel)))
                *pixel = qRgba(level, level, level, level);
        }
    }
}

} // namespace tampod
