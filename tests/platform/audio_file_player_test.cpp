#include "platform/output/audio_file_player.h"
#include "platform/decode/internal/pcm_source.h"

#include "core/error.h"
#include "audio_fixtures.h"
#include "playback_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

constexpr int rate = 44100;

struct Reports {
    std::atomic<int> finished{0};
    std::atomic<int> succeeded{0};
    std::atomic<int> decodeErrors{0};
    std::atomic<bool> errorBeforeFinish{false};

    void watch(AudioFilePlayer &player)
    {
        player.setFinishedHandler([this](bool ok) {
            succeeded += ok ? 1 : 0;
            ++finished;
        });
        player.setDecodeErrorHandler([this](std::exception_ptr error) {
            if (error && finished == 0)
                errorBeforeFinish = true;
            ++decodeErrors;
        });
    }
};

class AudioFilePlayerTest : public ::testing::Test {
protected:
    QString file(const QString &name, int channels, const std::vector<float> &samples)
    {
        const auto path = dir.file(name);
        test::writeFloatWav(path, channels, rate, samples);
        return path;
    }

    test::TempDir dir;
    test::ListeningOutput output;
    // Outlive the players of a test, whose handlers write to them.
    Reports reports;
    Reports others;
};

// Index of the first sample that is not silence.
size_t firstSound(const std::vector<float> &samples)
{
    size_t i = 0;
    while (i < samples.size() && samples[i] == 0)
        ++i;
    return i;
}

} // namespace

TEST_F(AudioFilePlayerTest, PositionFollowsTheWallClock)
{
    AudioFilePlayer player(file("long.wav", 2, test::constant(rate * 8, 2, 0.1f)));
    EXPECT_DOUBLE_EQ(player.duration(), 8.0);
    ASSERT_TRUE(player.prepareToPlay());
    ASSERT_TRUE(player.play());
    // The output advances in ticks; reading just after one keeps its size out of the figure.
    auto afterTick = [&] {
        const double seen = player.currentTime();
        while (player.currentTime() == seen)
            std::this_thread::sleep_for(200us);
        return std::pair(player.currentTime(), std::chrono::steady_clock::now());
    };
    const auto [startPosition, startClock] = afterTick();
    std::this_thread::sleep_for(5s); // the measurement itself
    const auto [position, clock] = afterTick();
    const std::chrono::duration<double> elapsed = clock - startClock;
    EXPECT_NEAR(position - startPosition, elapsed.count(), 0.020);
    EXPECT_TRUE(player.isPlaying());

    player.pause();
    const double paused = player.currentTime();
    EXPECT_FALSE(player.isPlaying());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(player.currentTime(), paused);
}

TEST_F(AudioFilePlayerTest, EndlessLoopIsSampleContinuous)
{
    const int frames = 2000;
    const auto samples = test::ramp(frames);
    AudioFilePlayer player(file("ramp.wav", 1, samples));
    player.setNumberOfLoops(-1);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > 6 * frames; }));
    player.pause();

    const auto heard = output.heardLeft();
    const auto start = firstSound(heard);
    ASSERT_LT(start + 5 * frames, heard.size());
    const auto end = heard.size() - 1024; // the block that the pause cut short
    for (size_t i = start; i < end; ++i)
        ASSERT_EQ(heard[i], samples[(i - start) % frames]) << "at heard frame " << i - start;
    EXPECT_TRUE(player.isPlaying() == false);
}

TEST_F(AudioFilePlayerTest, LoopCountPlaysExactlyThatManyTimesAndFinishesOnce)
{
    const int frames = 3000;
    AudioFilePlayer player(file("dc.wav", 2, test::constant(frames, 2, 0.5f)));
    reports.watch(player);
    player.setNumberOfLoops(2);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 0; }));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), player.duration());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(reports.finished, 1);
    EXPECT_EQ(reports.succeeded, 1);
    EXPECT_EQ(reports.decodeErrors, 0);

    const auto heard = output.heardLeft();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), 0.5f), 3 * frames);

    // After the end the caller goes back to 0: the whole count plays again.
    output.clear();
    player.setCurrentTime(0);
    EXPECT_EQ(player.currentTime(), 0);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 1; }));
    const auto again = output.heardLeft();
    EXPECT_EQ(std::count(again.begin(), again.end(), 0.5f), 3 * frames);

    // play() at the end without a seek starts from the beginning too.
    output.clear();
    player.setNumberOfLoops(0);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 2; }));
    const auto once = output.heardLeft();
    EXPECT_EQ(std::count(once.begin(), once.end(), 0.5f), frames);
    EXPECT_EQ(reports.succeeded, 3);
}

TEST_F(AudioFilePlayerTest, ChangingTheLoopCountKeepsThePosition)
{
    // Short enough that the decoder has already queued the next pass when the count changes.
    const int frames = 4410;
    const auto samples = test::ramp(frames);
    AudioFilePlayer player(file("ramp.wav", 1, samples));
    reports.watch(player);
    player.setNumberOfLoops(-1);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > frames + frames / 2; }));
    const double before = player.currentTime();
    player.setNumberOfLoops(0);
    EXPECT_NEAR(player.currentTime(), before, 0.011);
    EXPECT_EQ(player.numberOfLoops(), 0);
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 0; }));

    // Two passes in all: what was queued for a third under the old count never sounds.
    const auto heard = output.heardLeft();
    const auto last = std::count(heard.begin(), heard.end(), samples.back());
    EXPECT_EQ(last, 2);
    EXPECT_EQ(reports.succeeded, 1);
}

TEST_F(AudioFilePlayerTest, SeekingIsFrameAccurate)
{
    // Long enough to be read from the file on every seek rather than kept in memory.
    const int frames = 7 * rate;
    const auto samples = test::ramp(frames);
    AudioFilePlayer player(file("ramp.wav", 1, samples));
    player.setCurrentTime(0.25);
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.25);
    player.setCurrentTime(-3);
    EXPECT_EQ(player.currentTime(), 0);
    player.setCurrentTime(std::nan(""));
    EXPECT_EQ(player.currentTime(), 0);
    player.setCurrentTime(99);
    EXPECT_DOUBLE_EQ(player.currentTime(), 7.0);

    // While playing, the first sound after a seek is the target frame.
    player.setCurrentTime(0);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > 2000; }));
    player.pause();
    output.clear();
    player.setCurrentTime(212345.0 / rate);
    EXPECT_DOUBLE_EQ(player.currentTime(), 212345.0 / rate);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > 2000; }));
    player.stop();
    const auto heard = output.heardLeft();
    const auto start = firstSound(heard);
    ASSERT_LT(start + 100, heard.size());
    EXPECT_EQ(heard[start], samples[212345]);
    EXPECT_EQ(heard[start + 99], samples[212345 + 99]);

    // stop() keeps the position; play() resumes there.
    const double stoppedAt = player.currentTime();
    EXPECT_GT(stoppedAt, 212345.0 / rate);
    EXPECT_FALSE(player.isPlaying());
    output.clear();
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > 100; }));
    player.pause();
    const auto resumed = output.heardLeft();
    EXPECT_EQ(resumed[firstSound(resumed)], samples[static_cast<size_t>(std::lround(stoppedAt * rate))]);
}

TEST_F(AudioFilePlayerTest, DecodeErrorMidFileIsReported)
{
    // A FLAC file cut off in the middle: its header still promises two seconds.
    const auto path = dir.file("cut.flac");
    test::makeTone(path, 2 * rate, {});
    auto bytes = test::readAll(path);
    bytes.truncate(bytes.size() * 2 / 5);
    test::writeFile(path, bytes);

    AudioFilePlayer player(path);
    EXPECT_DOUBLE_EQ(player.duration(), 2.0);
    reports.watch(player);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 0; }));
    EXPECT_EQ(reports.decodeErrors, 1);
    EXPECT_TRUE(reports.errorBeforeFinish);
    EXPECT_EQ(reports.succeeded, 0);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_GT(player.currentTime(), 0.5);
    EXPECT_LT(player.currentTime(), 1.0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(reports.finished, 1);
}

namespace {

// Decodes silence-free frames, then fails at a given frame, like a damaged compressed file.
class FailingSource final : public PcmSource {
public:
    explicit FailingSource(std::int64_t failAt, bool once = false) : failAt_(failAt), once_(once) {}
    int channels() const override { return 1; }
    double sampleRate() const override { return rate; }
    std::int64_t length() const override { return rate; }
    void seek(std::int64_t frame) override { position_ = frame; }
    std::int64_t read(float *out, std::int64_t frames) override
    {
        if (position_ >= failAt_) {
            if (once_)
                failAt_ = length();
            throw MalformedData(QStringLiteral("bad frame"));
        }
        const auto n = std::min(frames, failAt_ - position_);
        std::fill(out, out + n, 0.25f);
        position_ += n;
        return n;
    }

private:
    std::int64_t failAt_;
    bool once_;
    std::int64_t position_ = 0;
};

} // namespace

TEST_F(AudioFilePlayerTest, DecoderErrorsReachTheHandlersInOrder)
{
    AudioFilePlayer player(std::make_unique<FailingSource>(20000));
    std::exception_ptr seen;
    reports.watch(player);
    player.setDecodeErrorHandler([&](std::exception_ptr error) {
        seen = error;
        ++reports.decodeErrors;
    });
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 0; }));
    EXPECT_TRUE(errorIs<MalformedData>(seen));
    EXPECT_EQ(reports.succeeded, 0);
    // Everything decoded before the error was heard.
    const auto heard = output.heardLeft();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), 0.25f), 20000);

    // A source that fails at once cannot be prepared, and nothing is reported for it.
    AudioFilePlayer broken(std::make_unique<FailingSource>(0));
    others.watch(broken);
    EXPECT_FALSE(broken.prepareToPlay());
    EXPECT_FALSE(broken.play());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(others.finished + others.decodeErrors, 0);

    // A failure stopped before it was heard does not make the next playback a failure.
    AudioFilePlayer flaky(std::make_unique<FailingSource>(rate / 2, true));
    others.watch(flaky);
    ASSERT_TRUE(flaky.play());
    ASSERT_TRUE(test::pumpUntil([&] { return others.decodeErrors > 0; }));
    flaky.stop();
    EXPECT_LT(flaky.currentTime(), 0.5);
    ASSERT_TRUE(flaky.play());
    ASSERT_TRUE(test::pumpUntil([&] { return others.finished > 0; }));
    EXPECT_EQ(others.succeeded, 1);
}

TEST_F(AudioFilePlayerTest, MetersReadThePeakBeforeTheVolume)
{
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    AudioFilePlayer player(file("sine.wav", 2, test::sine(rate * 2, 2, rate, 441, amplitude)));
    EXPECT_EQ(player.numberOfChannels(), 2);
    player.updateMeters();
    EXPECT_EQ(player.peakPower(0), -INFINITY);
    player.setVolume(0.25f);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > rate / 10; }));
    player.updateMeters();
    EXPECT_NEAR(player.peakPower(0), -6.0, 0.5);
    EXPECT_NEAR(player.peakPower(1), -6.0, 0.5);
    EXPECT_EQ(player.peakPower(2), -INFINITY);
    EXPECT_EQ(player.peakPower(-1), -INFINITY);
    player.pause();
    player.updateMeters();
    player.updateMeters(); // nothing rendered since the last update
    EXPECT_EQ(player.peakPower(0), -INFINITY);

    // What was heard carried the volume.
    const auto heard = output.heardLeft();
    const auto loudest = *std::max_element(heard.begin(), heard.end());
    EXPECT_NEAR(loudest, 0.25 * amplitude, 0.01);
}

TEST_F(AudioFilePlayerTest, ChannelsAndVolumeMapToTheOutput)
{
    // Mono on both sides; three channels fold into two without exceeding full scale.
    AudioFilePlayer mono(file("mono.wav", 1, test::constant(rate, 1, 0.5f)));
    std::vector<float> three;
    for (int i = 0; i < rate; ++i)
        three.insert(three.end(), {0.3f, 0.6f, 0.9f});
    AudioFilePlayer surround(file("three.wav", 3, three));
    EXPECT_EQ(surround.numberOfChannels(), 3);

    auto listen = [&](AudioFilePlayer &player) {
        output.clear();
        EXPECT_TRUE(player.play());
        EXPECT_TRUE(test::pumpUntil([&] { return output.heardFrames() > 2000; }));
        player.pause();
        const auto heard = output.heard();
        const auto at = firstSound(heard) + 200;
        return std::pair(heard[at], heard[at + 1]);
    };
    EXPECT_EQ(listen(mono), std::pair(0.5f, 0.5f));
    const auto [left, right] = listen(surround);
    EXPECT_FLOAT_EQ(left, 0.6f);
    EXPECT_FLOAT_EQ(right, 0.75f);

    // The volume is kept as given and applied within 0...1.
    mono.setVolume(1.7f);
    EXPECT_EQ(mono.volume(), 1.7f);
    EXPECT_EQ(listen(mono).first, 0.5f);
    mono.setVolume(0.5f);
    EXPECT_EQ(listen(mono).first, 0.25f);
    for (float silent : {-0.2f, NAN}) {
        mono.setVolume(silent);
        output.clear();
        ASSERT_TRUE(mono.play());
        ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > 2000; }));
        mono.pause();
        const auto heard = output.heard();
        EXPECT_EQ(firstSound(heard), heard.size());
    }
}

TEST_F(AudioFilePlayerTest, TwoPlayersSoundAtOnceThroughOneOutput)
{
    AudioFilePlayer main(file("a.wav", 2, test::constant(rate, 2, 0.25f)));
    AudioFilePlayer preview(file("b.wav", 1, test::constant(rate / 2, 1, 0.125f)));
    reports.watch(preview);
    main.setNumberOfLoops(-1);
    preview.setVolume(0.5f);
    ASSERT_TRUE(main.play());
    ASSERT_TRUE(preview.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 0; }));
    EXPECT_TRUE(main.isPlaying());
    EXPECT_FALSE(preview.isPlaying());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > rate; }));
    main.stop();

    const auto heard = output.heardLeft();
    EXPECT_GT(std::count(heard.begin(), heard.end(), 0.3125f), rate / 4);
    EXPECT_GT(std::count(heard.begin(), heard.end(), 0.25f), 0);
}

TEST_F(AudioFilePlayerTest, OtherRatesAreResampledToTheRunningStream)
{
    // The stream starts at 48 kHz for a silent file; the 44.1 kHz files join it.
    const auto silentPath = dir.file("silent48.wav");
    test::writeFloatWav(silentPath, 2, 48000, test::constant(48000, 2, 0.0f));
    AudioFilePlayer stream(silentPath);
    stream.setNumberOfLoops(-1);

    AudioFilePlayer tone(file("tone.wav", 1, test::sine(rate / 2, 1, rate, 1000, 0.25)));
    reports.watch(tone);
    ASSERT_TRUE(tone.prepareToPlay()); // decoded ahead at its own rate, before the stream ran
    ASSERT_TRUE(stream.play());
    ASSERT_TRUE(tone.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > 0; }));
    EXPECT_DOUBLE_EQ(tone.currentTime(), 0.5);

    // Half a second of 1 kHz, at the stream's rate: same length, same pitch.
    auto heard = output.heardLeft();
    const auto first = firstSound(heard);
    auto last = heard.size() - 1;
    while (last > first && std::fabs(heard[last]) < 1e-4f)
        --last;
    EXPECT_NEAR(static_cast<double>(last - first), 24000.0, 60.0);
    int rising = 0;
    for (size_t i = first + 1; i <= last; ++i)
        rising += heard[i - 1] < 0 && heard[i] >= 0 ? 1 : 0;
    EXPECT_NEAR(rising, 500, 2);

    // A resampled loop runs on without a dip at the wraps.
    output.clear();
    AudioFilePlayer loop(file("dc.wav", 1, test::constant(rate / 10, 1, 0.25f)));
    loop.setNumberOfLoops(-1);
    ASSERT_TRUE(loop.play());
    ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > 48000 / 2; }));
    loop.pause();
    stream.stop();
    heard = output.heardLeft();
    const auto start = firstSound(heard) + 200; // past the filter's onset
    ASSERT_LT(start + 20000, heard.size());
    for (size_t i = start; i < heard.size() - 1024; ++i)
        ASSERT_NEAR(heard[i], 0.25f, 0.003f) << "at " << i - start;
}

TEST_F(AudioFilePlayerTest, RapidOperationsDuringPlaybackLeaveItConsistent)
{
    // Seeks, pauses and loop changes racing the decoder, the output and the ends of a short
    // file; afterwards the player still plays its file once through and reports that once.
    const int frames = 1500;
    const auto samples = test::ramp(frames);
    AudioFilePlayer player(file("short.wav", 1, samples));
    reports.watch(player);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < until) {
        switch (next() % 7) {
        case 0: player.play(); break;
        case 1: player.pause(); break;
        case 2: player.setCurrentTime((next() % 100) / 100.0 * player.duration()); break;
        case 3: player.setNumberOfLoops(static_cast<int>(next() % 3) - 1); break;
        case 4: player.stop(); break;
        case 5: player.updateMeters(); break;
        default: std::this_thread::sleep_for(std::chrono::microseconds(next() % 3000)); break;
        }
        EXPECT_GE(player.currentTime(), 0);
        EXPECT_LE(player.currentTime(), player.duration());
    }
    player.stop();
    ASSERT_TRUE(test::pumpUntil([&] { return !player.isPlaying(); }));
    std::this_thread::sleep_for(50ms); // reports of the endings above
    const int before = reports.finished;
    output.clear();
    player.setNumberOfLoops(0);
    player.setCurrentTime(0);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(test::pumpUntil([&] { return reports.finished > before; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(reports.finished, before + 1);
    EXPECT_EQ(reports.decodeErrors, 0);
    const auto heard = output.heardLeft();
    const auto start = firstSound(heard);
    ASSERT_EQ(std::count_if(heard.begin(), heard.end(), [](float v) { return v != 0; }), frames);
    for (int i = 0; i < frames; ++i)
        ASSERT_EQ(heard[start + i], samples[i]);
}
