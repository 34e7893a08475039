#include "bpm/bpm_detection_error.h"
#include "bpm/bpm_detector_core.h"
#include "bpm/internal/onset_phases.h"

#include "core/number_text.h"

#include <algorithm>
#include <cmath>

namespace tampod {

namespace BPMDetectorCore {

namespace {

const QString envelopeName = QStringLiteral("Onset envelope");
constexpr double bandWeights[] = {0.2, 0.15, 0.1};
constexpr double fullBandWeight = 0.55;

// Σ x[i]·x[i − lag] for i from lag to the end, in ascending i, for a block of neighbouring
// lags at once: each lag keeps its own running sum, so the result is the plain loop's, while
// the lags share every load of x[i].
template <int Block>
void correlateBlock(const std::vector<double> &x, int firstLag, double *sums)
{
    const qsizetype count = qsizetype(x.size());
    double acc[Block] = {};
    // Before the block's last lag starts, only the lags that have started take part.
    for (qsizetype i = firstLag; i < firstLag + Block - 1 && i < count; ++i) {
        for (int k = 0; k <= i - firstLag; ++k)
            acc[k] += x[size_t(i)] * x[size_t(i - firstLag - k)];
    }
    for (qsizetype i = firstLag + Block - 1; i < count; ++i) {
        const double xi = x[size_t(i)];
        const double *back = x.data() + (i - firstLag - (Block - 1));
        for (int k = 0; k < Block; ++k)
            acc[k] += xi * back[Block - 1 - k];
    }
    for (int k = 0; k < Block; ++k)
        sums[k] = acc[k];
}

} // namespace

std::vector<double> validateSignal(std::span<const float> values, int minLength, const QString &name)
{
    const qsizetype count = qsizetype(values.size());
    if (count == 0)
        throw BPMDetectionError::invalidSignal(name + QStringLiteral(" is empty."));
    if (count < minLength)
        throw BPMDetectionError::invalidSignal(
            QStringLiteral("%1 is too short for this BPM range; need at least %2 frames, got %3.")
                .arg(name, NumberText::wholeQ(minLength), NumberText::wholeQ(count)));
    std::vector<double> x(static_cast<size_t>(count));
    double sum = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const double v = values[size_t(i)];
        if (!std::isfinite(v))
            throw BPMDetectionError::invalidSignal(name + QStringLiteral(" contains NaN or infinite values."));
        x[size_t(i)] = v;
        sum += v;
    }
    const double mean = sum / double(count);
    double squares = 0;
    for (double v : x)
        squares += (v - mean) * (v - mean);
    if (!(squares / double(count) > 1e-10))
        throw BPMDetectionError::invalidSignal(name + QStringLiteral(" has no usable AC content."));
    for (double &v : x)
        v -= mean;
    return x;
}

LagScores acfScores(std::span<const float> envelopeValues, double frameRate, double bpmMin,
                    double bpmMax, const BPMCancellation &cancellation)
{
    if (!(frameRate > 0) || !std::isfinite(frameRate))
        throw BPMDetectionError::invalidSampleRate(frameRate);
    if (!(std::isfinite(bpmMin) && bpmMin > 0 && std::isfinite(bpmMax) && bpmMax > bpmMin))
        throw BPMDetectionError::invalidBPMRange(bpmMin, bpmMax);
    const std::vector<double> x =
        validateSignal(envelopeValues, int(60.0 * frameRate / bpmMin) + 2, envelopeName);
    const qsizetype count = qsizetype(x.size());
    LagScores result;
    result.minLag = std::max(int(std::floor(60.0 * frameRate / bpmMax)), 1);
    result.maxLag = int(std::min<double>(double(count - 2), std::ceil(60.0 * frameRate / bpmMin)));
    if (result.minLag >= result.maxLag)
        throw BPMDetectionError::noValidLagRange();

    double energy = 0;
    for (double v : x)
        energy += v * v;
    result.scores.assign(size_t(result.maxLag + 1), 0.0);
    // Lags go in blocks of four that share one pass over x, so cancellation is checked between
    // blocks rather than between single lags.
    constexpr int block = 4;
    double sums[block];
    cancellation.check();
    int lag = result.minLag;
    for (; lag + block - 1 <= result.maxLag; lag += block) {
        if (lag != result.minLag)
            cancellation.check();
        correlateBlock<block>(x, lag, sums);
        for (int k = 0; k < block; ++k)
            result.scores[size_t(lag + k)] = sums[k] / energy;
    }
    for (; lag <= result.maxLag; ++lag) {
        if (lag != result.minLag)
            cancellation.check();
        correlateBlock<1>(x, lag, sums);
        result.scores[size_t(lag)] = sums[0] / energy;
    }
    return result;
}

LagScores combinedACFScores(std::span<const float> envelopeValues,
                            const std::vector<std::span<const float>> &auxiliaryEnvelopeValues,
                            double frameRate, double bpmMin, double bpmMax,
                            const BPMCancellation &cancellation)
{
    LagScores main = acfScores(envelopeValues, frameRate, bpmMin, bpmMax, cancellation);
    struct Part {
        std::vector<double> scores;
        double weight;
    };
    std::vector<Part> parts;
    double totalWeight = fullBandWeight;
    const size_t bands = std::min<size_t>(auxiliaryEnvelopeValues.size(), 3);
    for (size_t b = 0; b < bands; ++b) {
        const auto band = auxiliaryEnvelopeValues[b];
        if (band.size() != envelopeValues.size())
            continue;
        LagScores scores;
        try {
            scores = acfScores(band, frameRate, bpmMin, bpmMax, cancellation);
        } catch (const BPMDetectionError &e) {
            if (e.kind() == BPMDetectionError::Kind::invalidSignal)
                continue; // a silent or flat band is no evidence either way
            throw;
        }
        if (scores.minLag != main.minLag || scores.maxLag != main.maxLag)
            continue;
        parts.push_back({std::move(scores.scores), bandWeights[b]});
        totalWeight += bandWeights[b];
    }

    std::vector<double> blended(main.scores.size(), 0.0);
    for (int lag = main.minLag; lag <= main.maxLag; ++lag) {
        double value = fullBandWeight / totalWeight * std::max(main.scores[size_t(lag)], 0.0);
        for (const Part &part : parts)
            value += part.weight / totalWeight * std::max(part.scores[size_t(lag)], 0.0);
        blended[size_t(lag)] = value;
    }
    main.scores = std::move(blended);
    return main;
}

std::vector<double> phaseAveragedScores(std::span<const float> samples, double sampleRate,
                                        const BPMCancellation &cancellation)
{
    cancellation.check();
    // Hop phases 0 and 256, computed in one pass.
    const auto phases = hopPhaseOnsetEvidence(samples, sampleRate, cancellation);
    std::vector<std::vector<double>> curves;
    for (const TempoOnsetEvidence &evidence : phases) {
        cancellation.check();
        std::vector<std::span<const float>> bands;
        for (const TempoEnvelope &band : evidence.auxiliary)
            bands.emplace_back(band.values);
        curves.push_back(combinedACFScores(evidence.primary.values, bands, evidence.primary.rate, minimumBPM, maximumBPM,
                                           cancellation)
                             .scores);
    }
    return BPMConsensus::average(curves);
}

} // namespace BPMDetectorCore

std::vector<double> BPMConsensus::average(const std::vector<std::vector<double>> &curves)
{
    if (curves.empty() || curves.front().empty())
        return {};
    const size_t length = curves.front().size();
    for (const auto &curve : curves) {
        if (curve.size() != length)
            return {};
    }
    std::vector<double> result(length, 0.0);
    for (size_t i = 0; i < length; ++i) {
        double sum = 0;
        for (const auto &curve : curves)
            sum += curve[i];
        result[i] = sum / double(curves.size());
    }
    return result;
}

} // namespace tampod
