#pragma once

#include <QImage>
#include <QPointF>

#include <vector>

namespace tampod {

// Thick antialiased polylines as one opaque white coverage layer: where lines overlap the
// coverage is the larger one, never the sum, so the layer can be laid over a drawing at any
// opacity without brighter joints. Much cheaper than stroking paths when the lines zigzag
// over many rows, as a waveform's outline does at one group per device pixel.
class LineLayer {
public:
    // A clear layer of pixels × scale for size in points (scale: device pixels per point).
    void reset(QSizeF size, double scale);
    // Adds a polyline in points, width points wide, with square ends on every segment.
    void addPolyline(const std::vector<QPointF> &points, double width);
    // Adds the mirror image of the layer about its horizontal centre line.
    void mirrorVertically();
    const QImage &image() const { return image_; }

private:
    void addSegment(QPointF a, QPointF b, double halfWidth);

    QImage image_;
    double scale_ = 1;
    uchar *bits_ = nullptr;
    qsizetype stride_ = 0;
};

} // namespace tampod
