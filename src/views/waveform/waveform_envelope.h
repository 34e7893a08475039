#pragma once

#include "playback/waveform_reader.h"
#include "playback/waveform_viewport.h"

#include <QPainterPath>
#include <QSizeF>
#include <QWidget>

#include <optional>

class QPainter;

namespace tampod {

// One waveform drawn as a mirrored envelope: the peaks cover the domain (a part of the file),
// and the part the viewport names is spread over the width. The peaks are thinned by a power
// of two so that about two groups fall on each point of width, whatever their number.
class WaveformEnvelope : public QWidget {
    Q_OBJECT

public:
    // The peaks index i0, i0 + k, … up to i1 start the groups that are drawn.
    struct Groups {
        qsizetype k = 1;
        qsizetype i0 = 0;
        qsizetype i1 = 0;
        bool operator==(const Groups &) const = default;
    };
    struct Outline {
        QPainterPath upper;
        QPainterPath lower;
        QPainterPath filled;
    };

    // Distance of a full-scale peak from the top and bottom edges, in points.
    static constexpr double margin = 8;

    // Which groups n peaks over domain give at width (points) through viewport; none when
    // there is nothing to draw.
    static std::optional<Groups> groups(qsizetype n, WaveformViewport domain, WaveformViewport viewport,
                                        double width);
    static Outline outline(const WaveformPeaks &peaks, WaveformViewport domain, WaveformViewport viewport,
                           QSizeF size);
    // Fills and strokes the envelope into size (points) on painter.
    static void draw(QPainter &painter, const WaveformPeaks &peaks, WaveformViewport domain,
                     WaveformViewport viewport, QSizeF size);

    // Equal peaks; unlike QList's ==, safe for empty lists that still hold storage.
    static bool samePeaks(const WaveformPeaks &a, const WaveformPeaks &b);

    explicit WaveformEnvelope(QWidget *parent = nullptr);

    void set(const WaveformPeaks &peaks, WaveformViewport domain, WaveformViewport viewport);
    const WaveformPeaks &peaks() const { return peaks_; }
    WaveformViewport domain() const { return domain_; }
    WaveformViewport viewport() const { return viewport_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    WaveformPeaks peaks_;
    WaveformViewport domain_;
    WaveformViewport viewport_;
};

} // namespace tampod
