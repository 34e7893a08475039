#include "bpm/bpm_detector_core.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace tampod::BPMDetectorCore {

namespace {

constexpr qsizetype hop = 512;
constexpr qsizetype frameLength = 1024;
constexpr qsizetype cancellationInterval = 16384;
constexpr int bands = 4; // full, low, mid, high

float onePoleCoefficient(double sampleRate, double cutoff)
{
    const double dt = 1.0 / sampleRate;
    return float(dt / (dt + 1.0 / (2.0 * std::numbers::pi * cutoff)));
}

// Energy rises of one band over a 1024-sample window moved by one hop; the running sums start
// at 0, so the first value is the first window's own weighted energy.
std::vector<float> onsetFunction(const std::vector<float> &energy, const std::vector<float> &difference)
{
    const qsizetype frames = qsizetype(energy.size());
    std::vector<float> values(static_cast<size_t>(frames - 1));
    float previousEnergy = 0;
    float previousDifference = 0;
    for (qsizetype f = 0; f + 1 < frames; ++f) {
        const float windowEnergy = energy[size_t(f)] + energy[size_t(f + 1)];
        const float windowDifference = difference[size_t(f)] + difference[size_t(f + 1)];
        const float dE = windowEnergy - previousEnergy;
        const float dD = windowDifference - previousDifference;
        values[size_t(f)] = (dE >= 0 ? 0.65f * dE : 0.0f) + 0.35f * (dD >= 0 ? dD : 0.0f);
        previousEnergy = windowEnergy;
        previousDifference = windowDifference;
    }
    return values;
}

} // namespace

TempoOnsetEvidence multiChannelOnsetEvidence(std::span<const float> samples, double sampleRate,
                                             const BPMCancellation &cancellation)
{
    const qsizetype n = qsizetype(samples.size());
    TempoOnsetEvidence evidence;
    evidence.primary.rate = sampleRate / 512.0;
    if (n < frameLength || !(sampleRate > 0))
        return evidence;

    const qsizetype frames = (n - frameLength) / hop + 2;
    std::array<std::vector<float>, bands> energy;
    std::array<std::vector<float>, bands> difference;
    for (int b = 0; b < bands; ++b) {
        energy[size_t(b)].assign(size_t(frames), 0.0f);
        difference[size_t(b)].assign(size_t(frames), 0.0f);
    }

    const double nyquistLimit = sampleRate * 0.5 * 0.95;
    const float a180 = onePoleCoefficient(sampleRate, std::min(nyquistLimit, 180.0));
    const float a2500 = onePoleCoefficient(sampleRate, std::min(nyquistLimit, 2500.0));
    float low = samples[0];   // L180
    float upper = samples[0]; // L2500
    // At sample 0 every band's previous value is its own, so the first difference is zero.
    float previous[bands] = {samples[0], samples[0], 0.0f, 0.0f};

    for (qsizetype f = 0; f < frames; ++f) {
        float e[bands] = {0, 0, 0, 0};
        float d[bands] = {0, 0, 0, 0};
        const qsizetype start = f * hop;
        if (start % cancellationInterval == 0)
            cancellation.check();
        for (qsizetype i = start; i < start + hop; ++i) {
            const float x = samples[size_t(i)];
            upper = upper + (x - upper) * a2500;
            low = low + (x - low) * a180;
            const float s[bands] = {x, low, upper - low, x - upper};
            for (int b = 0; b < bands; ++b) {
                e[b] += s[b] * s[b];
                const float step = s[b] - previous[b];
                d[b] += step * step;
                previous[b] = s[b];
            }
        }
        for (int b = 0; b < bands; ++b) {
            energy[size_t(b)][size_t(f)] = e[b];
            difference[size_t(b)][size_t(f)] = d[b];
        }
    }

    evidence.primary.values = onsetFunction(energy[0], difference[0]);
    whiten(evidence.primary.values, evidence.primary.rate);
    for (int b = 1; b < bands; ++b) {
        TempoEnvelope band{onsetFunction(energy[size_t(b)], difference[size_t(b)]), evidence.primary.rate};
        whiten(band.values, band.rate);
        if (!band.values.empty())
            evidence.auxiliary.push_back(std::move(band));
    }
    return evidence;
}

void whiten(std::vector<float> &values, double rate)
{
    const qsizetype count = qsizetype(values.size());
    if (count < 5)
        return;
    const qsizetype radius = std::max<qsizetype>(qsizetype(rate * 0.45), 3);
    std::vector<double> prefix(static_cast<size_t>(count + 1), 0.0);
    for (qsizetype k = 0; k < count; ++k)
        prefix[size_t(k + 1)] = prefix[size_t(k)] + double(values[size_t(k)]);
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype lo = std::max<qsizetype>(i - radius, 0);
        const qsizetype hi = std::min(i + radius, count - 1);
        const double mean = (prefix[size_t(hi + 1)] - prefix[size_t(lo)]) / double(hi - lo + 1);
        const float whitened = values[size_t(i)] - float(mean);
        values[size_t(i)] = whitened < 0 ? 0.0f : whitened;
    }
    normalizeEnvelope(values);
}

void normalizeEnvelope(std::vector<float> &values)
{
    if (values.empty())
        return;
    const float peak = *std::max_element(values.begin(), values.end());
    if (!(peak > 0))
        return;
    for (float &v : values)
        v /= peak;
}

} // namespace tampod::BPMDetectorCore
