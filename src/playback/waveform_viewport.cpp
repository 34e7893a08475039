#include "playback/waveform_viewport.h"

#include <QHashFunctions>

#include <algorithm>
#include <cmath>

namespace tampod {

WaveformViewport WaveformViewport::centered(double center, double magnification)
{
    const double m = std::isfinite(magnification) && magnification >= 1
                         ? std::min(magnification, maximumMagnification)
                         : 1.0;
    const double width = 1 / m;
    const double c = std::isfinite(center) ? center : 0.5;
    double start = c - width / 2;
    if (start < 0)
        start = 0;
    if (start > 1 - width)
        start = 1 - width;
    return {start, start + width};
}

size_t qHash(const WaveformViewport &viewport, size_t seed) noexcept
{
    return qHashMulti(seed, viewport.start, viewport.end);
}

} // namespace tampod
