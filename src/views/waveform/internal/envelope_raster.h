#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSizeF>

#include <cstdint>
#include <vector>

namespace tampod {

// A waveform envelope rasterized straight into an image at device resolution: the fill
// between the two outlines, then both outlines laid over it at their opacity. Where outline
// segments overlap, the larger coverage counts, never the sum, so joints are not brighter.
// Much cheaper than filling and stroking paths when the outlines zigzag over many rows, as a
// waveform's do at one group per device pixel.
class EnvelopeRaster {
public:
    struct Style {
        QColor fill;
        double lineWidth = 1;    // points
        double lineOpacity = 1;  // of white
    };

    // upper and lower: the outlines' points in points, in order of x. scale: device pixels
    // per point. The image's device pixel ratio is scale, so it draws at size.
    const QImage &draw(const std::vector<QPointF> &upper, const std::vector<QPointF> &lower, QSizeF size,
                       double scale, const Style &style);

private:
    void fillBetween(const std::vector<QPointF> &upper, const std::vector<QPointF> &lower, QRgb fill);
    void addPolyline(const std::vector<QPointF> &points, double halfWidth);
    void addSegment(QPointF a, QPointF b, float halfWidth);
    void compose(double opacity);

    QImage image_;
    std::vector<std::uint8_t> coverage_; // row by row, one byte a pixel, rows_ rows
    int width_ = 0;
    int height_ = 0;
    int rows_ = 0; // the rows drawn: all, or the upper half when the lower one mirrors it
    double scale_ = 1;
};

} // namespace tampod
