// Cost of drawing the waveform pane's envelope: the 65,536-bin detail in the pane's 978 × 220
// points at device pixel ratio 2, over the whole file, an eighth and a 64th of it. As the
// peer, the same groups over the whole file filled and stroked as paths by QPainter, in the
// same process (a few rounds only: it is slow).

#include "process_race.h"

#include "views/waveform/waveform_envelope.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tampod;

namespace {

constexpr QSizeF pane(978, 220);
constexpr double ratio = 2;

void say(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QString fixed(double value, int digits)
{
    return QString::number(value, 'f', digits);
}

// Median milliseconds of one draw into a fresh frame of the pane.
double median(QImage &image, int rounds, const std::function<void(QPainter &)> &draw)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        image.fill(QColor::fromRgbF(0.105f, 0.105f, 0.105f));
        const auto begin = std::chrono::steady_clock::now();
        QPainter painter(&image);
        draw(painter);
        painter.end();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    tampod::bench::Conditions conditions;

    WaveformPeaks peaks;
    for (int i = 0; i < 65536; ++i)
        peaks.append(float(std::fabs(std::sin(i * 0.013) * std::sin(i * 0.0007)) * 0.9 + 0.05));
    QImage image((pane * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);

    double worst = 0;
    for (const auto &[name, viewport] : {std::pair("whole file", WaveformViewport{0, 1}),
                                         {"an eighth", WaveformViewport{0.4, 0.525}},
                                         {"a 64th", WaveformViewport{0.5, 0.5 + 1.0 / 64}}}) {
        const double ms = median(image, 200, [&, viewport = viewport](QPainter &p) {
            WaveformEnvelope::draw(p, peaks, {0, 1}, viewport, pane);
        });
        worst = std::max(worst, ms);
        const auto groups = WaveformEnvelope::groups(peaks.size(), {0, 1}, viewport, pane.width());
        say(QStringLiteral("%1: %2 ms (k = %3)").arg(QString::fromLatin1(name), fixed(ms, 3),
                                                     QString::number(groups ? groups->k : 0)));
    }
    const double paths = median(image, 5, [&](QPainter &p) {
        const auto shape = WaveformEnvelope::outline(peaks, {0, 1}, {0, 1}, pane);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(shape.filled, QColor::fromRgbF(0.5f, 0.5f, 0.5f));
        const QPen pen(QColor::fromRgbF(1, 1, 1, 0.8f), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        p.strokePath(shape.upper, pen);
        p.strokePath(shape.lower, pen);
    });
    say(QStringLiteral("paths (peer), whole file: %1 ms (ours / peer = %2)").arg(fixed(paths, 3), fixed(worst / paths, 3)));
    conditions.finish();
    say(QStringLiteral("GOAL envelope-draw: %1 ms (target <= 4), ").arg(fixed(worst, 3)) +
        QString::fromStdString(conditions.text()));
    return worst <= 4 ? 0 : 1;
}
