#include "bpm/bpm_detection_error.h"
#include "bpm/bpm_detector_core.h"

#include <algorithm>
#include <cmath>

namespace tampod::BPMDetectorCore {

namespace {

constexpr double flatCurvature = 1e-6;
constexpr double matchTolerance = 0.035;
constexpr double rerankBoost = 1.04;

bool within(double value, double lo, double hi)
{
    return value >= lo && value <= hi;
}

} // namespace

BPMCandidateSet candidatesFromScores(const std::vector<double> &s, double frameRate, double bpmMin,
                                     double bpmMax, int n, double minSeparationBPM,
                                     std::optional<double> priorCenterBPM, double priorSigmaOctaves)
{
    if (n < 1)
        throw BPMDetectionError::invalidCandidateCount(n);
    if (!(minSeparationBPM > 0))
        throw BPMDetectionError::invalidMinimumSeparation(minSeparationBPM);
    const qsizetype length = qsizetype(s.size());
    const qsizetype lo = std::max<qsizetype>(qsizetype(std::floor(60.0 * frameRate / bpmMax)), 1);
    const qsizetype hi = qsizetype(std::min<double>(double(length - 1), std::ceil(60.0 * frameRate / bpmMin)));
    if (lo >= hi)
        throw BPMDetectionError::noValidLagRange();

    // Local maxima; every lag of a flat top counts, and a comparison with NaN fails.
    std::vector<qsizetype> peaks;
    const auto at = [&](qsizetype k) { return s[size_t(k)]; };
    if (at(lo) >= at(lo + 1))
        peaks.push_back(lo);
    for (qsizetype k = lo + 1; k < hi; ++k) {
        if (at(k - 1) <= at(k) && at(k) >= at(k + 1))
            peaks.push_back(k);
    }
    if (at(hi - 1) <= at(hi))
        peaks.push_back(hi);

    std::vector<double> tempos;
    std::vector<double> raw;
    for (qsizetype lag : peaks) {
        tempos.push_back(60.0 * frameRate / double(lag));
        raw.push_back(at(lag));
    }
    // Without a centre there is no prior: the scores rank as they are.
    const std::vector<double> weighted =
        priorCenterBPM ? applyTempoPrior(tempos, raw, *priorCenterBPM, priorSigmaOctaves) : raw;

    std::vector<BPMCandidate> candidates;
    for (size_t p = 0; p < peaks.size(); ++p) {
        const qsizetype lag = peaks[p];
        double refined = double(lag);
        if (lag >= 1 && lag + 1 < length) {
            const double y0 = at(lag - 1);
            const double y1 = at(lag);
            const double y2 = at(lag + 1);
            const double d = y0 - 2.0 * y1 + y2;
            if (std::abs(d) > flatCurvature)
                refined = double(lag) + std::clamp(0.5 * (y0 - y2) / d, -0.5, 0.5);
        }
        const double bpm = refined <= 1.0 ? 60.0 * frameRate : 60.0 * frameRate / refined;
        candidates.push_back({bpm, std::max(raw[p], 0.0), std::max(weighted[p], 0.0), bpm, std::nullopt});
    }
    return candidateSet(octaveFamilyRerankedCandidates(candidates), n, minSeparationBPM, bpmMin, bpmMax);
}

std::vector<double> applyTempoPrior(const std::vector<double> &bpms, const std::vector<double> &scores,
                                    double centerBPM, double sigmaOctaves)
{
    if (bpms.size() != scores.size())
        throw BPMDetectionError::invalidSignal(
            QStringLiteral("Tempo prior requires matching BPM and score counts."));
    std::vector<double> weighted(scores.size(), 0.0);
    for (size_t i = 0; i < bpms.size(); ++i) {
        const double bpm = bpms[i];
        if (std::isfinite(bpm) && bpm > 0) {
            const double octaves = std::log2(bpm / centerBPM) / sigmaOctaves;
            weighted[i] = scores[i] * std::exp(-0.5 * octaves * octaves);
        }
    }
    return weighted;
}

std::optional<BPMCandidate> bestTempoMatch(double target, const std::vector<BPMCandidate> &list)
{
    std::optional<BPMCandidate> best;
    for (const BPMCandidate &c : list) {
        if (!(c.bpm > 0) || !(std::abs(c.bpm - target) / target <= matchTolerance))
            continue;
        if (!best || c.score > best->score)
            best = c;
    }
    return best;
}

std::optional<BPMCandidate> fastThreeToTwoLowerCandidate(const BPMCandidate &c,
                                                         const std::vector<BPMCandidate> &list)
{
    if (!within(c.bpm, 118, 145))
        return std::nullopt;
    const auto fast = bestTempoMatch(c.bpm * 1.5, list);
    if (!fast || !within(fast->bpm, 175, 215))
        return std::nullopt;
    const auto half = bestTempoMatch(c.bpm * 0.5, list);
    if (!half)
        return std::nullopt;
    if (fast->score > 0 && c.score / fast->score >= 0.35 && half->score / fast->score >= 0.5)
        return fast;
    return std::nullopt;
}

std::vector<BPMCandidate> octaveFamilyRerankedCandidates(const std::vector<BPMCandidate> &list)
{
    std::vector<BPMCandidate> result;
    result.reserve(list.size());
    for (const BPMCandidate &c : list) {
        double r = c.rankingScore;
        const auto lift = [&r](const BPMCandidate &p) { r = std::max(r, rerankBoost * p.rankingScore); };

        if (within(c.bpm, 80, 180)) { // half
            const auto p = bestTempoMatch(c.bpm * 0.5, list);
            if (p && p->bpm < 80 && p->score > 0 && c.score / p->score >= 0.6)
                lift(*p);
        }
        if (within(c.bpm, 120, 165)) { // two-thirds
            const auto p = bestTempoMatch(c.bpm * 2.0 / 3.0, list);
            if (p && within(p->bpm, 80, 115) && p->score > 0 && c.score / p->score >= 0.45)
                lift(*p);
        }
        if (within(c.bpm, 118, 145)) { // three-halves
            if (const auto p = fastThreeToTwoLowerCandidate(c, list))
                lift(*p);
        }
        if (within(c.bpm, 80, 115)) { // four-thirds
            const auto p = bestTempoMatch(c.bpm * 4.0 / 3.0, list);
            if (p && within(p->bpm, 115, 155) && !fastThreeToTwoLowerCandidate(*p, list)
                && p->score > 0 && c.score / p->score >= 1.02)
                lift(*p);
        }
        BPMCandidate copy = c;
        copy.rankingScore = r;
        result.push_back(std::move(copy));
    }
    return result;
}

BPMCandidateSet candidateSet(const std::vector<BPMCandidate> &candidates, int count,
                             double minSeparationBPM, double bpmMin, double bpmMax)
{
    std::vector<BPMCandidate> kept;
    for (const BPMCandidate &c : candidates) {
        if (c.score > 0 && std::isfinite(c.bpm)) {
            BPMCandidate limited = c;
            limited.bpm = std::min(std::max(c.bpm, bpmMin), bpmMax);
            kept.push_back(std::move(limited));
        }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const BPMCandidate &a, const BPMCandidate &b) {
        return a.rankingScore > b.rankingScore;
    });
    BPMCandidateSet set;
    for (const BPMCandidate &c : kept) {
        if (int(set.candidates.size()) >= count)
            break;
        const bool separate = std::all_of(set.candidates.begin(), set.candidates.end(), [&](const BPMCandidate &t) {
            return std::abs(c.bpm - t.bpm) >= minSeparationBPM;
        });
        if (separate)
            set.candidates.push_back(c);
    }
    if (set.candidates.empty())
        throw BPMDetectionError::noTempoCandidates();
    return set;
}

} // namespace tampod::BPMDetectorCore
