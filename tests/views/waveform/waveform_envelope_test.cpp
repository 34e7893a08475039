#include "views/waveform/waveform_envelope.h"

#include <QPainter>
#include <QPainterPath>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace tampod;

namespace {

using Groups = WaveformEnvelope::Groups;

std::vector<QPointF> points(const QPainterPath &path)
{
    std::vector<QPointF> result;
    for (int i = 0; i < path.elementCount(); ++i)
        result.emplace_back(path.elementAt(i));
    return result;
}

} // namespace

TEST(WaveformEnvelope, GroupsThinPeaksToAboutTwoPerPoint)
{
    const WaveformViewport whole{0, 1};
    const WaveformViewport narrow{0.5, 0.5 + 1.0 / 64};
    const std::tuple<const char *, qsizetype, WaveformViewport, WaveformViewport, double, std::optional<Groups>> cases[] = {
        {"overview at 600 points", 1024, whole, whole, 600, Groups{1, 0, 1023}},
        {"detail at 600 points: 1,024 groups", 65536, whole, whole, 600, Groups{64, 0, 65535}},
        {"a 64th of the detail", 65536, whole, narrow, 600, Groups{1, 32767, 33793}},
        {"viewport at the file's start", 65536, whole, {0, 1.0 / 64}, 600, Groups{1, 0, 1025}},
        {"no width: k at or above the visible count", 1024, whole, whole, 0, Groups{1024, 0, 1023}},
        {"negative width", 1000, whole, whole, -5, Groups{1024, 0, 999}},
        {"exactly two per point", 2400, whole, whole, 600, Groups{2, 0, 2399}},
        {"one group before the left edge", 1000, whole, {0.5, 1}, 100, Groups{4, 496, 999}},
        {"viewport past the domain", 100, {0, 0.5}, {0.9, 1}, 10, std::nullopt},
        {"one peak", 1, whole, whole, 600, std::nullopt},
        {"no peaks", 0, whole, whole, 600, std::nullopt},
    };
    for (const auto &[name, n, domain, viewport, width, expected] : cases)
        EXPECT_EQ(WaveformEnvelope::groups(n, domain, viewport, width), expected) << name;
}

TEST(WaveformEnvelope, OutlineMirrorsGroupMaximaAboutTheCentre)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Width 1.5 gives k = 2 over five peaks: groups 0–1, 2–3 and a short last group 4.
    const WaveformPeaks peaks{0.25f, 0.5f, nan, 0.75f, inf};
    const auto shape = WaveformEnvelope::outline(peaks, {0, 1}, {0, 1}, QSizeF(1.5, 40));
    // mid 20, a full-scale peak 8 points from either edge: a = 12 × value.
    const std::vector<QPointF> upper{{1.5 * 0.2, 20 - 6}, {1.5 * 0.6, 20 - 9}, {1.5 * 0.9, 20}};
    const std::vector<QPointF> lower{{1.5 * 0.2, 20 + 6}, {1.5 * 0.6, 20 + 9}, {1.5 * 0.9, 20}};
    EXPECT_EQ(points(shape.upper), upper);
    EXPECT_EQ(points(shape.lower), lower);
    // Back through the lower points (the last group's equals its upper point), then closed.
    std::vector<QPointF> filled = upper;
    filled.insert(filled.end(), lower.rbegin() + 1, lower.rend());
    filled.push_back(upper.front());
    EXPECT_EQ(points(shape.filled), filled);

    // Below 16 points of height the outlines swap sides; values above 1 reach into the margin.
    const auto low = WaveformEnvelope::outline({1.0f, 2.0f}, {0, 1}, {0, 1}, QSizeF(100, 10));
    EXPECT_EQ(points(low.upper), (std::vector<QPointF>{{25, 8}, {75, 11}}));
    // A domain of half the file shown through the other half: only the group before the left
    // edge is drawn, left of 0.
    const auto shifted = WaveformEnvelope::outline({0.5f, 0.5f}, {0, 0.5}, {0.5, 1}, QSizeF(100, 40));
    EXPECT_EQ(points(shifted.upper), (std::vector<QPointF>{{-25, 14}}));
}

// The device-resolution raster stands for filling and stroking the outline paths.
TEST(WaveformEnvelope, RasterLooksLikeThePathsItStandsFor)
{
    WaveformPeaks peaks;
    for (int i = 0; i < 65536; ++i)
        peaks.append(float(std::fabs(std::sin(i * 0.013) * std::sin(i * 0.0007))));
    WaveformPeaks overs = peaks; // beyond full scale the upper outline crosses the centre
    for (float &p : overs)
        p *= 1.3f;
    const QColor panel = QColor::fromRgbF(0.105f, 0.105f, 0.105f);
    for (const auto &[name, values, height, ratio] : {std::tuple("detail", &peaks, 220.0, 2.0),
                                                      {"detail at 1x", &peaks, 220.0, 1.0},
                                                      {"overs", &overs, 220.0, 2.0},
                                                      {"outlines swapped", &peaks, 12.0, 2.0}}) {
        const QSizeF size(400, height);
        const auto image = [&](const std::function<void(QPainter &)> &paint) {
            QImage result((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
            result.setDevicePixelRatio(ratio);
            result.fill(panel);
            QPainter painter(&result);
            paint(painter);
            return result;
        };
        const WaveformViewport viewport{0.25, 0.5};
        const QImage raster = image([&](QPainter &p) { WaveformEnvelope::draw(p, *values, {0, 1}, viewport, size); });
        const QImage paths = image([&](QPainter &p) {
            const auto shape = WaveformEnvelope::outline(*values, {0, 1}, viewport, size);
            p.setRenderHint(QPainter::Antialiasing);
            p.fillPath(shape.filled, QColor::fromRgbF(0.5f, 0.5f, 0.5f));
            const QPen pen(QColor::fromRgbF(1, 1, 1, 0.8f), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
            p.strokePath(shape.upper, pen);
            p.strokePath(shape.lower, pen);
        });
        double difference = 0;
        for (int y = 0; y < raster.height(); ++y)
            for (int x = 0; x < raster.width(); ++x)
                difference += std::abs(qGray(raster.pixel(x, y)) - qGray(paths.pixel(x, y)));
        EXPECT_LT(difference / (raster.width() * raster.height()), 3) << name; // grey levels a pixel
    }
}
