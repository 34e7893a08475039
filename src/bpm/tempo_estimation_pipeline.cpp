#include "bpm/bpm_detection_error.h"
#include "bpm/bpm_detector_core.h"

#include "core/number_text.h"

#include <algorithm>
#include <cstdlib>

namespace tampod::BPMDetectorCore {

namespace {

constexpr double shortestWindowedSong = 90.0;
constexpr double windowSeconds = 60.0;
constexpr qsizetype fewestWindowSamples = 1024;
constexpr double windowCentres[] = {0.15, 0.325, 0.5, 0.675, 0.85};
constexpr qsizetype leastStartDistance = 512;
constexpr double bpmMin = BPMDetectorCore::minimumBPM;
constexpr double bpmMax = BPMDetectorCore::maximumBPM;
constexpr int candidatesKept = 3;
constexpr double separationBPM = 5.0;
constexpr double priorCentre = 120.0;
constexpr double priorWidth = 1.0;

} // namespace

std::vector<SampleRange> tempoAnalysisWindowRanges(qsizetype n, double sampleRate, double songLengthSeconds)
{
    const std::vector<SampleRange> whole{{0, n}};
    if (n < fewestWindowSamples || !(sampleRate > 0) || !(songLengthSeconds >= shortestWindowedSong))
        return whole;
    const qsizetype w = qsizetype(sampleRate * windowSeconds);
    const qsizetype length = w >= fewestWindowSamples ? std::min(n, w) : fewestWindowSamples;
    if (length >= n)
        return whole;
    const qsizetype lo = qsizetype(0.1 * double(n));
    const qsizetype maxStart = std::min(std::max(lo, qsizetype(0.9 * double(n)) - length), n - length);
    const qsizetype minStart = std::min(maxStart, lo);
    const qsizetype half = length / 2;

    std::vector<qsizetype> starts;
    for (double centre : windowCentres) {
        const qsizetype start = std::clamp(qsizetype(centre * double(n)) - half, minStart, maxStart);
        const bool apart = std::all_of(starts.begin(), starts.end(), [start](qsizetype other) {
            return std::abs(start - other) >= leastStartDistance;
        });
        if (apart)
            starts.push_back(start);
    }
    std::sort(starts.begin(), starts.end());
    if (starts.size() < 2)
        return whole;
    std::vector<SampleRange> ranges;
    for (qsizetype start : starts)
        ranges.emplace_back(start, start + length);
    return ranges;
}

BPMCandidateSet analyzeTempoCandidates(std::span<const float> samples, double sampleRate,
                                       double songLengthSeconds, const Progress &progress,
                                       const BPMCancellation &cancellation)
{
    const auto windows = tempoAnalysisWindowRanges(qsizetype(samples.size()), sampleRate, songLengthSeconds);
    if (windows.size() < 2)
        return analyzeSingleTempoWindow(samples, sampleRate, cancellation);

    const qsizetype count = qsizetype(windows.size());
    std::vector<std::vector<double>> curves;
    for (qsizetype i = 0; i < count; ++i) {
        cancellation.check();
        if (progress)
            progress(0.4 + 0.24 * double(i) / double(count),
                     QStringLiteral("Comparing tempo evidence %1 of %2")
                         .arg(NumberText::wholeQ(i + 1), NumberText::wholeQ(count)));
        const auto [start, end] = windows[size_t(i)];
        try {
            curves.push_back(phaseAveragedScores(samples.subspan(size_t(start), size_t(end - start)),
                                                 sampleRate, cancellation));
        } catch (const BPMDetectionError &e) {
            if (e.kind() != BPMDetectionError::Kind::invalidSignal)
                throw;
            cancellation.check(); // a flat or silent window contributes nothing
        }
    }
    if (curves.empty())
        throw BPMDetectionError::noTempoCandidates();
    return candidatesFromScores(BPMConsensus::average(curves), sampleRate / 512.0, bpmMin, bpmMax,
                                candidatesKept, separationBPM, priorCentre, priorWidth);
}

BPMCandidateSet analyzeSingleTempoWindow(std::span<const float> samples, double sampleRate,
                                         const BPMCancellation &cancellation)
{
    cancellation.check();
    const TempoOnsetEvidence evidence = multiChannelOnsetEvidence(samples, sampleRate, cancellation);
    cancellation.check();
    std::vector<std::span<const float>> bands;
    for (const TempoEnvelope &band : evidence.auxiliary)
        bands.emplace_back(band.values);
    const LagScores scores = combinedACFScores(evidence.primary.values, bands, evidence.primary.rate,
                                               bpmMin, bpmMax, cancellation);
    BPMCandidateSet set = candidatesFromScores(scores.scores, evidence.primary.rate, bpmMin, bpmMax,
                                               candidatesKept, separationBPM, priorCentre, priorWidth);
    cancellation.check();
    return set;
}

} // namespace tampod::BPMDetectorCore
