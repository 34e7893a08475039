#include "views/waveform/internal/waveform_painting.h"

#include "views/kit/design_scale_layout.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace tampod::WaveformPainting {

QSizeF designSize(const QWidget *widget, double s)
{
    return QSizeF(widget->size()) / s;
}

QFont font(double size, QFont::Weight weight, double s)
{
    QFont font = DesignScaleLayout::scaledFont(QApplication::font(), size, s);
    font.setWeight(weight);
    return font;
}

namespace {

double widestDigit(const QFontMetricsF &metrics)
{
    double widest = 0;
    for (char c = '0'; c <= '9'; ++c)
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(c)));
    return widest;
}

} // namespace

double advance(const QFont &scaled, double s, const QString &text, bool monospacedDigits)
{
    const QFontMetricsF metrics(scaled);
    if (!monospacedDigits)
        return metrics.horizontalAdvance(text) / s;
    const double digit = widestDigit(metrics);
    double width = 0;
    for (const QChar c : text)
        width += c.isDigit() ? digit : metrics.horizontalAdvance(c);
    return width / s;
}

double lineHeight(const QFont &scaled, double s)
{
    return QFontMetricsF(scaled).height() / s;
}

void drawText(QPainter &painter, double s, const QFont &scaled, double x, double top, double height,
              const QString &text, bool monospacedDigits)
{
    painter.save();
    painter.scale(1 / s, 1 / s);
    painter.setFont(scaled);
    const QFontMetricsF metrics(scaled);
    const double baseline = (top + height / 2) * s + (metrics.ascent() - metrics.descent()) / 2;
    if (!monospacedDigits) {
        painter.drawText(QPointF(x * s, baseline), text);
    } else {
        // Each digit centred in a cell as wide as the widest digit, so changing times do not jitter.
        const double digit = widestDigit(metrics);
        double pen = x * s;
        for (const QChar c : text) {
            const double width = metrics.horizontalAdvance(c);
            const double cell = c.isDigit() ? digit : width;
            painter.drawText(QPointF(pen + (cell - width) / 2, baseline), QString(c));
            pen += cell;
        }
    }
    painter.restore();
}

} // namespace tampod::WaveformPainting
