#pragma once

#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;
class QWidget;

// Drawing helpers of the waveform pane: every shape is drawn in design points after
// painter.scale(s, s); texts are drawn with fonts of pixel size round(size × s) at pixel
// positions, as every view of the interface does.
namespace tampod::WaveformPainting {

// The widget's size in design points at scale s (DesignScale::of).
QSizeF designSize(const QWidget *widget, double s);

// The application font at size design points, scaled by s, with the given weight.
QFont font(double size, QFont::Weight weight, double s);
// The advance of text in design points; with monospacedDigits every digit takes the widest
// digit's advance.
double advance(const QFont &scaled, double s, const QString &text, bool monospacedDigits = false);
// The line height of the font in design points.
double lineHeight(const QFont &scaled, double s);
// Draws text on one line with its left edge at x and vertically centred in the band from top
// to top + height, all in design points.
void drawText(QPainter &painter, double s, const QFont &scaled, double x, double top, double height,
              const QString &text, bool monospacedDigits = false);

} // namespace tampod::WaveformPainting
