#include "playback/waveform_fixtures.h"
#include "playback/waveform_reader.h"

#include "library/sd2_recovery.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tampod;

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
const float notANumber = std::nanf("");

WaveformPeaks peaksOf(const QString &path, int bins, std::optional<int> channel = {}, WaveformViewport window = {})
{
    return WaveformReader::peaks(test::trackOf(path), window, bins, channel);
}

} // namespace

TEST(WaveformReader, ViewportAndOverflowGuard)
{
    const double nan = std::nan("");
    const std::tuple<double, double, double, double> windows[] = {
        {0.99, 4, 0.75, 1}, {nan, 2, 0.25, 0.75}, {0.3, 0.5, 0, 1}, {0.3, nan, 0, 1}, {0.3, INFINITY, 0, 1},
        {0.5, 1000, 0.5 - 1.0 / 128, 0.5 + 1.0 / 128}};
    for (const auto &[center, magnification, start, end] : windows)
        EXPECT_EQ(WaveformViewport::centered(center, magnification), (WaveformViewport{start, end})) << center;

    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const std::int64_t limit = (largest - 65535) / 65536; // (2^63 − B) / B
    const std::tuple<std::int64_t, std::int64_t, bool> products[] = {
        {limit, 65536, true}, {limit + 1, 65536, false}, {largest, 1, true}, {largest / 2 + 1, 2, false}};
    for (const auto &[frames, bins, fits] : products)
        EXPECT_EQ(WaveformReader::fitsBinArithmetic(frames, bins), fits) << frames << " × " << bins;
}

TEST(WaveformReader, PeaksOfKnownSignals)
{
    test::TempDir dir;
    std::vector<float> ramp; // 0, 0.1, −0.2 … alternating signs
    for (int i = 0; i < 10; ++i)
        ramp.push_back(float(i % 2 ? i : -i) / 10);
    test::writeWav(dir.file("ramp.wav"), 1, ramp);
    test::writeWav(dir.file("odd.wav"), 1, {0.2f, notANumber, -0.7f, inf, -inf, inf, 1.5f, notANumber, notANumber, notANumber});
    test::writeWav(dir.file("stereo.wav"), 2, {0.25f, -0.75f, -0.25f, 0.5f});
    std::vector<float> clicks(70000, 0.01f); // clicks at both sides of the first block boundary
    clicks[8191] = 0.5f;
    clicks[8192] = -0.6f;
    clicks[69999] = 0.9f;
    test::writeWav(dir.file("clicks.wav"), 1, clicks);

    struct Case {
        const char *file;
        int bins;
        std::optional<int> channel;
        WaveformViewport window;
        WaveformPeaks expected;
    };
    const Case cases[] = {
        {"ramp.wav", 1024, {}, {}, {0, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f}}, // a bin per frame
        {"ramp.wav", 4, {}, {}, {0.2f, 0.4f, 0.7f, 0.9f}}, // frames 0–2, 3–4, 5–7, 8–9
        {"ramp.wav", 0, {}, {}, {0.9f}},
        {"ramp.wav", 8, {}, {0.5, 0.5}, {0.5f}}, // an empty window still reads a frame
        {"odd.wav", 5, {}, {}, {0.2f, 0.7f, 0, 1, 0}}, // NaN runs, infinity runs, clipping
        {"stereo.wav", 1, 1, {}, {0.75f}},
        {"stereo.wav", 2, {}, {}, {0.75f, 0.5f}},
        {"clicks.wav", 7, {}, {}, {0.6f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.9f}},
        {"clicks.wav", 1, {}, WaveformViewport::centered(0.5, 64), {0.01f}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(peaksOf(dir.file(c.file), c.bins, c.channel, c.window), c.expected) << c.file << " " << c.bins;
    const WaveformPeaks most = peaksOf(dir.file("clicks.wav"), 100000);
    EXPECT_EQ(most.size(), 65536);
    EXPECT_EQ(most.back(), 0.9f);
    EXPECT_EQ(test::runTask(WaveformReader::wholeFile(1)(test::trackOf(dir.file("ramp.wav")), {})), WaveformPeaks{0.9f});
}

TEST(WaveformReader, EveryProblemGivesNoPeaks)
{
    test::TempDir dir;
    test::writeWav(dir.file("mono.wav"), 1, {0.5f, 0.5f});
    test::writeWav(dir.file("33.wav"), 33, std::vector<float>(33 * 4, 0.5f));
    test::writeWav(dir.file("32.wav"), 32, std::vector<float>(32 * 4, 0.5f));
    test::writeWav(dir.file("empty.wav"), 1, {});
    test::writeFile(dir.file("noise.wav"), QByteArray(4096, 'x'));
    EXPECT_EQ(peaksOf(dir.file("32.wav"), 1), WaveformPeaks{0.5f});
    for (const char *name : {"33.wav", "empty.wav", "noise.wav", "absent.wav", ""})
        EXPECT_TRUE(peaksOf(dir.file(name), 16).isEmpty()) << name;
    for (int channel : {1, -1})
        EXPECT_TRUE(peaksOf(dir.file("mono.wav"), 1, channel).isEmpty()) << channel;

    // A record waiting for its SD2 recovery is never read; neither is a cancelled one.
    AudioTrack pending = test::trackOf(dir.file("mono.wav"));
    pending.recovery = SD2Recovery{nullptr, std::nullopt};
    EXPECT_TRUE(WaveformReader::peaks(pending, {}, 4, {}).isEmpty());
    EXPECT_TRUE(WaveformReader::peaks(test::trackOf(dir.file("mono.wav")), {}, 4, {}, test::cancelledToken()).isEmpty());
}
