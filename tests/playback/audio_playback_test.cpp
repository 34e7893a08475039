#include "playback/audio_playback.h"
#include "playback/playback_failure.h"

#include "files/access/missing_audio_source.h"
#include "library/sd2_pair_audio.h"
#include "platform/encode/audio_file_writer.h"
#include "platform/output/null_audio_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cmath>
#include <mutex>

using namespace tampod;
using namespace std::chrono_literals;

namespace tampod {
// Hands the engine an end-of-playback report as the player's handlers do, with any generation.
class AudioPlaybackProbe {
public:
    static QUuid generation(AudioPlayback &e) { return e.executor_.submit([&] { return e.generation_; }).wait(); }
    static void report(AudioPlayback &e, QUuid generation, bool ok)
    {
        e.executor_.submit([&] { e.finished(generation, ok); }).wait();
    }
};
} // namespace tampod

namespace {

constexpr int rate = 8000;

std::vector<float> constant(double seconds, int channels, float value)
{
    return std::vector<float>(static_cast<size_t>(std::lround(seconds * rate)) * channels, value);
}

// The engine on a null output that keeps the loudest sample heard since the last look.
class PlaybackTest : public ::testing::Test {
protected:
    PlaybackTest()
    {
        output->setMonitor([this](const float *samples, int frames, int channels) {
            std::lock_guard lock(mutex);
            for (int i = 0; i < frames * channels; ++i)
                loudest = std::max(loudest, std::abs(samples[i]));
        });
        AudioOutput::setShared(output);
        engine = std::make_unique<AudioPlayback>();
    }
    ~PlaybackTest() override
    {
        engine.reset();
        output->setMonitor({});
        AudioOutput::setShared(nullptr);
    }

    float takeLoudest()
    {
        std::lock_guard lock(mutex);
        return std::exchange(loudest, 0.0f);
    }

    AudioTrack record(const QString &name)
    {
        AudioTrack track;
        track.id = QUuid::createUuid();
        track._url = TrackedFileURL(QUrl::fromLocalFile(dir.file(name)));
        return track;
    }
    AudioTrack track(const QString &name, const std::vector<float> &samples, int channels = 1)
    {
        write(dir.file(name), samples, channels);
        return record(name);
    }
    static void write(const QString &path, const std::vector<float> &samples, int channels)
    {
        AudioFileWriter writer(path, {AudioFileType::wav, rate, channels, 32, true, 0});
        writer.writeInterleaved(samples.data(), static_cast<std::int64_t>(samples.size()) / channels);
        writer.finish();
    }

    PlaybackSnapshot snapshot() { return engine->snapshot().wait(); }
    PlaybackSnapshot snapshotWhen(const std::function<bool(const PlaybackSnapshot &)> &condition)
    {
        PlaybackSnapshot last;
        EXPECT_TRUE(test::pumpUntil([&] { return condition(last = snapshot()); }));
        return last;
    }
    template <typename E>
    static E failureOf(Async<void> operation)
    {
        try {
            operation.wait();
        } catch (const E &error) {
            return error;
        }
        throw std::runtime_error("the operation did not fail as expected");
    }

    test::TempDir dir;
    std::shared_ptr<NullAudioOutput> output = std::make_shared<NullAudioOutput>();
    std::mutex mutex;
    float loudest = 0; // guarded by mutex
    std::unique_ptr<AudioPlayback> engine;
};

} // namespace

TEST_F(PlaybackTest, SeekIsLimitedToTheFileAndShiftedByTheSection)
{
    const auto whole = track("whole.wav", constant(20, 1, 0.1f));
    engine->load(whole, 1, false).wait();
    const std::pair<double, double> wholeCases[] = {{-3, 0}, {NAN, 0}, {7.5, 7.5}, {25, 20}, {INFINITY, 20}};
    for (const auto &[target, expected] : wholeCases) {
        engine->seek(target).wait();
        EXPECT_DOUBLE_EQ(snapshot().position, expected) << target;
    }

    // 10 s to 14 s of the track, rendered to a file of its own that sounds louder.
    QDir(dir.path()).mkdir("job");
    const QString sectionPath = dir.file("job/section.wav");
    write(sectionPath, constant(4, 1, 0.5f), 1);
    auto section = std::make_shared<const PreparedSection>(whole, QUrl::fromLocalFile(sectionPath), 10 * rate,
                                                           14 * rate, 20 * rate, rate,
                                                           QUrl::fromLocalFile(dir.file("job")));
    engine->loadSection(whole, section, 1).wait();
    for (const auto &[target, expected] : {std::pair{3.0, 10.0}, {12.0, 12.0}}) {
        engine->seek(target).wait();
        EXPECT_DOUBLE_EQ(snapshot().position, expected) << target;
    }
    takeLoudest();
    engine->play().wait();
    const auto playing = snapshotWhen([](const PlaybackSnapshot &s) { return s.position > 12.1; });
    EXPECT_EQ(playing.id, whole.id);
    EXPECT_LT(playing.position, 13.5);
    EXPECT_FLOAT_EQ(takeLoudest(), 0.5f); // the section's file, not the track's
    engine->unload().wait();
    section.reset();
    EXPECT_FALSE(QFile::exists(sectionPath)); // the last holder removed the job folder
}

TEST_F(PlaybackTest, LevelsFollowThePeakAndTheVolume)
{
    const struct {
        int channels;
        float sample;
        double volume, expected;
    } cases[] = {{1, 0.5f, 1, 0.5}, {2, 0.5f, 0.5, 0.25}, {1, 1.5f, 1.5, 1}, {1, 0.0f, 1, 0}, {1, 0.5f, 1e300, 0.5}};
    int index = 0;
    for (const auto &c : cases) {
        const auto level = track(QString("level-%1.wav").arg(++index), constant(5, c.channels, c.sample), c.channels);
        engine->load(level, c.volume, false).wait();
        engine->play().wait();
        const auto s = snapshotWhen([&](auto &x) { return x.position > 0.2 && (c.expected == 0 || x.levels[0] > 0); });
        EXPECT_NEAR(s.levels[0], c.expected, 1e-6) << index;
        EXPECT_NEAR(s.levels[1], c.expected, 1e-6) << index; // a mono file shows on both sides
        engine->pause().wait();
        const auto paused = snapshot();
        EXPECT_EQ(paused.levels, (std::array<double, 2>{0, 0}));
        EXPECT_GE(paused.position, s.position);
        EXPECT_FALSE(paused.playing);
    }
}

TEST_F(PlaybackTest, TheEndIsReportedOnlyForTheCurrentPlayer)
{
    const auto record = track("short.wav", constant(0.25, 1, 0.2f));
    engine->load(record, 1, false).wait();
    engine->play().wait();
    const auto ended = snapshotWhen([](auto &s) { return s.completion.has_value(); });
    EXPECT_EQ(ended.completion, true);
    EXPECT_DOUBLE_EQ(ended.position, 0.25);
    EXPECT_FALSE(ended.playing);
    engine->play().wait(); // from the beginning again
    const auto again = snapshot();
    EXPECT_FALSE(again.completion.has_value());
    EXPECT_TRUE(again.playing);
    EXPECT_LT(again.position, 0.2);

    const QUuid old = AudioPlaybackProbe::generation(*engine);
    engine->load(track("next.wav", constant(3, 1, 0.2f)), 1, false).wait();
    AudioPlaybackProbe::report(*engine, old, false);
    EXPECT_FALSE(snapshot().completion.has_value());
    AudioPlaybackProbe::report(*engine, AudioPlaybackProbe::generation(*engine), false);
    EXPECT_EQ(snapshot().completion, false);
    engine->seek(1).wait();
    EXPECT_FALSE(snapshot().completion.has_value());
}

TEST_F(PlaybackTest, RepeatKeepsThePositionAndUnloadSilences)
{
    engine->load(track("loop.wav", constant(0.5, 2, 0.2f), 2), 1, false).wait();
    engine->seek(0.3).wait();
    for (const bool repeating : {false, true, true, false, true}) {
        engine->setRepeat(repeating).wait();
        EXPECT_DOUBLE_EQ(snapshot().position, 0.3) << repeating;
    }
    engine->play().wait();
    const auto looped = snapshotWhen([](auto &s) { return s.position < 0.25; }); // past the end, from 0
    EXPECT_TRUE(looped.playing);
    EXPECT_FALSE(looped.completion.has_value());
    EXPECT_GT(takeLoudest(), 0);

    engine->unload().wait();
    takeLoudest();
    test::pumpUntil([] { return false; }, 150ms); // silence needs some time to show
    EXPECT_EQ(takeLoudest(), 0.0f);
    EXPECT_EQ(snapshot(), PlaybackSnapshot{});
}

TEST_F(PlaybackTest, SourcesThatCannotBeUsedLeaveTheEngineUnloaded)
{
    EXPECT_EQ(snapshot(), PlaybackSnapshot{});
    EXPECT_EQ(failureOf<PlaybackFailure>(engine->play()), PlaybackFailure::cannotPrepare());

    // Another file under the same name (made first, so it cannot take over the inode).
    const auto replaced = track("take.wav", constant(1, 1, 0.2f));
    write(dir.file("take.new"), constant(2, 1, 0.4f), 1);
    ASSERT_TRUE(QFile::remove(dir.file("take.wav")) && QFile::rename(dir.file("take.new"), dir.file("take.wav")));
    auto pending = track("pending.sd2", constant(1, 1, 0.2f));
    pending.recovery = SD2Recovery{};
    test::writeFile(dir.file("damaged.wav"), QByteArray(4096, 'x'));
    auto pair = track("take.L.sd2", constant(1, 1, 0.2f));
    pair.pair = std::make_shared<const SD2PairAudio>(
        pair, track("take.R.sd2", constant(1, 1, 0.2f)),
        std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(dir.file("gone/pair.wav")), rate, 8, "", 2, 2));

    const auto good = track("good.wav", constant(1, 1, 0.2f));
    const std::pair<AudioTrack, QString> cases[] = {
        {replaced, "take.wav"}, {pair, "take (L/R)"}, {pending, "cannotPrepare"}, {record("damaged.wav"), ""}};
    for (const auto &[failing, expected] : cases) {
        engine->load(good, 1, false).wait();
        auto load = engine->load(failing, 1, false);
        if (expected == "cannotPrepare")
            EXPECT_EQ(failureOf<PlaybackFailure>(std::move(load)), PlaybackFailure::cannotPrepare());
        else if (!expected.isEmpty())
            EXPECT_EQ(failureOf<MissingAudioSource>(std::move(load)).name(), expected);
        else
            EXPECT_FALSE(failureOf<Error>(std::move(load)).message().isEmpty()); // the decoder's own error
        EXPECT_EQ(snapshot(), PlaybackSnapshot{}) << expected.toStdString();
    }

    // A section of another record, or of another file, is refused and keeps the player.
    engine->load(good, 1, false).wait();
    engine->seek(0.5).wait();
    AudioTrack sameIDOtherFile = replaced;
    sameIDOtherFile.id = good.id;
    for (const auto &source : {pending, sameIDOtherFile}) {
        auto section = std::make_shared<const PreparedSection>(source, good.url(), 0, rate, rate, rate, std::nullopt);
        EXPECT_EQ(failureOf<PlaybackFailure>(engine->loadSection(good, section, 1)), PlaybackFailure::cannotPrepare());
        EXPECT_EQ(snapshot().id, good.id);
        EXPECT_DOUBLE_EQ(snapshot().position, 0.5);
    }
}
