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
#include <limits>
#include <mutex>

using namespace tampod;
using namespace std::chrono_literals;

namespace tampod {
// Delivers an end-of-playback report the way the player's handlers do, with any generation.
class AudioPlaybackProbe {
public:
    static QUuid generation(AudioPlayback &engine)
    {
        return engine.executor_.submit([&] { return engine.generation_; }).wait();
    }
    static void report(AudioPlayback &engine, QUuid generation, bool successfully)
    {
        engine.executor_.submit([&] { engine.finished(generation, successfully); }).wait();
    }
};
} // namespace tampod

namespace {

constexpr int rate = 8000;

std::vector<float> constant(double seconds, int channels, float value)
{
    return std::vector<float>(static_cast<size_t>(std::lround(seconds * rate)) * channels, value);
}

// A null output installed for the test, keeping the largest sample it heard since the last look.
class PlaybackTest : public ::testing::Test {
protected:
    PlaybackTest() : output_(std::make_shared<NullAudioOutput>())
    {
        output_->setMonitor([this](const float *samples, int frames, int channels) {
            std::lock_guard lock(mutex_);
            for (int i = 0; i < frames * channels; ++i)
                loudest_ = std::max(loudest_, std::abs(samples[i]));
        });
        AudioOutput::setShared(output_);
        engine = std::make_unique<AudioPlayback>();
    }
    ~PlaybackTest() override
    {
        engine.reset();
        output_->setMonitor({});
        AudioOutput::setShared(nullptr);
    }

    float takeLoudest()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(loudest_, 0.0f);
    }

    AudioTrack record(const QString &name)
    {
        AudioTrack record;
        record.id = QUuid::createUuid();
        record._url = TrackedFileURL(QUrl::fromLocalFile(dir.file(name)));
        return record;
    }

    AudioTrack track(const QString &name, const std::vector<float> &samples, int channels = 1)
    {
        write(dir.file(name), samples, channels);
        return record(name);
    }

    static void write(const QString &path, const std::vector<float> &samples, int channels)
    {
        AudioWriteFormat format;
        format.sampleRate = rate;
        format.channels = channels;
        format.bitsPerChannel = 32;
        format.isFloat = true;
        AudioFileWriter writer(path, format);
        writer.writeInterleaved(samples.data(), static_cast<std::int64_t>(samples.size()) / channels);
        writer.finish();
    }

    PlaybackSnapshot snapshot() { return engine->snapshot().wait(); }

    // Polls snapshots until one satisfies the condition; the last one seen is returned.
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
    std::shared_ptr<NullAudioOutput> output_;
    std::mutex mutex_;
    float loudest_ = 0; // guarded by mutex_
    std::unique_ptr<AudioPlayback> engine;
};

bool isUnloaded(const PlaybackSnapshot &s)
{
    return s == PlaybackSnapshot{};
}

} // namespace

TEST_F(PlaybackTest, NothingLoadedReportsTheEmptySnapshotAndRefusesToPlay)
{
    EXPECT_TRUE(isUnloaded(snapshot()));
    EXPECT_EQ(failureOf<PlaybackFailure>(engine->play()), PlaybackFailure::cannotPrepare());
    engine->seek(5).wait();
    engine->setVolume(0.5).wait();
    engine->setRepeat(true).wait();
    EXPECT_TRUE(isUnloaded(snapshot()));
}

TEST_F(PlaybackTest, SeekIsLimitedToTheFileAndShiftedByTheSection)
{
    const auto whole = track("whole.wav", constant(20, 1, 0.1f));
    engine->load(whole, 1, false).wait();
    const struct {
        double target;
        double expected;
    } wholeCases[] = {{-3, 0}, {std::nan(""), 0}, {7.5, 7.5}, {25, 20}, {std::numeric_limits<double>::infinity(), 20}};
    for (const auto &c : wholeCases) {
        engine->seek(c.target).wait();
        EXPECT_DOUBLE_EQ(snapshot().position, c.expected) << c.target;
    }

    // A section from 10 s to 14 s, rendered to a file of its own that sounds louder.
    QDir(dir.path()).mkdir(QStringLiteral("job"));
    const QString sectionPath = dir.file(QStringLiteral("job/section.wav"));
    write(sectionPath, constant(4, 1, 0.5f), 1);
    auto section = std::make_shared<const PreparedSection>(whole, QUrl::fromLocalFile(sectionPath), 10 * rate,
                                                           14 * rate, 20 * rate, rate,
                                                           QUrl::fromLocalFile(dir.file(QStringLiteral("job"))));
    engine->loadSection(whole, section, 1).wait();
    const struct {
        double target;
        double expected;
    } sectionCases[] = {{12, 12}, {3, 10}};
    for (const auto &c : sectionCases) {
        engine->seek(c.target).wait();
        EXPECT_DOUBLE_EQ(snapshot().position, c.expected) << c.target;
    }
    engine->seek(12).wait();
    takeLoudest();
    engine->play().wait();
    const auto playing = snapshotWhen([](const PlaybackSnapshot &s) { return s.position > 12.1; });
    EXPECT_EQ(playing.id, whole.id);
    EXPECT_LT(playing.position, 13.5);
    EXPECT_FLOAT_EQ(takeLoudest(), 0.5f); // the section file, not the track's
    // Releasing the last holder removes the section's job folder.
    engine->unload().wait();
    section.reset();
    EXPECT_FALSE(QFile::exists(sectionPath));
}

TEST_F(PlaybackTest, LevelsFollowThePeakAndTheVolume)
{
    const struct {
        int channels;
        float sample;
        double volume;
        double expected;
    } cases[] = {
        {1, 0.5f, 1, 0.5},   // mono: both sides
        {2, 0.5f, 0.5, 0.25},
        {1, 1.5f, 1.5, 1},   // a clipped peak at more than full volume stays at 1
        {1, 0.0f, 1, 0},     // silence
        {1, 0.5f, 1e300, 0.5}, // a volume beyond float range
    };
    int index = 0;
    for (const auto &c : cases) {
        const auto level = track(QStringLiteral("level-%1.wav").arg(++index), constant(5, c.channels, c.sample),
                                 c.channels);
        engine->load(level, c.volume, false).wait();
        engine->play().wait();
        const auto s = snapshotWhen([&](const PlaybackSnapshot &s) {
            return s.position > 0.2 && (c.expected == 0 || s.levels[0] > 0);
        });
        EXPECT_NEAR(s.levels[0], c.expected, 1e-6) << c.sample << " at " << c.volume;
        EXPECT_NEAR(s.levels[1], c.expected, 1e-6) << c.sample << " at " << c.volume;
        engine->pause().wait();
        const auto paused = snapshot();
        EXPECT_EQ(paused.levels, (std::array<double, 2>{0, 0}));
        EXPECT_GE(paused.position, s.position);
        EXPECT_FALSE(paused.playing);
    }
}

TEST_F(PlaybackTest, TheEndIsReportedAndPlayStartsAgainFromTheBeginning)
{
    const auto record = track("short.wav", constant(0.25, 1, 0.2f));
    engine->load(record, 1, false).wait();
    engine->play().wait();
    const auto ended = snapshotWhen([](const PlaybackSnapshot &s) { return s.completion.has_value(); });
    EXPECT_EQ(ended.completion, true);
    EXPECT_DOUBLE_EQ(ended.position, 0.25);
    EXPECT_FALSE(ended.playing);

    engine->play().wait();
    const auto again = snapshot();
    EXPECT_FALSE(again.completion.has_value());
    EXPECT_TRUE(again.playing);
    EXPECT_LT(again.position, 0.2);
    // A seek clears the completion too.
    snapshotWhen([](const PlaybackSnapshot &s) { return s.completion.has_value(); });
    engine->seek(0.1).wait();
    EXPECT_FALSE(snapshot().completion.has_value());
}

TEST_F(PlaybackTest, AReportFromAReplacedPlayerIsIgnored)
{
    const auto first = track("first.wav", constant(3, 1, 0.2f));
    const auto second = track("second.wav", constant(3, 1, 0.2f));
    engine->load(first, 1, false).wait();
    const QUuid old = AudioPlaybackProbe::generation(*engine);
    engine->load(second, 1, false).wait();
    AudioPlaybackProbe::report(*engine, old, false);
    EXPECT_FALSE(snapshot().completion.has_value());
    AudioPlaybackProbe::report(*engine, AudioPlaybackProbe::generation(*engine), false);
    EXPECT_EQ(snapshot().completion, false);
}

TEST_F(PlaybackTest, ChangingRepeatKeepsThePosition)
{
    const auto record = track("loop.wav", constant(0.5, 1, 0.2f));
    engine->load(record, 1, false).wait();
    engine->seek(0.3).wait();
    for (const bool repeating : {false, true, true, false, true}) {
        engine->setRepeat(repeating).wait();
        EXPECT_DOUBLE_EQ(snapshot().position, 0.3) << repeating;
    }
    // Now repeating: the file plays past its end without finishing.
    engine->play().wait();
    snapshotWhen([](const PlaybackSnapshot &s) { return s.position < 0.25; });
    const auto looped = snapshot();
    EXPECT_TRUE(looped.playing);
    EXPECT_FALSE(looped.completion.has_value());
}

TEST_F(PlaybackTest, UnloadSilencesThePlayer)
{
    const auto record = track("tone.wav", constant(5, 2, 0.3f), 2);
    engine->load(record, 1, false).wait();
    engine->play().wait();
    ASSERT_TRUE(test::pumpUntil([&] { return takeLoudest() > 0; }));
    engine->unload().wait();
    takeLoudest();
    // Proving silence needs some time to pass.
    test::pumpUntil([] { return false; }, 150ms);
    EXPECT_EQ(takeLoudest(), 0.0f);
    EXPECT_TRUE(isUnloaded(snapshot()));
}

TEST_F(PlaybackTest, SourcesThatCannotBeUsedLeaveTheEngineUnloaded)
{
    // Another file under the same name (made first, so it cannot reuse the inode).
    const auto replaced = track("take.wav", constant(1, 1, 0.2f));
    write(dir.file("take.new"), constant(2, 1, 0.4f), 1);
    ASSERT_TRUE(QFile::remove(dir.file("take.wav")));
    ASSERT_TRUE(QFile::rename(dir.file("take.new"), dir.file("take.wav")));

    auto pending = track("pending.sd2", constant(1, 1, 0.2f));
    pending.recovery = SD2Recovery{};

    test::writeFile(dir.file("damaged.wav"), QByteArray(4096, 'x'));
    const auto damaged = record("damaged.wav");

    auto paired = track("take.L.sd2", constant(1, 1, 0.2f));
    const auto right = track("take.R.sd2", constant(1, 1, 0.2f));
    auto copy = std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(dir.file("gone/pair.wav")), rate, 8000,
                                                         QString(), 2, 2);
    paired.pair = std::make_shared<const SD2PairAudio>(paired, right, copy);

    const auto good = track("good.wav", constant(1, 1, 0.2f));
    const struct {
        const AudioTrack *record;
        QString missingName; // empty: another failure
    } cases[] = {{&replaced, "take.wav"}, {&paired, "take (L/R)"}, {&pending, {}}, {&damaged, {}}};
    for (const auto &c : cases) {
        engine->load(good, 1, false).wait();
        auto load = engine->load(*c.record, 1, false);
        if (!c.missingName.isEmpty())
            EXPECT_EQ(failureOf<MissingAudioSource>(std::move(load)).name(), c.missingName);
        else if (c.record->recovery)
            EXPECT_EQ(failureOf<PlaybackFailure>(std::move(load)), PlaybackFailure::cannotPrepare());
        else
            EXPECT_FALSE(failureOf<Error>(std::move(load)).message().isEmpty());
        EXPECT_TRUE(isUnloaded(snapshot()));
    }
}

TEST_F(PlaybackTest, ASectionOfAnotherRecordOrFileIsRefusedAndKeepsThePlayer)
{
    const auto current = track("current.wav", constant(2, 1, 0.2f));
    const auto other = track("other.wav", constant(2, 1, 0.2f));
    AudioTrack sameIDOtherFile = other;
    sameIDOtherFile.id = current.id;
    engine->load(current, 1, false).wait();
    engine->seek(1).wait();
    for (const auto &source : {other, sameIDOtherFile}) {
        auto section = std::make_shared<const PreparedSection>(source, source.url(), 0, rate, 2 * rate, rate,
                                                               std::nullopt);
        EXPECT_EQ(failureOf<PlaybackFailure>(engine->loadSection(current, section, 1)),
                  PlaybackFailure::cannotPrepare());
        const auto s = snapshot();
        EXPECT_EQ(s.id, current.id);
        EXPECT_DOUBLE_EQ(s.position, 1);
    }
}
