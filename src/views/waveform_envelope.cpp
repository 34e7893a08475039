#include "views/waveform_envelope.h"

#include "views/internal/waveform_painting.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tampod {

namespace {

// An index from a real number, kept far inside the integer range (NaN gives 0).
qsizetype index(double x)
{
    constexpr double limit = 1e15;
    return std::isnan(x) ? 0 : qsizetype(std::clamp(x, -limit, limit));
}

float drawable(float peak)
{
    return std::isfinite(peak) ? peak : 0.0f;
}

} // namespace

std::optional<WaveformEnvelope::Groups> WaveformEnvelope::groups(qsizetype n, WaveformViewport domain,
                                                                  WaveformViewport viewport, double width)
{
    if (n < 2)
        return std::nullopt;
    const double count = double(n);
    const double ds = domain.start;
    const double dw = domain.end - domain.start;
    const double visible = (viewport.end - viewport.start) * count / dw;
    const double exponent = std::ceil(std::log2(visible / std::max(2 * width, 1.0)));
    // At most 2^62; below 0 (or not a number) the groups are single peaks.
    const int power = exponent > 0 ? int(std::min(exponent, 62.0)) : 0;
    Groups g;
    g.k = qsizetype(1) << power;
    const qsizetype first = index(std::floor((viewport.start - ds) / dw * count));
    g.i0 = std::max<qsizetype>(first / g.k - 1, 0) * g.k;
    const qsizetype last = index(std::ceil((viewport.end - ds) / dw * count));
    g.i1 = std::min(last + g.k, n - 1);
    if (g.i1 < g.i0)
        return std::nullopt;
    return g;
}

WaveformEnvelope::Outline WaveformEnvelope::outline(const WaveformPeaks &peaks, WaveformViewport domain,
                                                    WaveformViewport viewport, QSizeF size)
{
    Outline result;
    const qsizetype n = peaks.size();
    const auto g = groups(n, domain, viewport, size.width());
    if (!g)
        return result;
    const double count = double(n);
    const double ds = domain.start;
    const double dw = domain.end - domain.start;
    const double vs = viewport.start;
    const double vw = viewport.end - viewport.start;
    const double mid = size.height() / 2;
    const double amplitude = mid - margin;

    const qsizetype groupCount = (g->i1 - g->i0) / g->k + 1;
    QList<QPointF> upper;
    upper.reserve(groupCount);
    QList<double> lowerY;
    lowerY.reserve(groupCount);
    const float *data = peaks.constData();
    for (qsizetype i = g->i0; i <= g->i1; i += g->k) {
        const qsizetype c = std::min(n - i, g->k);
        float value = drawable(data[i]);
        for (qsizetype j = i + 1; j < i + c; ++j)
            value = std::max(value, drawable(data[j]));
        const double p = ds + dw * ((double(i) + double(c) / 2) / count);
        const double x = size.width() * (p - vs) / vw;
        const double a = amplitude * double(value);
        upper.append(QPointF(x, mid - a));
        lowerY.append(mid + a);
    }

    result.upper.reserve(int(upper.size()));
    result.lower.reserve(int(upper.size()));
    result.filled.reserve(int(2 * upper.size() + 1));
    result.filled.setFillRule(Qt::WindingFill);
    for (qsizetype i = 0; i < upper.size(); ++i) {
        const QPointF top = upper[i];
        const QPointF bottom(top.x(), lowerY[i]);
        if (i == 0) {
            result.upper.moveTo(top);
            result.lower.moveTo(bottom);
            result.filled.moveTo(top);
        } else {
            result.upper.lineTo(top);
            result.lower.lineTo(bottom);
            result.filled.lineTo(top);
        }
    }
    for (qsizetype i = upper.size() - 1; i >= 0; --i)
        result.filled.lineTo(upper[i].x(), lowerY[i]);
    result.filled.closeSubpath();
    return result;
}

void WaveformEnvelope::draw(QPainter &painter, const WaveformPeaks &peaks, WaveformViewport domain,
                            WaveformViewport viewport, QSizeF size)
{
    const Outline shape = outline(peaks, domain, viewport, size);
    if (shape.upper.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape.filled, QColor::fromRgbF(0.5f, 0.5f, 0.5f));
    const QPen outlinePen(QColor::fromRgbF(1, 1, 1, 0.8f), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter.strokePath(shape.upper, outlinePen);
    painter.strokePath(shape.lower, outlinePen);
    painter.restore();
}

WaveformEnvelope::WaveformEnvelope(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
}

void WaveformEnvelope::set(const WaveformPeaks &peaks, WaveformViewport domain, WaveformViewport viewport)
{
    if (peaks_ == peaks && domain_ == domain && viewport_ == viewport)
        return;
    peaks_ = peaks;
    domain_ = domain;
    viewport_ = viewport;
    update();
}

void WaveformEnvelope::paintEvent(QPaintEvent *)
{
    const double s = WaveformPainting::designScale(this);
    QPainter painter(this);
    painter.scale(s, s);
    draw(painter, peaks_, domain_, viewport_, WaveformPainting::designSize(this, s));
}

} // namespace tampod
