#include "platform/output/audio_file_player.h"
#include "platform/decode/internal/playback/pcm_source.h"

#include "core/error.h"
#include "platform/audio_file_error.h"
#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
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
            errorBeforeFinish = errorBeforeFinish || (error && finished == 0);
            ++decodeErrors;
        });
    }
};

// Index of the first sample that is not silence.
size_t firstSound(const std::vector<float> &samples)
{
    return size_t(std::find_if(samples.begin(), samples.end(), [](float v) { return v != 0; }) - samples.begin());
}

class AudioFilePlayerTest : public ::testing::Test {
protected:
    QString file(const QString &name, int channels, const std::vector<float> &samples, int fileRate = rate)
    {
        const auto path = dir.file(name);
        test::writeFloatWav(path, channels, fileRate, samples);
        return path;
    }

    // Plays until more than frames frames were heard, then pauses; returns the left channel.
    std::vector<float> listen(AudioFilePlayer &player, std::int64_t frames)
    {
        output.clear();
        EXPECT_TRUE(player.play());
        EXPECT_TRUE(test::pumpUntil([&] { return output.heardFrames() > frames; }));
        player.pause();
        return output.heardLeft();
    }

    void playToTheEnd(AudioFilePlayer &player, Reports &seen)
    {
        const int before = seen.finished;
        ASSERT_TRUE(player.play());
        ASSERT_TRUE(test::pumpUntil([&] { return seen.finished > before; }));
    }

    // Every report queued so far has been delivered: handlers run in order, so the end of a
    // short silent file played now is reported after them, and adds nothing to what is heard.
    void awaitQueuedReports()
    {
        Reports fence;
        AudioFilePlayer last(file(QStringLiteral("fence%1.wav").arg(++fences), 1, test::constant(64, 1, 0.0f)));
        fence.watch(last);
        playToTheEnd(last, fence);
    }

    test::TempDir dir;
    int fences = 0;
    test::ListeningOutput output;
    // Outlive the players of a test, whose handlers write to them.
    Reports reports;
    Reports others;
};

// Decodes constant frames, then fails at a given frame, like a damaged compressed file.
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

TEST_F(AudioFilePlayerTest, PositionFollowsWhatTheOutputPlayed)
{
    // The output paces itself in real time; the position must count exactly the file's frames
    // it took, whatever the clock did meanwhile (a starved machine delays both alike).
    // Its stream starts after this moment, and never plays ahead of the clock: what was heard
    // took at least its own length to play (a busy machine makes it only later).
    const auto beforeTheStream = std::chrono::steady_clock::now();
    const auto expectRealTime = [&] {
        const double heard = double(output.heardFrames()) / rate;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - beforeTheStream;
        EXPECT_GE(elapsed.count(), 0.9 * heard) << heard << " s of output played in " << elapsed.count() << " s";
    };
    AudioFilePlayer player(file("long.wav", 2, test::constant(rate * 8, 2, 0.1f)));
    EXPECT_DOUBLE_EQ(player.duration(), 8.0);
    ASSERT_TRUE(player.prepareToPlay());
    ASSERT_TRUE(player.play());
    // The position and the frames of the file heard so far, read between two blocks.
    auto reading = [&] {
        for (;;) {
            const auto heardBefore = output.heardFrames();
            const double position = player.currentTime();
            const auto heard = output.heardLeft();
            if (std::int64_t(heard.size()) != heardBefore)
                continue;
            return std::pair(position, std::count(heard.begin(), heard.end(), 0.1f));
        }
    };
    for (const auto seconds : {0.5, 1.5, 3.0}) {
        ASSERT_TRUE(test::pumpUntil([&] { return output.heardFrames() > seconds * rate; }));
        const auto [position, played] = reading();
        // A block the output is rendering may already count in the position, not yet in what
        // was heard.
        EXPECT_NEAR(position * rate, double(played), 512.0) << "after " << seconds << " s";
        expectRealTime();
    }
    EXPECT_TRUE(player.isPlaying());

    player.pause();
    const double paused = player.currentTime();
    EXPECT_FALSE(player.isPlaying());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(player.currentTime(), paused);
}

TEST_F(AudioFilePlayerTest, LoopsPlayTheirCountGaplesslyAndFinishOnce)
{
    // Pulled on demand, so that every heard sample, silence included, is what the player gave.
    const auto pulled = test::PullingOutput::installed();
    const auto expectHeard = [](const std::vector<float> &heard, const std::vector<float> &pass, size_t frames) {
        ASSERT_GE(heard.size(), frames);
        for (size_t i = 0; i < frames; ++i)
            ASSERT_EQ(heard[i], pass[i % pass.size()]) << "at heard frame " << i;
        const auto after = std::find_if(heard.begin() + std::ptrdiff_t(frames), heard.end(), [](float v) { return v != 0; });
        EXPECT_EQ(after, heard.end()) << "sound after the end, at " << (after - heard.begin());
    };

    // Endless: every frame in order across the wraps.
    const auto samples = test::ramp(2000);
    AudioFilePlayer endless(file("ramp.wav", 1, samples));
    endless.setNumberOfLoops(-1);
    ASSERT_TRUE(endless.play());
    expectHeard(pulled->pull(6 * 2000 + 100), samples, 6 * 2000 + 100);
    endless.pause();

    // Counted: exactly that many passes, one report; after the end it plays the count again,
    // whether the caller goes back to 0 or not.
    const int frames = 3000;
    AudioFilePlayer counted(file("dc.wav", 2, test::constant(frames, 2, 0.5f)));
    reports.watch(counted);
    counted.setNumberOfLoops(2);
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        if (round == 2)
            counted.setCurrentTime(0);
        if (round == 3)
            counted.setNumberOfLoops(0);
        const int before = reports.finished;
        ASSERT_TRUE(counted.play());
        const auto heard = pulled->pullUntil([&] { return reports.finished > before; });
        EXPECT_FALSE(counted.isPlaying());
        EXPECT_DOUBLE_EQ(counted.currentTime(), counted.duration());
        expectHeard(heard, {0.5f}, size_t(round == 3 ? 1 : 3) * frames);
    }

    // Changing the count keeps the position; what was already queued for a third pass of a
    // short file under the old count never sounds.
    const int passFrames = rate / 2;
    const auto shortRamp = test::ramp(passFrames);
    AudioFilePlayer changed(file("short.wav", 1, shortRamp));
    others.watch(changed);
    changed.setNumberOfLoops(-1);
    ASSERT_TRUE(changed.play());
    auto heard = pulled->pull(passFrames + passFrames / 10);
    EXPECT_EQ(std::llround(changed.currentTime() * rate), passFrames / 10);
    changed.setNumberOfLoops(0);
    EXPECT_EQ(std::llround(changed.currentTime() * rate), passFrames / 10);
    const auto rest = pulled->pullUntil([&] { return others.finished > 0; });
    heard.insert(heard.end(), rest.begin(), rest.end());
    // Every frame of both passes once, in order, and nothing after.
    expectHeard(heard, shortRamp, 2 * size_t(passFrames));

    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(reports.finished, 3);
    EXPECT_EQ(reports.succeeded, 3);
    EXPECT_EQ(reports.decodeErrors, 0);
    EXPECT_EQ(others.succeeded, 1);
}

TEST_F(AudioFilePlayerTest, SeekingIsFrameAccurate)
{
    // Long enough to be read from the file on every seek rather than kept in memory.
    const auto samples = test::ramp(7 * rate);
    AudioFilePlayer player(file("ramp.wav", 1, samples));
    for (const auto &[seconds, expected] : {std::pair{0.25, 0.25}, {-3.0, 0.0}, {std::nan(""), 0.0}, {99.0, 7.0}}) {
        player.setCurrentTime(seconds);
        EXPECT_DOUBLE_EQ(player.currentTime(), expected) << seconds;
    }

    // While playing, the first sound after a seek is the target frame.
    player.setCurrentTime(0);
    listen(player, 2000);
    player.setCurrentTime(212345.0 / rate);
    EXPECT_DOUBLE_EQ(player.currentTime(), 212345.0 / rate);
    const auto heard = listen(player, 2000);
    player.stop();
    const auto start = firstSound(heard);
    ASSERT_LT(start + 100, heard.size());
    EXPECT_EQ(heard[start], samples[212345]);
    EXPECT_EQ(heard[start + 99], samples[212345 + 99]);

    // stop() keeps the position; play() resumes there.
    const double stoppedAt = player.currentTime();
    EXPECT_GT(stoppedAt, 212345.0 / rate);
    EXPECT_FALSE(player.isPlaying());
    const auto resumed = listen(player, 100);
    EXPECT_EQ(resumed[firstSound(resumed)], samples[size_t(std::lround(stoppedAt * rate))]);
}

TEST_F(AudioFilePlayerTest, DecodeErrorsReachTheHandlersInOrder)
{
    // A file cut off in the middle once it was opened: its header promised two seconds. (A file
    // cut short before it is opened ends where its audio ends, and plays without an error.)
    const auto path = file("cut.wav", 2, test::sine(2 * rate, 2, rate, 441, 0.5));
    AudioFilePlayer cut(path);
    EXPECT_DOUBLE_EQ(cut.duration(), 2.0);
    ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() * 2 / 5));
    reports.watch(cut);
    playToTheEnd(cut, reports);
    EXPECT_EQ(reports.decodeErrors, 1);
    EXPECT_TRUE(reports.errorBeforeFinish);
    EXPECT_EQ(reports.succeeded, 0);
    EXPECT_FALSE(cut.isPlaying());
    EXPECT_GT(cut.currentTime(), 0.5);
    EXPECT_LT(cut.currentTime(), 1.0);

    // The source's own error arrives; everything decoded before it was heard.
    output.clear();
    AudioFilePlayer failing(std::make_unique<FailingSource>(20000));
    std::exception_ptr seen;
    others.watch(failing);
    failing.setDecodeErrorHandler([&](std::exception_ptr error) { seen = error; });
    playToTheEnd(failing, others);
    EXPECT_TRUE(errorIs<MalformedData>(seen));
    EXPECT_EQ(others.succeeded, 0);
    const auto heard = output.heardLeft();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), 0.25f), 20000);

    // A source that fails at once cannot be prepared, and nothing is reported for it.
    Reports none;
    AudioFilePlayer broken(std::make_unique<FailingSource>(0));
    none.watch(broken);
    EXPECT_FALSE(broken.prepareToPlay());
    EXPECT_FALSE(broken.play());

    // A failure stopped before it was heard does not make the next playback a failure. The
    // output plays only what the test pulls, so the failure is decoded and not yet heard
    // however slowly the machine runs.
    const auto pulled = test::PullingOutput::installed();
    Reports flakyReports;
    AudioFilePlayer flaky(std::make_unique<FailingSource>(rate / 2, true));
    flakyReports.watch(flaky);
    ASSERT_TRUE(flaky.play());
    ASSERT_TRUE(test::pumpUntil([&] { return flakyReports.decodeErrors > 0; }));
    flaky.stop();
    EXPECT_EQ(flaky.currentTime(), 0.0);
    ASSERT_TRUE(flaky.play());
    const auto replayed = pulled->pullUntil([&] { return flakyReports.finished > 0; });
    EXPECT_EQ(flakyReports.succeeded, 1);
    EXPECT_EQ(std::count(replayed.begin(), replayed.end(), 0.25f), rate);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(reports.finished, 1);
    EXPECT_EQ(none.finished + none.decodeErrors, 0);
}

// A FLAC file with a frame repeated is refused where playback reaches the repeat; played again
// from past it, or from its start, it plays as a player that never met the refusal plays it.
TEST_F(AudioFilePlayerTest, AFlacRefusedWhereAFrameRepeatsPlaysOnAsAFreshPlayerDoes)
{
    const auto pulled = test::PullingOutput::installed();
    const QString source = dir.file("source.flac"), path = dir.file("repeated.flac");
    test::makeTone(source, 3 * rate, {"-c:a", "flac"}); // frames of 4,608
    const QByteArray whole = test::readAll(source);
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    ASSERT_GT(starts.size(), 20u);
    test::writeFile(path, whole.left(starts[11]) + whole.mid(starts[10], starts[11] - starts[10]) + whole.mid(starts[11]));
    const auto heardFrom = [&](AudioFilePlayer &player, Reports &seen, double seconds) {
        const int before = seen.finished;
        player.setCurrentTime(seconds);
        EXPECT_TRUE(player.play());
        return pulled->pullUntil([&] { return seen.finished > before; });
    };

    AudioFilePlayer player(path);
    reports.watch(player);
    heardFrom(player, reports, 0);
    EXPECT_EQ(reports.decodeErrors, 1);
    EXPECT_EQ(reports.succeeded, 0);
    for (const double seconds : {2.0, 0.0}) {
        SCOPED_TRACE(seconds);
        const int succeeded = reports.succeeded, failed = reports.decodeErrors;
        std::vector<float> heard = heardFrom(player, reports, seconds);
        Reports fresh;
        AudioFilePlayer other(path);
        fresh.watch(other);
        std::vector<float> expected = heardFrom(other, fresh, seconds);
        EXPECT_EQ(reports.succeeded - succeeded, fresh.succeeded);
        EXPECT_EQ(reports.decodeErrors - failed, fresh.decodeErrors);
        EXPECT_EQ(fresh.decodeErrors, seconds == 0 ? 1 : 0);
        const size_t frames = size_t(seconds == 0 ? 4608 * 10 : rate * 0.9);
        ASSERT_GE(heard.size(), frames);
        ASSERT_GE(expected.size(), frames);
        heard.resize(frames);
        expected.resize(frames);
        EXPECT_EQ(heard, expected);
    }
    EXPECT_EQ(reports.succeeded, 1);
    EXPECT_EQ(reports.decodeErrors, 2);
}

// An MP3 file cut short, then padded, whose Info header still counts the whole stream: the
// player states and plays what its frames decode to, and finishes without an error.
TEST_F(AudioFilePlayerTest, ACutMp3PlaysWhatDecodesAndFinishes)
{
    const auto pulled = test::PullingOutput::installed();
    const QString path = dir.file("cut.mp3");
    test::makeTone(path, 2 * rate, {"-c:a", "libmp3lame", "-q:a", "2"});
    const QByteArray cut = test::readAll(path).chopped(2500);
    test::writeFile(path, cut);
    const qint64 frames = test::ffmpegDecode(path).size() / qsizetype(2 * sizeof(float));
    test::writeFile(path, cut + QByteArray(3000, '\0'));
    AudioFilePlayer player(path);
    EXPECT_DOUBLE_EQ(player.duration(), double(frames) / rate);
    reports.watch(player);
    ASSERT_TRUE(player.play());
    const auto heard = pulled->pullUntil([&] { return reports.finished > 0; });
    EXPECT_EQ(reports.succeeded, 1);
    EXPECT_EQ(reports.decodeErrors, 0);
    EXPECT_GE(qint64(heard.size()), frames);
}

// An M4A file cut short, its sample index whole: the player states and plays the samples still
// there, as the command line decodes them, and finishes without an error.
TEST_F(AudioFilePlayerTest, ACutM4aPlaysWhatDecodesAndFinishes)
{
    const auto pulled = test::PullingOutput::installed();
    for (const char *codec : {"aac", "alac"}) {
        const QString path = dir.file(QStringLiteral("cut-%1.m4a").arg(codec));
        test::makeTone(path, 2 * rate, {"-c:a", codec, "-movflags", "+faststart"});
        const QByteArray whole = test::readAll(path);
        test::writeFile(path, whole.left(whole.size() * 2 / 3));
        const qint64 frames = test::ffmpegDecode(path).size() / qsizetype(2 * sizeof(float));
        AudioFilePlayer player(path);
        EXPECT_DOUBLE_EQ(player.duration(), double(frames) / rate) << codec;
        Reports seen;
        seen.watch(player);
        ASSERT_TRUE(player.play());
        const auto heard = pulled->pullUntil([&] { return seen.finished > 0; });
        EXPECT_EQ(seen.succeeded, 1) << codec;
        EXPECT_EQ(seen.decodeErrors, 0) << codec;
        EXPECT_GE(qint64(heard.size()), frames) << codec;
    }
}

// A read the system fails in the middle of a source (an unreadable sector, a share that drops)
// fails it in every format: a whole read throws an input error instead of ending early, and
// playback stops with a decode error instead of finishing.
TEST_F(AudioFilePlayerTest, AReadTheSystemFailsIsAnErrorNeverTheEnd)
{
    const auto pulled = test::PullingOutput::installed();
    for (const QString &path : test::makeNoiseSources(dir.path(), 12)) {
        const std::string name = QFileInfo(path).fileName().toStdString();
        const qint64 middle = QFileInfo(path).size() / 2;
        AudioFilePlayer player(path); // opened before the stretch goes bad, as a file a user plays
        test::BadStretch bad(path, middle - 2048, middle + 2048);

        // Opened afresh, as an export opens it: where the open reads the whole file (to check an
        // Ogg file's pages), the open fails.
        const auto wholeRead = test::caught<AudioFileError>(
            [&] {
                AudioFileReader reader(path);
                test::readAllFloat(reader);
            },
            [](const AudioFileError &error) { return std::pair(error.kind(), error.code()); });
        EXPECT_EQ(wholeRead, std::pair(AudioFileError::Kind::io, -EIO)) << name;

        Reports seen;
        std::exception_ptr error;
        seen.watch(player);
        player.setDecodeErrorHandler([&](std::exception_ptr e) { error = e; });
        ASSERT_TRUE(player.play()) << name;
        pulled->pullUntil([&] { return seen.finished > 0; });
        EXPECT_EQ(seen.succeeded, 0) << name;
        EXPECT_TRUE(errorIs<AudioFileError>(error)) << name;
        EXPECT_GT(player.currentTime(), 1.0) << name; // what came before the stretch was heard
    }

    // A long FLAC file read whole is decoded ahead on several threads: a failed read there
    // fails the reader too.
    const QString path = dir.file("long.flac");
    test::runChecked("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "anoisesrc=r=44100:a=0.3:d=60", "-ac", "2", "-c:a",
                                "flac", path});
    const qint64 late = QFileInfo(path).size() * 3 / 4;
    test::BadStretch bad(path, late, late + 4096);
    AudioFileReader reader(path);
    EXPECT_EQ(test::caught<AudioFileError>([&] { test::readAllFloat(reader); },
                                           [](const AudioFileError &error) { return error.code(); }),
              -EIO);
}

TEST_F(AudioFilePlayerTest, MetersVolumeAndChannelsMapToTheOutput)
{
    const double amplitude = std::pow(10.0, -6.0 / 20.0);
    AudioFilePlayer sine(file("sine.wav", 2, test::sine(rate * 2, 2, rate, 441, amplitude)));
    EXPECT_EQ(sine.numberOfChannels(), 2);
    sine.updateMeters();
    EXPECT_EQ(sine.peakPower(0), -INFINITY);
    // The meters read the peak before the volume; what is heard carries the volume.
    sine.setVolume(0.25f);
    const auto heard = listen(sine, rate / 10);
    sine.updateMeters();
    EXPECT_NEAR(sine.peakPower(0), -6.0, 0.5);
    EXPECT_NEAR(sine.peakPower(1), -6.0, 0.5);
    EXPECT_EQ(sine.peakPower(2), -INFINITY);
    EXPECT_EQ(sine.peakPower(-1), -INFINITY);
    sine.updateMeters(); // nothing rendered since the last update
    EXPECT_EQ(sine.peakPower(0), -INFINITY);
    EXPECT_NEAR(*std::max_element(heard.begin(), heard.end()), 0.25 * amplitude, 0.01);

    // Mono on both sides; three channels fold into two without exceeding full scale.
    AudioFilePlayer mono(file("mono.wav", 1, test::constant(rate, 1, 0.5f)));
    std::vector<float> three;
    for (int i = 0; i < rate; ++i)
        three.insert(three.end(), {0.3f, 0.6f, 0.9f});
    AudioFilePlayer surround(file("three.wav", 3, three));
    EXPECT_EQ(surround.numberOfChannels(), 3);
    auto sideBySide = [&](AudioFilePlayer &player) {
        listen(player, 2000);
        const auto both = output.heard();
        const auto at = firstSound(both) + 200;
        return std::pair(both[at], both[at + 1]);
    };
    EXPECT_EQ(sideBySide(mono), std::pair(0.5f, 0.5f));
    const auto [left, right] = sideBySide(surround);
    EXPECT_FLOAT_EQ(left, 0.6f);
    EXPECT_FLOAT_EQ(right, 0.75f);

    // The volume is kept as given and applied within 0...1; NaN is silence.
    for (const auto &[volume, expected] : {std::pair{1.7f, 0.5f}, {0.5f, 0.25f}, {-0.2f, 0.0f}, {NAN, 0.0f}}) {
        mono.setVolume(volume);
        EXPECT_TRUE(std::isnan(volume) ? std::isnan(mono.volume()) : mono.volume() == volume);
        const auto loudest = listen(mono, 2000);
        EXPECT_EQ(*std::max_element(loudest.begin(), loudest.end()), expected) << volume;
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
    playToTheEnd(preview, reports);
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
    // Pulled on demand, so a decoder late on a busy machine delays the mix instead of leaving
    // silence in it: every heard sample is what the players gave.
    const auto pulled = test::PullingOutput::installed();
    // The stream starts at 48 kHz for a silent file; the 44.1 kHz files join it.
    AudioFilePlayer stream(file("silent48.wav", 2, test::constant(48000, 2, 0.0f), 48000));
    stream.setNumberOfLoops(-1);
    AudioFilePlayer tone(file("tone.wav", 1, test::sine(rate / 2, 1, rate, 1000, 0.25)));
    reports.watch(tone);
    ASSERT_TRUE(tone.prepareToPlay()); // decoded ahead at its own rate, before the stream ran
    ASSERT_TRUE(stream.play());
    ASSERT_TRUE(tone.play());
    auto heard = pulled->pullUntil([&] { return reports.finished > 0; });
    EXPECT_DOUBLE_EQ(tone.currentTime(), 0.5);

    // Half a second of 1 kHz, at the stream's rate: same length, same pitch.
    const auto first = firstSound(heard);
    ASSERT_LT(first, heard.size());
    auto last = heard.size() - 1;
    while (last > first && std::fabs(heard[last]) < 1e-4f)
        --last;
    EXPECT_NEAR(double(last - first), 24000.0, 60.0);
    int rising = 0;
    for (size_t i = first + 1; i <= last; ++i)
        rising += heard[i - 1] < 0 && heard[i] >= 0 ? 1 : 0;
    EXPECT_NEAR(rising, 500, 2);

    // A resampled stereo loop runs on without a dip at the wraps, its channels kept apart.
    std::vector<float> dc;
    for (int i = 0; i < rate / 10; ++i)
        dc.insert(dc.end(), {0.25f, -0.125f});
    AudioFilePlayer loop(file("dc.wav", 2, dc));
    loop.setNumberOfLoops(-1);
    ASSERT_TRUE(loop.play());
    const auto both = pulled->pullStereo(48000 / 2 + 1024);
    loop.stop();
    stream.stop();
    std::vector<float> left(both.size() / 2);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = both[2 * i];
    const auto start = firstSound(left) + 200; // past the filter's onset
    ASSERT_LT(start + 20000, left.size());
    for (size_t i = start; i < left.size(); ++i) {
        ASSERT_NEAR(both[2 * i], 0.25f, 0.003f) << "at " << i - start;
        ASSERT_NEAR(both[2 * i + 1], -0.125f, 0.003f) << "at " << i - start;
    }
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
        case 3: player.setNumberOfLoops(int(next() % 3) - 1); break;
        case 4: player.stop(); break;
        case 5: player.updateMeters(); break;
        default: std::this_thread::sleep_for(std::chrono::microseconds(next() % 3000)); break;
        }
        EXPECT_GE(player.currentTime(), 0);
        EXPECT_LE(player.currentTime(), player.duration());
    }
    player.stop();
    ASSERT_TRUE(test::pumpUntil([&] { return !player.isPlaying(); }));
    awaitQueuedReports(); // of the endings above
    const int before = reports.finished;
    player.setNumberOfLoops(0);
    player.setCurrentTime(0);
    output.clear();
    playToTheEnd(player, reports);
    awaitQueuedReports();
    EXPECT_EQ(reports.finished, before + 1);
    EXPECT_EQ(reports.decodeErrors, 0);
    const auto heard = output.heardLeft();
    const auto start = firstSound(heard);
    ASSERT_EQ(std::count_if(heard.begin(), heard.end(), [](float v) { return v != 0; }), frames);
    for (int i = 0; i < frames; ++i)
        ASSERT_EQ(heard[start + i], samples[i]);
}
