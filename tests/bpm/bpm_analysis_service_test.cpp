// The analysis service end to end on program-made files: limits, texts, progress,
// cancellation, and the tempo of drum loops with its refinement.
#include "bpm/bpm_analysis_error.h"
#include "bpm/bpm_analysis_service.h"
#include "bpm/bpm_detection_error.h"
#include "bpm/bpm_precision.h"
#include "bpm/internal/analysis_signal.h"
#include "bpm/synthetic_audio.h"
#include "files/access/missing_audio_source.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cmath>

using namespace tampod;
using Kind = BPMAnalysisError::Kind;
using test::DrumStyle;

namespace {

class Analysis : public ::testing::Test {
protected:
    test::TempDir dir;
    std::vector<double> reports; // written on the service's thread, read after wait()

    AudioTrack track(const QString &name)
    {
        AudioTrack t;
        t.id = QUuid::createUuid();
        t._url = TrackedFileURL(QUrl::fromLocalFile(dir.file(name)));
        return t;
    }
    AudioTrack mono(const QString &name, const std::vector<float> &samples, int rate = 44100)
    {
        test::writeWav(dir.file(name), samples, 1, rate);
        return track(name);
    }
    // onReport runs on the service's thread, after the report is recorded.
    double detect(const AudioTrack &t, const std::function<void(double)> &onReport = {},
                  const CancellationToken &token = {})
    {
        const auto progress = [this, onReport](double value) {
            reports.push_back(value);
            if (onReport)
                onReport(value);
        };
        return BPMAnalysisService::shared()->detect(t, progress, token).wait();
    }
    std::exception_ptr failure(const AudioTrack &t, const std::function<void(double)> &onReport = {},
                               const CancellationToken &token = {})
    {
        try {
            detect(t, onReport, token);
            ADD_FAILURE() << "no error";
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }
};

} // namespace

TEST(BPMAnalysisLimits, ValidationMixdownAndLevel)
{
    const std::tuple<std::int64_t, double, std::uint32_t, std::optional<Kind>> cases[] = {
        {88200, 44100, 2, std::nullopt}, {88199, 44100, 2, Kind::tooShort}, // two seconds, one frame less
        {1 << 26, 44100, 1, std::nullopt}, {(1 << 26) + 1, 44100, 1, Kind::limit}, {0, 44100, 1, Kind::tooShort},
        {(1 << 26) + 1, 0, 0, Kind::limit}, // the count comes first
        {800000, 384000, 1, std::nullopt}, {2000, 1000, 1, std::nullopt}, {800000, 384001, 1, Kind::unreadable},
        {2000, 999, 1, Kind::unreadable}, {2000, 0, 1, Kind::unreadable}, {2000, NAN, 1, Kind::unreadable},
        {88200, 44100, 0, Kind::unreadable}, {88200, 44100, 33, Kind::unreadable}, {88200, 44100, 32, std::nullopt},
        {10, 44100, 40, Kind::unreadable}, // channels before the length
    };
    for (const auto &[frames, rate, channels, expected] : cases) {
        std::optional<Kind> got;
        try {
            BPMAnalysisService::validate(frames, rate, channels);
        } catch (const BPMAnalysisError &e) {
            got = e.kind();
        }
        EXPECT_EQ(got, expected) << frames << " " << rate << " " << channels;
    }

    // Opposite channels cancel exactly; a non-finite sample is refused.
    std::vector<float> mono(3, 0.0f);
    const std::vector<float> left{0.3f, -0.7f, 1.0f};
    const std::vector<float> right{-0.3f, 0.7f, -1.0f};
    EXPECT_TRUE(AnalysisSignal::addChannel(mono.data(), left.data(), 3, 2));
    EXPECT_TRUE(AnalysisSignal::addChannel(mono.data(), right.data(), 3, 2));
    EXPECT_EQ(mono, std::vector<float>(3, 0.0f));
    for (const float bad : {NAN, INFINITY, -INFINITY}) {
        const std::vector<float> samples{0.1f, bad, 0.2f};
        EXPECT_FALSE(AnalysisSignal::addChannel(mono.data(), samples.data(), 3, 1));
    }
    // The level is lowered to a peak of 0.98, never raised.
    std::vector<float> quiet{0.5f, -0.25f};
    std::vector<float> loud{0.5f, -1.96f, 1.0f};
    AnalysisSignal::tameLevel(quiet, {});
    AnalysisSignal::tameLevel(loud, {});
    EXPECT_EQ(quiet, (std::vector<float>{0.5f, -0.25f}));
    EXPECT_EQ(loud, (std::vector<float>{0.25f, -0.98f, 0.5f}));
}

TEST_F(Analysis, TheTextsOfShortSilentLongAndDamagedFiles)
{
    const QString tooShort =
        QStringLiteral("BPM detection needs at least two seconds of audio with a repeating beat.");
    EXPECT_EQ(errorText(failure(mono("short.wav", std::vector<float>(size_t(1.9 * 44100), 0.1f)))),
              tooShort);
    EXPECT_EQ(errorText(failure(mono("empty.wav", {}))), tooShort); // not over the frame limit

    // Silence fails in the pipeline (the queue shows the "no pulse" text for that).
    const auto silent = failure(mono("silence.wav", std::vector<float>(10 * 44100, 0.0f)));
    EXPECT_TRUE(errorIs<BPMDetectionError>(silent));
    EXPECT_EQ(BPMAnalysisError(Kind::noPulse).message(), "No usable repeating beat was found. Get is available to try again.");

    // 26 minutes at 48 kHz: 74,880,000 frames, refused before anything is decoded.
    test::writeLongSilentWav(dir.file("long.wav"), std::int64_t(26 * 60) * 48000, 48000);
    EXPECT_EQ(errorText(failure(track("long.wav"))), "This file exceeds the BPM analysis limit of 67,108,864 decoded frames (about 25 "
                                  "minutes at 44.1 kHz). Export a shorter section and try Get again.");

    std::vector<float> stereo(2 * 3 * 44100, 0.1f);
    stereo[2 * 44100 + 1] = NAN; // one sample of the right channel
    test::writeWav(dir.file("nan.wav"), stereo, 2, 44100, true);
    EXPECT_EQ(errorText(failure(track("nan.wav"))), "The audio could not be read for BPM detection. Try exporting it to WAV first.");

    // A stretch of the file the system cannot read (a bad sector, a share that drops), in every
    // source format.
    for (const QString &path : test::makeNoiseSources(dir.path(), 12)) {
        const qint64 middle = QFileInfo(path).size() / 2;
        test::BadStretch bad(path, middle - 2048, middle + 2048);
        EXPECT_EQ(errorText(failure(track(QFileInfo(path).fileName()))).toStdString(),
                  "The audio could not be read for BPM detection. Try exporting it to WAV first.")
            << path.toStdString();
    }
}

TEST_F(Analysis, MissingSourcesAndFilesChangedMeanwhile)
{
    try {
        detect(track("gone.wav"));
        ADD_FAILURE();
    } catch (const MissingAudioSource &e) {
        EXPECT_EQ(e.name(), "gone.wav");
    }
    // A new modification second while the file is being analysed.
    const auto changed = failure(mono("touched.wav", test::drumLoop(120, 44100, 5, DrumStyle::fourFloor)), [this](double value) {
        QFile file(dir.file("touched.wav"));
        if (value == 0.02 && file.open(QIODevice::ReadWrite))
            file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime);
    });
    EXPECT_EQ(errorText(changed), "The audio changed during BPM detection. Try Get again.");
}

TEST_F(Analysis, ProgressScheduleAndCancellationWithinAChunk)
{
    const AudioTrack t = mono("loop.wav", test::drumLoop(128, 44100, 95, DrumStyle::fourFloor));
    EXPECT_NEAR(detect(t), 128, 128 * 0.005);
    std::vector<double> expected{0.02};
    for (int p = 1; p <= 35; ++p)
        expected.push_back(p / 100.0);
    expected.push_back(0.40);
    for (int i = 0; i < 3; ++i) // 95 s: three windows
        expected.push_back(0.4 + 0.24 * i / 3);
    expected.insert(expected.end(), {0.72, 1.0});
    EXPECT_EQ(reports, expected);

    // Cancelled at the first hundredth: the next chunk is never read, nothing more is reported.
    reports.clear();
    CancellationSource source;
    const auto cancelled = failure(t, [&source](double value) {
        if (value == 0.01)
            source.cancel();
    }, source.token());
    EXPECT_TRUE(isCancellation(cancelled));
    EXPECT_EQ(reports, (std::vector<double>{0.02, 0.01}));
}

TEST_F(Analysis, DrumLoopsGiveTheirTempoOrTheOctaveTheRulesChoose)
{
    // refined: the result has at most three decimals. At 120 and 128 BPM the 88-sample hops of
    // 44.1 kHz fall unevenly on the beats and the 4- and 8-beat lags disagree by more than
    // 0.02 BPM, so the pipeline's own value stands.
    const std::tuple<double, DrumStyle, double, bool, const char *> cases[] = {
        {90, DrumStyle::fourFloor, 90, true, "kick on every beat"},
        {120, DrumStyle::fourFloor, 120, false, "kick on every beat"},
        {128, DrumStyle::fourFloor, 128, false, "kick on every beat"},
        {140, DrumStyle::fourFloor, 140, true, "kick on every beat"},
        // The prior centred on 120 BPM weighs 87 (0.90) above 174 (0.68), and the half rule
        // lifts a tempo only over a half below 80 BPM: the half stands.
        {174, DrumStyle::fourFloor, 87, true, "the prior prefers the half"},
        // The kick repeats every two beats and the beat scores under 0.6 of the half, so the
        // half rule does not lift 120 over 60.
        {120, DrumStyle::rock, 60, true, "kick on 1 and 3 only"},
    };
    for (const auto &[bpm, style, expected, refined, why] : cases) {
        const double tempo = detect(mono(QString::number(bpm) + QString::number(int(style)) + ".wav",
                                         test::drumLoop(bpm, 44100, 60, style)));
        EXPECT_NEAR(tempo, expected, expected * 0.005) << bpm << ": " << why;
        EXPECT_EQ(std::round(tempo * 1000) == tempo * 1000, refined) << bpm;
    }
    // At 48 kHz a refinement hop is 96 samples and a beat at 120 BPM exactly 250 of them.
    EXPECT_EQ(detect(mono("grid.wav", test::drumLoop(120, 48000, 60, DrumStyle::fourFloor), 48000)), 120.0);
}

TEST(BPMPrecision, RefinementLimits)
{
    auto loop = test::drumLoop(120, 48000, 60, DrumStyle::fourFloor);
    const auto estimate = [](std::span<const float> samples, double candidate, double rate = 48000) {
        return BPMPrecision::estimate(samples, rate, candidate, {});
    };
    // 48 s makes 24 s stretches with room for 4, 8 and 16 beats only: just enough.
    EXPECT_NEAR(estimate(std::span(loop).first(48 * 48000), 120).value_or(0), 120, 0.001);
    EXPECT_FALSE(estimate(std::span(loop).first(48 * 48000 - 1), 120));
    EXPECT_FALSE(estimate(loop, 34.9));
    EXPECT_FALSE(estimate(loop, 300.1));
    EXPECT_FALSE(estimate(loop, 120, 999));
    // Refinement moves a candidate by at most 0.5 %: 120.6 is pulled in, 120.62 is not.
    EXPECT_NEAR(estimate(loop, 120.6).value_or(0), 120, 0.001);
    EXPECT_FALSE(estimate(loop, 120.62));
    EXPECT_FALSE(estimate(std::vector<float>(60 * 48000, 0.0f), 120)) << "no onsets";
    // The last 30 s a little faster: the end stretch measures 0.0088 BPM above the start
    // (within 0.01 of each other), then 0.0114 above (not).
    for (const auto &[faster, refined] : {std::pair{120.009, true}, {120.011, false}}) {
        const auto end = test::drumLoop(faster, 48000, 30, DrumStyle::fourFloor);
        std::copy(end.begin(), end.end(), loop.begin() + 30 * 48000);
        EXPECT_EQ(estimate(loop, 120).has_value(), refined) << faster;
    }
}
