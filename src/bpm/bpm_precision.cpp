#include "bpm/bpm_precision.h"

#include "bpm/bpm_detector_core.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace tampod::BPMPrecision {

namespace {

constexpr double minimumRate = 1000;
constexpr double maximumRate = 384000;
constexpr double minimumBPM = BPMDetectorCore::minimumBPM;
constexpr double maximumBPM = BPMDetectorCore::maximumBPM;
constexpr double minimumSeconds = 48.0;
constexpr double stretchSeconds = 64.0;
constexpr double hopSeconds = 0.002;
constexpr int meanWidth = 20;
constexpr double minimumOnsetPeak = 0.001;
constexpr int beatMultiples[] = {4, 8, 16, 32, 64};
constexpr double correlationFloor = 1e-12;
constexpr double minimumPeakCorrelation = 0.45;
constexpr double curvatureLimit = -1e-8;
constexpr qsizetype envelopeCheckInterval = 512;

// Least-squares beat period of one stretch, as its two sums so stretches can be combined.
struct Observation {
    double bpm;
    double lagProducts;  // Σ beats × lag
    double squaredBeats; // Σ beats²
};

bool acceptedRate(double rate)
{
    return std::isfinite(rate) && rate >= minimumRate && rate <= maximumRate;
}

bool acceptedBPM(double bpm)
{
    return std::isfinite(bpm) && bpm >= minimumBPM && bpm <= maximumBPM;
}

// Zero-mean onset strengths of RMS frames of hop samples over samples[lo, hi).
std::optional<std::vector<double>> envelope(std::span<const float> samples, qsizetype lo, qsizetype hi,
                                            qsizetype hop, const BPMCancellation &cancellation)
{
    std::vector<double> frames;
    frames.reserve(size_t(std::max<qsizetype>((hi - lo) / hop, 0)));
    for (qsizetype p = lo; p <= hi - hop; p += hop) {
        if (qsizetype(frames.size()) % envelopeCheckInterval == 0)
            cancellation.check();
        double squares = 0;
        bool finite = true;
        for (qsizetype i = p; i < p + hop; ++i) {
            const double x = samples[size_t(i)];
            finite &= std::abs(x) <= std::numeric_limits<double>::max();
            squares += x * x;
        }
        if (!finite)
            return std::nullopt;
        frames.push_back(std::sqrt(squares / double(hop)));
    }
    if (frames.empty())
        return std::nullopt;

    const qsizetype count = qsizetype(frames.size());
    std::vector<double> onset(static_cast<size_t>(count));
    double peak = -std::numeric_limits<double>::infinity();
    for (qsizetype k = 0; k < count; ++k) {
        double sum = 0;
        for (qsizetype j = std::max<qsizetype>(k - (meanWidth - 1), 0); j <= k; ++j)
            sum += frames[size_t(j)];
        const double strength = std::max(frames[size_t(k)] - sum / meanWidth, 0.0);
        onset[size_t(k)] = strength;
        peak = std::max(peak, strength);
    }
    if (peak < minimumOnsetPeak)
        return std::nullopt;
    double total = 0;
    for (double v : onset)
        total += v;
    const double mean = total / double(count);
    for (double &v : onset)
        v -= mean;
    return onset;
}

std::optional<Observation> measure(const std::vector<double> &envelope, double rate, double bpm,
                                   const BPMCancellation &cancellation)
{
    const qsizetype n = qsizetype(envelope.size());
    std::vector<double> energy(static_cast<size_t>(n + 1), 0.0);
    for (qsizetype k = 0; k < n; ++k)
        energy[size_t(k + 1)] = energy[size_t(k)] + envelope[size_t(k)] * envelope[size_t(k)];
    const double beatLength = rate * 60.0 / bpm;

    struct Multiple {
        double beats;
        double lag;
        double bpm;
    };
    std::vector<Multiple> recorded;
    std::vector<double> r;
    for (int m : beatMultiples) {
        const double expected = beatLength * m;
        if (!(expected * 1.5 < double(n)))
            continue;
        const qsizetype lo = std::max<qsizetype>(qsizetype(std::floor(expected * 0.995)) - 1, 1);
        const qsizetype hi = std::min<qsizetype>(qsizetype(std::ceil(expected * 1.005)) + 1, n - 2);
        if (hi < lo + 2)
            continue;
        cancellation.check();
        r.assign(size_t(hi - lo + 1), 0.0);
        for (qsizetype lag = lo; lag <= hi; ++lag) {
            const double normaliser = std::sqrt(energy[size_t(n - lag)] * (energy[size_t(n)] - energy[size_t(lag)]));
            if (normaliser <= correlationFloor)
                return std::nullopt;
            double sum = 0;
            const double *a = envelope.data();
            const double *b = envelope.data() + lag;
            for (qsizetype i = 0; i < n - lag; ++i)
                sum += a[i] * b[i];
            r[size_t(lag - lo)] = sum / normaliser;
            if (lag != hi)
                cancellation.check();
        }
        const auto best = std::max_element(r.begin(), r.end()); // the first of equal maxima
        const qsizetype peak = lo + qsizetype(best - r.begin());
        if (peak == lo || peak == hi || *best < minimumPeakCorrelation)
            continue;
        const double before = r[size_t(peak - 1 - lo)];
        const double after = r[size_t(peak + 1 - lo)];
        const double curvature = before - 2.0 * *best + after;
        if (!(curvature < curvatureLimit))
            continue;
        const double offset = std::clamp((before - after) * 0.5 / curvature, -0.5, 0.5);
        const double lag = double(peak) + offset;
        recorded.push_back({double(m), lag, rate * 60.0 * m / lag});
    }
    if (recorded.size() < 3 || recorded.back().beats < 16)
        return std::nullopt;
    const auto [slowest, fastest] = std::minmax_element(recorded.begin(), recorded.end(), [](const Multiple &a, const Multiple &b) {
        return a.bpm < b.bpm;
    });
    if (fastest->bpm - slowest->bpm > std::max(bpm * 0.00015, 0.02))
        return std::nullopt;
    double lagProducts = 0;
    double squaredBeats = 0;
    for (const Multiple &multiple : recorded) {
        lagProducts += multiple.beats * multiple.lag;
        squaredBeats += multiple.beats * multiple.beats;
    }
    return Observation{rate * 60.0 * squaredBeats / lagProducts, lagProducts, squaredBeats};
}

} // namespace

std::optional<double> estimate(std::span<const float> samples, double sampleRate, double candidateBPM,
                               const BPMCancellation &cancellation)
{
    cancellation.check();
    if (!acceptedRate(sampleRate) || !acceptedBPM(candidateBPM))
        return std::nullopt;
    const qsizetype n = qsizetype(samples.size());
    if (double(n) / sampleRate < minimumSeconds)
        return std::nullopt;
    const qsizetype span = std::min(qsizetype(sampleRate * stretchSeconds), n / 2);
    const qsizetype hop = std::max<qsizetype>(qsizetype(std::round(sampleRate * hopSeconds)), 1);
    const double rate = sampleRate / double(hop);

    std::vector<Observation> observations;
    for (qsizetype start : {qsizetype(0), (n - span) / 2, n - span}) {
        cancellation.check();
        const auto stretch = envelope(samples, start, start + span, hop, cancellation);
        if (!stretch)
            return std::nullopt;
        const auto observation = measure(*stretch, rate, candidateBPM, cancellation);
        if (!observation)
            return std::nullopt;
        observations.push_back(*observation);
    }
    const auto [slowest, fastest] = std::minmax_element(observations.begin(), observations.end(),
                                                        [](const Observation &a, const Observation &b) {
                                                            return a.bpm < b.bpm;
                                                        });
    if (fastest->bpm - slowest->bpm > std::max(candidateBPM * 0.00008, 0.01))
        return std::nullopt;
    double lagProducts = 0;
    double squaredBeats = 0;
    for (const Observation &o : observations) {
        lagProducts += o.lagProducts;
        squaredBeats += o.squaredBeats;
    }
    const double period = lagProducts / squaredBeats;
    const double tempo = rate * 60.0 / period;
    if (!acceptedBPM(tempo) || std::abs(tempo - candidateBPM) / candidateBPM > 0.005)
        return std::nullopt;
    return tempo;
}

} // namespace tampod::BPMPrecision
