#pragma once

#include <QtGlobal>

#include <cstddef>

namespace tampod {

// The visible part of a file as fractions 0…1 of its length; {0, 1} is the whole file.
struct WaveformViewport {
    static constexpr double maximumMagnification = 64;

    double start = 0;
    double end = 1;

    bool operator==(const WaveformViewport &) const = default;

    // The window 1/magnification wide (magnification 1…64; anything else counts as 1) around
    // center (0.5 when not finite), pushed back inside the file rather than cut, so it always
    // keeps its width: 0 ≤ start < end ≤ 1.
    static WaveformViewport centered(double center, double magnification);
};

size_t qHash(const WaveformViewport &viewport, size_t seed = 0) noexcept;

} // namespace tampod
