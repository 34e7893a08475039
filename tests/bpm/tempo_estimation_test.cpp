// The numeric edges of the estimation stages: onset envelopes, autocorrelation, candidates and
// the windows of the pipeline.
#include "bpm/bpm_detection_error.h"
#include "bpm/bpm_detector_core.h"
#include "bpm/synthetic_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace tampod;
namespace core = BPMDetectorCore;
using Kind = BPMDetectionError::Kind;

namespace {

constexpr double fr = 86.1328125; // frames per second at 44.1 kHz

std::vector<float> pulses(size_t count, size_t period, size_t offset = 0)
{
    std::vector<float> values(count, 0.0f);
    for (size_t i = offset; i < count; i += period)
        values[i] = 1.0f;
    return values;
}

BPMCandidate candidate(double bpm, double score, double rankingScore)
{
    return {bpm, score, rankingScore, bpm, std::nullopt};
}

} // namespace

TEST(TempoEstimation, OnsetFramesAndWhiteningRadius)
{
    const auto loop = test::drumLoop(120, 44100, 1, test::DrumStyle::fourFloor);
    struct Case {
        size_t samples;
        double rate;
        size_t values;
    };
    for (const Case c : {Case{1023, 44100, 0}, Case{4096, 0, 0}, Case{1024, 44100, 1}, Case{1536, 44100, 2},
                         Case{2047, 44100, 2}, Case{44100, 44100, 85}}) {
        const auto evidence = core::multiChannelOnsetEvidence(std::span(loop).first(c.samples), c.rate, {});
        EXPECT_EQ(evidence.primary.values.size(), c.values) << c.samples;
        EXPECT_EQ(evidence.primary.rate, c.rate / 512);
        EXPECT_EQ(evidence.auxiliary.size(), c.values ? 3u : 0u) << c.samples;
    }
    EXPECT_EQ(core::multiChannelOnsetEvidence(loop, 44100, {}).primary.rate, fr);
    // The samples past the last whole hop are not used.
    EXPECT_EQ(core::multiChannelOnsetEvidence(std::span(loop).first(2047), 44100, {}).auxiliary[2].values,
              core::multiChannelOnsetEvidence(std::span(loop).first(1536), 44100, {}).auxiliary[2].values);
    // A constant: the first value is 0.65 of the first window's energy, in the low band too.
    const auto flat = core::multiChannelOnsetEvidence(std::vector<float>(1024, 0.5f), 44100, {});
    EXPECT_FLOAT_EQ(flat.primary.values[0], 0.65f * 256);
    EXPECT_EQ(flat.auxiliary[0].values, flat.primary.values);
    // Silence stays zero, in every band.
    const auto silent = core::multiChannelOnsetEvidence(std::vector<float>(44100, 0.0f), 44100, {});
    for (const auto &band : silent.auxiliary)
        EXPECT_EQ(band.values, std::vector<float>(85, 0.0f));

    // A step from 0 to 1 stays above its window mean for exactly the radius after it.
    for (const auto &[rate, radius] : {std::pair{fr, 38}, {15.625, 7}, {4.0, 3}, {187.5, 84}}) {
        std::vector<float> values(400, 0.0f);
        std::fill(values.begin() + 150, values.end(), 1.0f);
        core::whiten(values, rate);
        EXPECT_EQ(std::count_if(values.begin(), values.end(), [](float v) { return v > 0; }), radius) << rate;
        EXPECT_EQ(values[150], 1.0f) << "normalised";
    }
    std::vector<float> few{3, 1, 2, 0};
    core::whiten(few, fr);
    EXPECT_EQ(few, (std::vector<float>{3, 1, 2, 0})) << "fewer than five values stay as they are";
}

TEST(TempoEstimation, LagRangeBlendAndConsensus)
{
    for (const auto &[count, maxLag] : {std::pair{149, 147}, {150, 148}, {400, 148}}) {
        const auto scores = core::acfScores(pulses(size_t(count), 40), fr, 35, 300, {});
        EXPECT_EQ(scores.minLag, 17);
        EXPECT_EQ(scores.maxLag, maxLag) << count;
        EXPECT_EQ(scores.scores.size(), size_t(maxLag + 1));
    }
    // A silent band drops out and the weights are renormalised over the rest; a band of
    // another length and a fourth band are ignored; negative correlations count as 0.
    const auto main = pulses(400, 40);
    const auto low = pulses(400, 20, 5);
    const auto high = pulses(400, 30, 7);
    const auto m = core::acfScores(main, fr, 35, 300, {}).scores;
    const auto l = core::acfScores(low, fr, 35, 300, {}).scores;
    const auto h = core::acfScores(high, fr, 35, 300, {}).scores;
    const std::vector<float> silent(400, 0.0f);
    const std::vector<float> shorter(399, 1.0f);
    const auto blended = core::combinedACFScores(main, {low, silent, high, main}, fr, 35, 300, {}).scores;
    const auto all = core::combinedACFScores(main, {high, low, main}, fr, 35, 300, {}).scores;
    EXPECT_EQ(core::combinedACFScores(main, {low, shorter, high}, fr, 35, 300, {}).scores, blended);
    const auto part = [](const std::vector<double> &s, size_t lag, double weight) { return weight * std::max(s[lag], 0.0); };
    for (size_t lag = 17; lag <= 148; ++lag) {
        EXPECT_DOUBLE_EQ(blended[lag], (part(m, lag, 0.55) + part(l, lag, 0.2) + part(h, lag, 0.1)) / 0.85);
        EXPECT_DOUBLE_EQ(all[lag], part(m, lag, 0.55) + part(h, lag, 0.2) + part(l, lag, 0.15) + part(m, lag, 0.1));
    }
    EXPECT_EQ(std::max_element(blended.begin(), blended.end()) - blended.begin(), 40);

    using Curves = std::vector<std::vector<double>>;
    EXPECT_EQ(BPMConsensus::average(Curves{{1, 2}}), (std::vector<double>{1, 2}));
    EXPECT_EQ(BPMConsensus::average(Curves{{1, 2}, {3, 4}}), (std::vector<double>{2, 3}));
    EXPECT_TRUE(BPMConsensus::average(Curves{{1, 2}, {3}}).empty());
    EXPECT_TRUE(BPMConsensus::average(Curves{}).empty());
}

TEST(TempoEstimation, ErrorTexts)
{
    std::vector<float> shortNaN(10, 1.0f);
    shortNaN[3] = NAN;
    std::vector<float> longNaN = pulses(200, 40);
    longNaN[100] = INFINITY;
    const std::vector<double> noScores(149, 0.0);
    const std::tuple<std::function<void()>, Kind, const char *> cases[] = {
        {[] { core::acfScores(pulses(148, 40), fr, 35, 300, {}); }, Kind::invalidSignal,
         "Onset envelope is too short for this BPM range; need at least 149 frames, got 148."},
        {[&] { core::acfScores(shortNaN, fr, 35, 300, {}); }, Kind::invalidSignal,
         "Onset envelope is too short for this BPM range; need at least 149 frames, got 10."},
        {[&] { core::acfScores(longNaN, fr, 35, 300, {}); }, Kind::invalidSignal,
         "Onset envelope contains NaN or infinite values."},
        {[] { core::acfScores(std::vector<float>(200, 0.3f), fr, 35, 300, {}); }, Kind::invalidSignal,
         "Onset envelope has no usable AC content."},
        {[] { core::acfScores({}, fr, 35, 300, {}); }, Kind::invalidSignal, "Onset envelope is empty."},
        {[] { core::acfScores(pulses(200, 40), 0, 35, 300, {}); }, Kind::invalidSampleRate,
         "Tempo analysis requires a positive sample/frame rate; got 0.0."},
        {[] { core::acfScores(pulses(200, 40), fr, 300, 35, {}); }, Kind::invalidBPMRange,
         "Tempo analysis requires bpmMin > 0 and bpmMax > bpmMin; got 300.0-35.0."},
        {[] { core::acfScores(std::vector<float>{0, 1, 0}, 0.5, 35, 300, {}); }, Kind::noValidLagRange,
         "No valid tempo lag range exists for the requested BPM range and signal length."},
        {[] { core::candidatesFromScores({1, 2}, fr, 35, 300, 0, 5, 120, 1); }, Kind::invalidCandidateCount,
         "Tempo candidate count must be at least 1; got 0."},
        {[] { core::candidatesFromScores({1, 2}, fr, 35, 300, 3, -0.5, 120, 1); }, Kind::invalidMinimumSeparation,
         "Tempo candidate separation must be greater than 0 BPM; got -0.5."},
        {[&] { core::candidatesFromScores(noScores, fr, 35, 300, 3, 5, 120, 1); }, Kind::noTempoCandidates,
         "No usable tempo candidates were found in the audio."},
    };
    for (const auto &[call, kind, text] : cases) {
        try {
            call();
            ADD_FAILURE() << text;
        } catch (const BPMDetectionError &e) {
            EXPECT_EQ(e.kind(), kind) << text;
            EXPECT_EQ(e.message(), text);
        }
    }
}

TEST(TempoEstimation, CandidatePeaksPriorAndSelection)
{
    // y0 = 0.5, y1 = 1.0, y2 = 0.7 refine the lag by 0.125; a falling curve peaks at the low
    // end (limited to 300 BPM, the measured tempo kept), a rising one at the high end.
    std::vector<double> s(149, 0.1);
    std::vector<double> falling(149);
    std::vector<double> rising(149);
    for (size_t i = 0; i < 149; ++i) {
        falling[i] = 1.0 - double(i * i) / (148.0 * 148.0);
        rising[i] = double(i) / 148.0;
    }
    s[42] = 0.5, s[43] = 1.0, s[44] = 0.7;
    EXPECT_DOUBLE_EQ(core::candidatesFromScores(s, fr, 35, 300, 3, 5, 120, 1).candidates[0].bpm, 60 * fr / 43.125);
    // Every lag of a flat top is a peak; the first, refined to the top's middle, ranks first.
    std::vector<double> flat(149, 0.1);
    flat[100] = flat[101] = flat[102] = 1.0;
    EXPECT_DOUBLE_EQ(core::candidatesFromScores(flat, fr, 35, 300, 3, 5, std::nullopt, 1).candidates[0].bpm,
                     60 * fr / 100.5);
    // A wide top offers candidates all across it, each with the top's score.
    std::vector<double> wide(149, 0.1);
    std::fill(wide.begin() + 60, wide.begin() + 101, 1.0);
    const auto across = core::candidatesFromScores(wide, fr, 35, 300, 3, 5, std::nullopt, 1).candidates;
    ASSERT_EQ(across.size(), 3u);
    for (const auto &c : across)
        EXPECT_EQ(c.score, 1.0) << c.bpm;
    const auto fast = core::candidatesFromScores(falling, fr, 35, 300, 3, 5, 120, 1).candidates[0];
    EXPECT_EQ(fast.bpm, 300.0);
    EXPECT_DOUBLE_EQ(fast.rawBPM, 60 * fr / 16.5);
    const auto slow = core::candidatesFromScores(rising, fr, 35, 300, 3, 5, 120, 1).candidates;
    ASSERT_EQ(slow.size(), 1u);
    EXPECT_DOUBLE_EQ(slow[0].rawBPM, 60 * fr / 148);

    const auto weighted = core::applyTempoPrior({120, 60, 240, 90, 300, 35, 0}, std::vector<double>(7, 1), 120, 1);
    const double factors[] = {1, 0.6065, 0.6065, 0.9175, 0.4174, 0.2060, 0};
    for (size_t i = 0; i < 7; ++i)
        EXPECT_NEAR(weighted[i], factors[i], 5e-5) << i;

    // 120 and 124 are too close, 125 is not; zero scores and NaN never appear; equal ranking
    // scores keep their order; at most count are taken.
    EXPECT_EQ(core::candidateSet({candidate(120, 0.5, 0.5), candidate(124, 0.6, 0.7)}, 3, 5, 35, 300).candidates.size(), 1u);
    EXPECT_EQ(core::candidateSet({candidate(120, 0.5, 0.5), candidate(125, 0.6, 0.7)}, 3, 5, 35, 300).candidates.size(), 2u);
    const auto set = core::candidateSet({candidate(90, 0, 0.9), candidate(NAN, 0.9, 0.9), candidate(100, 0.5, 0.3),
                                         candidate(150, 0.5, 0.3), candidate(200, 0.5, 0.2)},
                                        2, 5, 35, 300);
    ASSERT_EQ(set.candidates.size(), 2u);
    EXPECT_EQ(set.candidates[1].bpm, 150);

}

TEST(TempoEstimation, OctaveFamilyRules)
{
    const std::tuple<const char *, std::vector<BPMCandidate>, double> cases[] = {
        {"half lifts 140 over 70", {candidate(140, 0.6, 0.3), candidate(70, 0.8, 0.6)}, 1.04 * 0.6},
        {"half: 0.4 / 0.8 is below 0.6", {candidate(140, 0.4, 0.3), candidate(70, 0.8, 0.6)}, 0.3},
        {"half never below 80", {candidate(79, 0.9, 0.3), candidate(39.5, 0.5, 0.6)}, 0.3},
        {"half: only over a half below 80", {candidate(170, 0.9, 0.3), candidate(85, 0.8, 0.6)}, 0.3},
        {"two-thirds lifts 150 over 100", {candidate(150, 0.5, 0.3), candidate(100, 1.0, 0.8)}, 1.04 * 0.8},
        {"three-halves lifts 130 over 195",
         {candidate(130, 0.4, 0.3), candidate(195, 1.0, 0.9), candidate(65, 0.6, 0.2)}, 1.04 * 0.9},
        {"three-halves needs the half", {candidate(130, 0.4, 0.3), candidate(195, 1.0, 0.9)}, 0.3},
        {"four-thirds lifts 100 over 133", {candidate(100, 0.9, 0.3), candidate(133.3, 0.8, 0.7)}, 1.04 * 0.7},
        {"four-thirds: 0.8 / 0.8 is below 1.02", {candidate(100, 0.8, 0.3), candidate(133.3, 0.8, 0.7)}, 0.3},
        {"four-thirds never above 115", {candidate(116, 0.9, 0.3), candidate(154.7, 0.1, 0.7)}, 0.3},
        {"four-thirds not over the lower of a 3:2 pair",
         {candidate(100, 0.9, 0.3), candidate(133.3, 0.8, 0.7), candidate(200, 1, 0.1), candidate(66.7, 0.9, 0.1)}, 0.3},
        {"never lowered", {candidate(140, 0.6, 0.9), candidate(70, 0.8, 0.6)}, 0.9},
    };
    for (const auto &[rule, list, rankingScore] : cases) {
        const auto reranked = core::octaveFamilyRerankedCandidates(list);
        EXPECT_DOUBLE_EQ(reranked[0].rankingScore, rankingScore) << rule;
        EXPECT_EQ(reranked[1], list[1]) << "others keep their own fields";
    }
}

TEST(TempoEstimation, WindowPlacementProgressAndFailingWindows)
{
    const std::pair<double, std::vector<double>> cases[] = {
        {89, {0}}, {90, {9, 15, 21}}, {100, {10, 20, 30}}, {180, {18, 28.5, 60, 91.5, 102}},
        {600, {60, 165, 270, 375, 480}},
    };
    for (const auto &[seconds, starts] : cases) {
        const auto n = qsizetype(seconds * 44100);
        std::vector<core::SampleRange> expected;
        for (double start : starts)
            expected.emplace_back(qsizetype(start * 44100), starts.size() == 1 ? n : qsizetype(start * 44100) + 60 * 44100);
        EXPECT_EQ(core::tempoAnalysisWindowRanges(n, 44100, seconds), expected) << seconds;
    }
    EXPECT_EQ(core::tempoAnalysisWindowRanges(1000, 44100, 120), (std::vector<core::SampleRange>{{0, 1000}}));

    // 180 s whose first 89 s are silent: the windows at 18 and 28.5 s fail and the consensus
    // is the mean of the other three. (11,025 Hz keeps it quick; placement is in seconds.)
    const double rate = 11025;
    auto samples = test::drumLoop(120, rate, 180, test::DrumStyle::fourFloor);
    std::fill(samples.begin(), samples.begin() + qsizetype(89 * rate), 0.0f);
    std::vector<std::pair<double, QString>> reports;
    const auto set = core::analyzeTempoCandidates(
        samples, rate, 180, [&](double f, const QString &m) { reports.emplace_back(f, m); }, {});
    ASSERT_EQ(reports.size(), 5u);
    const double fractions[] = {0.4, 0.448, 0.496, 0.544, 0.592};
    for (int i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ(reports[size_t(i)].first, fractions[i]);
        EXPECT_EQ(reports[size_t(i)].second, QStringLiteral("Comparing tempo evidence %1 of 5").arg(i + 1));
    }
    std::vector<std::vector<double>> curves;
    for (const auto &[start, end] : core::tempoAnalysisWindowRanges(qsizetype(samples.size()), rate, 180)) {
        if (start >= qsizetype(60 * rate))
            curves.push_back(core::phaseAveragedScores(std::span(samples).subspan(size_t(start), size_t(end - start)), rate, {}));
    }
    ASSERT_EQ(curves.size(), 3u);
    EXPECT_EQ(set, core::candidatesFromScores(BPMConsensus::average(curves), rate / 512, 35, 300, 3, 5, 120, 1));
    EXPECT_NEAR(set.candidates[0].bpm, 120, 1.0);

    std::fill(samples.begin(), samples.end(), 0.0f);
    EXPECT_THROW(core::analyzeTempoCandidates(samples, rate, 180, {}, {}), BPMDetectionError);
}
