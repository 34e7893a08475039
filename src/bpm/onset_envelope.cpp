#include "bpm/bpm_detector_core.h"
#include "bpm/internal/onset_phases.h"

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
    std::vector<float> values(size_t(frames - 1));
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

// One pass of the two low-pass filters over a stream of samples, summing each band's energy and
// difference energy per hop. The filters are a serial chain of dependent steps, so two streams
// advanced in the same loop overlap their work (about 1.5 times as fast as one after the other).
class BandPass {
public:
    BandPass(std::span<const float> samples, double sampleRate)
        : samples_(samples),
          frames_(qsizetype(samples.size()) < frameLength || !(sampleRate > 0)
                      ? 0
                      : (qsizetype(samples.size()) - frameLength) / hop + 2)
    {
        if (frames_ == 0)
            return;
        const double nyquistLimit = sampleRate * 0.5 * 0.95;
        a180_ = onePoleCoefficient(sampleRate, std::min(nyquistLimit, 180.0));
        a2500_ = onePoleCoefficient(sampleRate, std::min(nyquistLimit, 2500.0));
        low_ = upper_ = samples[0];
        // At sample 0 every band's previous value is its own: the first difference is zero.
        previous_[0] = previous_[1] = samples[0];
        for (int b = 0; b < bands; ++b) {
            energy_[size_t(b)].assign(size_t(frames_), 0.0f);
            difference_[size_t(b)].assign(size_t(frames_), 0.0f);
        }
    }

    qsizetype frames() const { return frames_; }

    // Begins frame f; the sample of step i of it is then added by add(i).
    void begin()
    {
        std::fill(std::begin(e_), std::end(e_), 0.0f);
        std::fill(std::begin(d_), std::end(d_), 0.0f);
    }
    void add(qsizetype i)
    {
        const float x = samples_[size_t(i)];
        upper_ = upper_ + (x - upper_) * a2500_;
        low_ = low_ + (x - low_) * a180_;
        const float s[bands] = {x, low_, upper_ - low_, x - upper_};
        for (int b = 0; b < bands; ++b) {
            e_[b] += s[b] * s[b];
            const float step = s[b] - previous_[b];
            d_[b] += step * step;
            previous_[b] = s[b];
        }
    }
    void end(qsizetype f)
    {
        for (int b = 0; b < bands; ++b) {
            energy_[size_t(b)][size_t(f)] = e_[b];
            difference_[size_t(b)][size_t(f)] = d_[b];
        }
    }

    TempoOnsetEvidence evidence(double sampleRate) const
    {
        TempoOnsetEvidence evidence;
        evidence.primary.rate = sampleRate / 512.0;
        if (frames_ == 0)
            return evidence;
        evidence.primary.values = onsetFunction(energy_[0], difference_[0]);
        whiten(evidence.primary.values, evidence.primary.rate);
        for (size_t b = 1; b < bands; ++b) {
            TempoEnvelope band{onsetFunction(energy_[b], difference_[b]), evidence.primary.rate};
            whiten(band.values, band.rate);
            if (!band.values.empty())
                evidence.auxiliary.push_back(std::move(band));
        }
        return evidence;
    }

private:
    std::span<const float> samples_;
    qsizetype frames_;
    float a180_ = 0, a2500_ = 0;
    float low_ = 0, upper_ = 0; // L180 and L2500
    float previous_[bands] = {0, 0, 0, 0};
    float e_[bands] = {0, 0, 0, 0};
    float d_[bands] = {0, 0, 0, 0};
    std::array<std::vector<float>, bands> energy_;
    std::array<std::vector<float>, bands> difference_;
};

// Frames [from, to) of each pass, the passes advanced together sample by sample.
template <typename... Passes>
void runFrames(qsizetype from, qsizetype to, const BPMCancellation &cancellation, Passes &...passes)
{
    for (qsizetype f = from; f < to; ++f) {
        const qsizetype start = f * hop;
        if (start % cancellationInterval == 0)
            cancellation.check();
        (passes.begin(), ...);
        for (qsizetype i = start; i < start + hop; ++i)
            (passes.add(i), ...);
        (passes.end(f), ...);
    }
}

} // namespace

TempoOnsetEvidence multiChannelOnsetEvidence(std::span<const float> samples, double sampleRate,
                                             const BPMCancellation &cancellation)
{
    BandPass pass(samples, sampleRate);
    runFrames(0, pass.frames(), cancellation, pass);
    return pass.evidence(sampleRate);
}

std::array<TempoOnsetEvidence, 2> hopPhaseOnsetEvidence(std::span<const float> samples, double sampleRate,
                                                        const BPMCancellation &cancellation)
{
    BandPass first(samples, sampleRate);
    BandPass second(samples.subspan(std::min<size_t>(samples.size(), 256)), sampleRate);
    // The later phase has the same number of frames or one fewer.
    runFrames(0, second.frames(), cancellation, first, second);
    runFrames(second.frames(), first.frames(), cancellation, first);
    return {first.evidence(sampleRate), second.evidence(sampleRate)};
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
