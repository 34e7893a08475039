#include "views/waveform/waveform_envelope.h"

#include "views/kit/design_scale.h"
#include "views/kit/theme.h"
#include "views/waveform/internal/envelope_raster.h"
#include "views/waveform/internal/waveform_painting.h"

#include <QPaintEvent>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

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

namespace {

// The groups' upper and lower points in points of size, in group order.
struct GroupPoints {
    std::vector<QPointF> upper;
    std::vector<QPointF> lower;
};

GroupPoints groupPoints(const WaveformPeaks &peaks, WaveformViewport domain, WaveformViewport viewport, QSizeF size)
{
    GroupPoints result;
    const qsizetype n = peaks.size();
    const auto g = WaveformEnvelope::groups(n, domain, viewport, size.width());
    if (!g)
        return result;
    const double count = double(n);
    const double ds = domain.start;
    const double dw = domain.end - domain.start;
    const double vs = viewport.start;
    const double vw = viewport.end - viewport.start;
    const double mid = size.height() / 2;
    const double amplitude = mid - WaveformEnvelope::margin;

    const auto groupCount = std::size_t((g->i1 - g->i0) / g->k + 1);
    result.upper.reserve(groupCount);
    result.lower.reserve(groupCount);
    const float *data = peaks.constData();
    for (qsizetype i = g->i0; i <= g->i1; i += g->k) {
        const qsizetype c = std::min(n - i, g->k);
        float value = drawable(data[i]);
        for (qsizetype j = i + 1; j < i + c; ++j)
            value = std::max(value, drawable(data[j]));
        const double p = ds + dw * ((double(i) + double(c) / 2) / count);
        const double x = size.width() * (p - vs) / vw;
        const double a = amplitude * double(value);
        result.upper.emplace_back(x, mid - a);
        result.lower.emplace_back(x, mid + a);
    }
    return result;
}

QPainterPath polyline(const std::vector<QPointF> &points)
{
    QPainterPath path;
    path.reserve(int(points.size()));
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i == 0)
            path.moveTo(points[i]);
        else
            path.lineTo(points[i]);
    }
    return path;
}

constexpr double outlineOpacity = 0.8;
constexpr double outlineWidth = 1;

} // namespace

WaveformEnvelope::Outline WaveformEnvelope::outline(const WaveformPeaks &peaks, WaveformViewport domain,
                                                    WaveformViewport viewport, QSizeF size)
{
    const GroupPoints points = groupPoints(peaks, domain, viewport, size);
    Outline result;
    if (points.upper.empty())
        return result;
    result.upper = polyline(points.upper);
    result.lower = polyline(points.lower);
    result.filled = result.upper;
    result.filled.setFillRule(Qt::WindingFill);
    for (auto p = points.lower.rbegin(); p != points.lower.rend(); ++p)
        result.filled.lineTo(*p);
    result.filled.closeSubpath();
    return result;
}

void WaveformEnvelope::draw(QPainter &painter, const WaveformPeaks &peaks, WaveformViewport domain,
                            WaveformViewport viewport, QSizeF size)
{
    const GroupPoints points = groupPoints(peaks, domain, viewport, size);
    if (points.upper.empty())
        return;
    painter.save();
    const QTransform device = painter.deviceTransform();
    const bool scaleOnly = device.type() <= QTransform::TxScale && device.m11() > 0 && device.m11() == device.m22();
    if (!scaleOnly || painter.paintEngine()->type() != QPaintEngine::Raster) {
        const Outline shape = outline(peaks, domain, viewport, size);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(shape.filled, Theme::envelopeFill);
        QColor outline = Theme::envelopeOutline;
        outline.setAlphaF(float(outlineOpacity));
        const QPen pen(outline, outlineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        painter.strokePath(shape.upper, pen);
        painter.strokePath(shape.lower, pen);
        painter.restore();
        return;
    }
    // Filling and stroking paths of a zigzag costs the rasterizer far more.
    thread_local EnvelopeRaster raster;
    painter.drawImage(QPointF(0, 0), raster.draw(points.upper, points.lower, size, device.m11(),
                                                 {Theme::envelopeFill, outlineWidth, outlineOpacity}));
    painter.restore();
}

WaveformEnvelope::WaveformEnvelope(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
}

bool WaveformEnvelope::samePeaks(const WaveformPeaks &a, const WaveformPeaks &b)
{
    return a.size() == b.size() && (a.isEmpty() || a == b);
}

void WaveformEnvelope::set(const WaveformPeaks &peaks, WaveformViewport domain, WaveformViewport viewport)
{
    if (samePeaks(peaks_, peaks) && domain_ == domain && viewport_ == viewport)
        return;
    peaks_ = peaks;
    domain_ = domain;
    viewport_ = viewport;
    update();
}

void WaveformEnvelope::paintEvent(QPaintEvent *)
{
    const double s = DesignScale::of(this);
    QPainter painter(this);
    painter.scale(s, s);
    draw(painter, peaks_, domain_, viewport_, WaveformPainting::designSize(this, s));
}

} // namespace tampod
