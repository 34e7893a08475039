#pragma once

#include "bpm/bpm_cancellation.h"
#include "bpm/bpm_candidate.h"

#include <QString>

#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace tampod {

// Tempo estimation from mono samples: onset envelopes, autocorrelation scores, candidates with
// octave reranking, and the windowed pipeline over a whole recording. Every function is pure;
// failures are BPMDetectionError, or Cancelled once the probe says so.
namespace BPMDetectorCore {

// The tempo range detection looks in and reports, in beats per minute.
inline constexpr double minimumBPM = 35;
inline constexpr double maximumBPM = 300;

// Onset strengths, one per hop of 512 samples.
struct TempoEnvelope {
    std::vector<float> values;
    double rate = 0; // frames per second: the sample rate / 512
};

struct TempoOnsetEvidence {
    TempoEnvelope primary;                // full band
    std::vector<TempoEnvelope> auxiliary; // low, mid and high band, the non-empty ones
};

// A periodicity curve indexed by lag in frames; lags below minLag hold 0.
struct LagScores {
    std::vector<double> scores;
    int minLag = 0;
    int maxLag = 0;
};

// Onset envelope
TempoOnsetEvidence multiChannelOnsetEvidence(std::span<const float> samples, double sampleRate,
                                             const BPMCancellation &cancellation);
void whiten(std::vector<float> &values, double rate);
void normalizeEnvelope(std::vector<float> &values);

// Autocorrelation scores
std::vector<double> validateSignal(std::span<const float> values, int minLength,
                                   const QString &name);
LagScores acfScores(std::span<const float> envelopeValues, double frameRate, double bpmMin,
                    double bpmMax, const BPMCancellation &cancellation);
LagScores combinedACFScores(std::span<const float> envelopeValues,
                            const std::vector<std::span<const float>> &auxiliaryEnvelopeValues,
                            double frameRate, double bpmMin, double bpmMax,
                            const BPMCancellation &cancellation);
std::vector<double> phaseAveragedScores(std::span<const float> samples, double sampleRate,
                                        const BPMCancellation &cancellation);

// Candidates and octave reranking
BPMCandidateSet candidatesFromScores(const std::vector<double> &scores, double frameRate,
                                     double bpmMin, double bpmMax, int n,
                                     double minSeparationBPM,
                                     std::optional<double> priorCenterBPM,
                                     double priorSigmaOctaves);
std::vector<double> applyTempoPrior(const std::vector<double> &bpms,
                                    const std::vector<double> &scores, double centerBPM,
                                    double sigmaOctaves);
std::vector<BPMCandidate> octaveFamilyRerankedCandidates(const std::vector<BPMCandidate> &candidates);
std::optional<BPMCandidate> bestTempoMatch(double target, const std::vector<BPMCandidate> &list);
std::optional<BPMCandidate> fastThreeToTwoLowerCandidate(const BPMCandidate &candidate,
                                                         const std::vector<BPMCandidate> &list);
BPMCandidateSet candidateSet(const std::vector<BPMCandidate> &candidates, int count,
                             double minSeparationBPM, double bpmMin, double bpmMax);

// The pipeline
using Progress = std::function<void(double fraction, const QString &message)>;
using SampleRange = std::pair<qsizetype, qsizetype>; // start ..< end

BPMCandidateSet analyzeTempoCandidates(std::span<const float> samples, double sampleRate,
                                       double songLengthSeconds, const Progress &progress,
                                       const BPMCancellation &cancellation);
std::vector<SampleRange> tempoAnalysisWindowRanges(qsizetype sampleCount, double sampleRate,
                                                   double songLengthSeconds);
BPMCandidateSet analyzeSingleTempoWindow(std::span<const float> samples, double sampleRate,
                                         const BPMCancellation &cancellation);

} // namespace BPMDetectorCore

namespace BPMConsensus {
// The element-wise mean of score curves; empty when there are none, the first is empty or
// their lengths differ.
std::vector<double> average(const std::vector<std::vector<double>> &curves);
} // namespace BPMConsensus

} // namespace tampod
