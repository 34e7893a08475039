#include "views/waveform/internal/envelope_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace tampod {

namespace {

// The length of [a0, a1] ∩ [b0, b1].
float overlap(float a0, float a1, float b0, float b1)
{
    return std::max(0.0f, std::min(a1, b1) - std::max(a0, b0));
}

bool mirrored(const std::vector<QPointF> &upper, const std::vector<QPointF> &lower, double height)
{
    for (std::size_t i = 0; i < upper.size(); ++i)
        if (upper[i].x() != lower[i].x() || std::abs(upper[i].y() + lower[i].y() - height) > 1e-9)
            return false;
    return true;
}

} // namespace

const QImage &EnvelopeRaster::draw(const std::vector<QPointF> &upper, const std::vector<QPointF> &lower,
                                   QSizeF size, double scale, const Style &style)
{
    scale_ = scale;
    width_ = std::max(0, int(std::ceil(size.width() * scale)));
    height_ = std::max(0, int(std::ceil(size.height() * scale)));
    if (image_.width() != width_ || image_.height() != height_)
        image_ = QImage(width_, height_, QImage::Format_ARGB32_Premultiplied);
    image_.setDevicePixelRatio(scale);
    image_.fill(Qt::transparent);
    if (upper.empty() || upper.size() != lower.size() || width_ == 0 || height_ == 0)
        return image_;

    // The lower half usually mirrors the upper one: when the rows mirror exactly and the upper
    // outline keeps to the upper half, only that half is drawn and then copied.
    const double halfWidth = style.lineWidth / 2;
    const double lowest = std::max_element(upper.begin(), upper.end(), [](QPointF a, QPointF b) {
                              return a.y() < b.y();
                          })->y();
    const bool mirror = size.height() * scale == height_ && mirrored(upper, lower, size.height())
                        && (lowest + halfWidth) * scale <= height_ / 2;
    rows_ = mirror ? (height_ + 1) / 2 : height_;
    coverage_.assign(std::size_t(width_) * std::size_t(rows_), 0);

    fillBetween(upper, lower, style.fill.rgba() | 0xff000000u);
    addPolyline(upper, halfWidth);
    if (!mirror)
        addPolyline(lower, halfWidth);
    compose(style.lineOpacity);
    if (mirror) {
        const qsizetype bytes = image_.bytesPerLine();
        for (int y = 0; y < height_ / 2; ++y)
            std::memcpy(image_.scanLine(height_ - 1 - y), image_.constScanLine(y), std::size_t(bytes));
    }
    return image_;
}

// Without antialiasing, as a polygon fill samples pixel centres: the outlines lie over its edges.
void EnvelopeRaster::fillBetween(const std::vector<QPointF> &upper, const std::vector<QPointF> &lower, QRgb fill)
{
    auto *pixels = reinterpret_cast<QRgb *>(image_.bits());
    const qsizetype stride = image_.bytesPerLine() / qsizetype(sizeof(QRgb));
    // Kept near the image, so that the conversions below stay far inside int.
    const double first = std::clamp(upper.front().x() * scale_, -1.0, double(width_) + 1);
    const double last = std::clamp(upper.back().x() * scale_, -1.0, double(width_) + 1);
    std::size_t j = 0;
    for (int column = std::max(0, int(std::ceil(first - 0.5))); column < width_ && column + 0.5 <= last; ++column) {
        const double x = (column + 0.5) / scale_;
        while (j + 2 < upper.size() && upper[j + 1].x() < x)
            ++j;
        const double x0 = upper[j].x();
        const double x1 = upper[std::min(j + 1, upper.size() - 1)].x();
        const double t = x1 > x0 ? std::clamp((x - x0) / (x1 - x0), 0.0, 1.0) : 0.0;
        const std::size_t k = std::min(j + 1, upper.size() - 1);
        const double top = (upper[j].y() + (upper[k].y() - upper[j].y()) * t) * scale_;
        const double bottom = (lower[j].y() + (lower[k].y() - lower[j].y()) * t) * scale_;
        const double limit = double(rows_) + 1;
        const int from = std::max(0, int(std::ceil(std::clamp(std::min(top, bottom), -1.0, limit) - 0.5)));
        const int to = std::min(rows_ - 1, int(std::floor(std::clamp(std::max(top, bottom), -1.0, limit) - 0.5)));
        for (int row = from; row <= to; ++row)
            pixels[row * stride + column] = fill;
    }
}

void EnvelopeRaster::addPolyline(const std::vector<QPointF> &points, double halfWidth)
{
    for (std::size_t i = 1; i < points.size(); ++i)
        addSegment(points[i - 1] * scale_, points[i] * scale_, float(halfWidth * scale_));
}

// One segment with square ends, swept across the rows of a steep segment or the columns of a
// flat one: in each row the line covers a band as wide as its width seen along that row.
void EnvelopeRaster::addSegment(QPointF a, QPointF b, float halfWidth)
{
    // Nothing the image could show lies this far out; the limit keeps every conversion to int
    // defined.
    constexpr double far = 1e7;
    if (!(std::max({std::abs(a.x()), std::abs(a.y()), std::abs(b.x()), std::abs(b.y())}) < far))
        return;
    const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
    if (!(length > 0))
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
    const float start = a0 - halfWidth * unitAlong;
    const float end = a1 + halfWidth * unitAlong;
    const float slope = a1 > a0 ? (c1 - c0) / (a1 - a0) : 0.0f;
    const float band = halfWidth / std::max(unitAlong, 1e-6f);
    const int lines = steep ? rows_ : width_;
    const int cells = steep ? width_ : rows_;
    const int first = std::max(0, int(std::floor(start)));
    const int last = std::min(lines - 1, int(std::ceil(end)) - 1);
    // A step along a line of the sweep, and from one line to the next.
    const std::ptrdiff_t cellStep = steep ? 1 : width_;
    const std::ptrdiff_t lineStep = steep ? width_ : 1;
    for (int line = first; line <= last; ++line) {
        const float weight = overlap(float(line), float(line + 1), start, end) * 255.0f;
        const float t = std::clamp(float(line) + 0.5f, a0, a1);
        const float centre = c0 + (t - a0) * slope;
        const float low = centre - band;
        const float high = centre + band;
        const int from = std::max(0, int(std::floor(low)));
        const int to = std::min(cells - 1, int(std::ceil(high)) - 1);
        std::uint8_t *cell = coverage_.data() + line * lineStep + from * cellStep;
        for (int i = from; i <= to; ++i, cell += cellStep) {
            const float inside = std::min(float(i + 1), high) - std::max(float(i), low);
            *cell = std::max(*cell, std::uint8_t(std::min(255.0f, inside * weight + 0.5f)));
        }
    }
}

// White at opacity × coverage over what the image holds, in premultiplied integers. Most of
// the coverage is empty, so it is skipped eight pixels at a time.
void EnvelopeRaster::compose(double opacity)
{
    const unsigned level = unsigned(std::lround(std::clamp(opacity, 0.0, 1.0) * 256));
    const auto blend = [level](QRgb &pixel, std::uint8_t cover) {
        const unsigned a = (unsigned(cover) * level) >> 8; // 0…255
        const unsigned keep = 255 - a;
        // Each byte of the pixel becomes a + byte × keep / 255, two bytes at a time.
        std::uint32_t rb = (pixel & 0x00ff00ffu) * keep;
        std::uint32_t ag = ((pixel >> 8) & 0x00ff00ffu) * keep;
        rb = ((rb + ((rb >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8) & 0x00ff00ffu;
        ag = ((ag + ((ag >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8) & 0x00ff00ffu;
        pixel = (rb | (ag << 8)) + a * 0x01010101u;
    };
    for (int y = 0; y < rows_; ++y) {
        const std::uint8_t *cover = coverage_.data() + std::ptrdiff_t(y) * width_;
        auto *row = reinterpret_cast<QRgb *>(image_.scanLine(y));
        int x = 0;
        for (; x + 8 <= width_; x += 8) {
            std::uint64_t eight;
            std::memcpy(&eight, cover + x, sizeof eight);
            if (!eight)
                continue;
            for (int i = x; i < x + 8; ++i)
                if (cover[i])
                    blend(row[i], cover[i]);
        }
        for (; x < width_; ++x)
            if (cover[x])
                blend(row[x], cover[x]);
    }
}

} // namespace tampod
