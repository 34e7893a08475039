#include "playback/waveform_fixtures.h"
#include "playback/waveform_reader.h"

#include "library/sd2_recovery.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tampod;

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
const float notANumber = std::nanf("");

WaveformPeaks peaksOf(const QString &path, int bins, std::optional<int> channel = std::nullopt,
                      WaveformViewport viewport = {})
{
    return WaveformReader::peaks(test::trackOf(path), viewport, bins, channel);
}

} // namespace

TEST(WaveformViewport, WindowKeepsItsWidthInsideTheFile)
{
    struct Case {
        double center, magnification, start, end;
    };
    const double nanValue = std::nan("");
    const Case cases[] = {
        {0.99, 4, 0.75, 1},     {nanValue, 2, 0.25, 0.75},    {0.3, 0.5, 0, 1},
        {0.3, nanValue, 0, 1},  {0.3, double(inf), 0, 1},     {0.5, 1000, 0.5 - 1.0 / 128, 0.5 + 1.0 / 128},
        {0.0, 64, 0, 1.0 / 64}, {-3, 2, 0, 0.5},              {0.5, 1, 0, 1},
    };
    for (const Case &c : cases) {
        const WaveformViewport window = WaveformViewport::centered(c.center, c.magnification);
        EXPECT_DOUBLE_EQ(window.start, c.start) << c.center << " " << c.magnification;
        EXPECT_DOUBLE_EQ(window.end, c.end) << c.center << " " << c.magnification;
    }
}

TEST(WaveformReader, OverflowGuardOfFrameTimesBinProducts)
{
    constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
    const std::int64_t limit65536 = (int64Max - 65535) / 65536; // (2^63 − B) / B
    const std::tuple<std::int64_t, std::int64_t, bool> cases[] = {
        {limit65536, 65536, true}, {limit65536 + 1, 65536, false}, {int64Max, 1, true},
        {int64Max / 2 + 1, 2, false}, {int64Max / 2, 2, true},    {-1, 1, false},
    };
    for (const auto &[frames, bins, fits] : cases)
        EXPECT_EQ(WaveformReader::fitsBinArithmetic(frames, bins), fits) << frames << " × " << bins;
}

TEST(WaveformReader, BinsOfKnownSignals)
{
    test::TempDir dir;
    // Ten frames rising by 0.1: each bin holds the largest magnitude of the frames mapped to it.
    std::vector<float> ramp;
    for (int i = 0; i < 10; ++i)
        ramp.push_back(float(i % 2 ? i : -i) / 10);
    const QString tenFrames = dir.file("ten.wav");
    test::writeWav(tenFrames, 1, ramp);
    const WaveformPeaks perFrame{0, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f};
    EXPECT_EQ(peaksOf(tenFrames, 1024), perFrame) << "fewer frames than bins: one bin per frame";
    EXPECT_EQ(peaksOf(tenFrames, 4), (WaveformPeaks{0.2f, 0.4f, 0.7f, 0.9f})) << "frames 0-2, 3-4, 5-7, 8-9";
    for (int bins : {0, -7, 1})
        EXPECT_EQ(peaksOf(tenFrames, bins), WaveformPeaks{0.9f}) << bins;
    EXPECT_EQ(peaksOf(tenFrames, 8, std::nullopt, {0.5, 0.5}), WaveformPeaks{0.5f}) << "an empty window reads a frame";
    EXPECT_EQ(peaksOf(tenFrames, 2, std::nullopt, {0.2, 0.6}), (WaveformPeaks{0.3f, 0.5f}));

    // Non-finite samples never reach a bin; values beyond full scale are clipped.
    const QString odd = dir.file("odd.wav");
    test::writeWav(odd, 1, {0.2f, notANumber, -0.7f, inf, -inf, inf, 1.5f, notANumber, notANumber, notANumber});
    EXPECT_EQ(peaksOf(odd, 5), (WaveformPeaks{0.2f, 0.7f, 0, 1, 0})) << "NaN runs and infinity runs";
    EXPECT_EQ(peaksOf(odd, 1), WaveformPeaks{1});

    // Channels: one at a time, or the loudest of all; out of range gives nothing.
    const QString stereo = dir.file("stereo.wav");
    test::writeWav(stereo, 2, {0.25f, -0.75f, -0.25f, 0.5f});
    EXPECT_EQ(peaksOf(stereo, 1, 0), WaveformPeaks{0.25f});
    EXPECT_EQ(peaksOf(stereo, 1, 1), WaveformPeaks{0.75f});
    EXPECT_EQ(peaksOf(stereo, 2), (WaveformPeaks{0.75f, 0.5f}));
    for (int channel : {2, -1})
        EXPECT_TRUE(peaksOf(stereo, 1, channel).isEmpty()) << channel;
}

TEST(WaveformReader, LongFilesAcrossBlocksAndBinLimits)
{
    test::TempDir dir;
    // 70,000 frames, all quiet but for single clicks; the bins span reads of 8,192 frames.
    std::vector<float> quiet(70000, 0.01f);
    quiet[8191] = 0.5f;
    quiet[8192] = -0.6f;
    quiet[69999] = 0.9f;
    const QString path = dir.file("long.wav");
    test::writeWav(path, 1, quiet);
    const WaveformPeaks bins = peaksOf(path, 7);
    EXPECT_EQ(bins, (WaveformPeaks{0.6f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.9f}));
    const WaveformPeaks most = peaksOf(path, 100000);
    ASSERT_EQ(most.size(), 65536) << "at most 65,536 bins";
    EXPECT_EQ(most.back(), 0.9f);
    // A zoomed window reads only its own frames: the last 1/64 of the file.
    EXPECT_EQ(peaksOf(path, 1, std::nullopt, WaveformViewport::centered(1, 64)), WaveformPeaks{0.9f});
    EXPECT_EQ(peaksOf(path, 1, std::nullopt, WaveformViewport::centered(0.5, 64)), WaveformPeaks{0.01f});
}

TEST(WaveformReader, EveryProblemGivesNoPeaks)
{
    test::TempDir dir;
    const QString mono = dir.file("mono.wav");
    test::writeWav(mono, 1, {0.5f, 0.5f});
    const QString many = dir.file("many.wav");
    test::writeWav(many, 33, std::vector<float>(33 * 4, 0.5f));
    const QString most = dir.file("most.wav");
    test::writeWav(most, 32, std::vector<float>(32 * 4, 0.5f));
    const QString empty = dir.file("empty.wav");
    test::writeWav(empty, 1, {});
    test::writeFile(dir.file("noise.wav"), QByteArray(4096, 'x'));

    EXPECT_EQ(peaksOf(most, 1), WaveformPeaks{0.5f}) << "32 channels are read";
    for (const QString &path : {many, empty, dir.file("noise.wav"), dir.file("absent.wav"), dir.path()})
        EXPECT_TRUE(peaksOf(path, 16).isEmpty()) << path.toStdString();

    // A record waiting for its SD2 recovery is never read, even when its file is readable.
    AudioTrack pending = test::trackOf(mono);
    pending.recovery = SD2Recovery{nullptr, std::nullopt};
    EXPECT_TRUE(WaveformReader::peaks(pending, {}, 4, std::nullopt).isEmpty());

    CancellationSource cancelled;
    cancelled.cancel();
    EXPECT_TRUE(WaveformReader::peaks(test::trackOf(mono), {}, 4, std::nullopt, cancelled.token()).isEmpty());

    // The detached read gives what the direct one gives, and the ready-made whole-file reading too.
    const auto viaTask = test::runTask([&]() -> QCoro::Task<WaveformPeaks> {
        co_return co_await WaveformReader::read(test::trackOf(mono), {}, 4, 0);
    }());
    EXPECT_EQ(viaTask, (WaveformPeaks{0.5f, 0.5f}));
    EXPECT_EQ(test::runTask(WaveformReader::wholeFile(1)(test::trackOf(mono), {})), WaveformPeaks{0.5f});
}
