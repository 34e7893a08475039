#include "player/section_loop_coordinator.h"

#include "playback/section_audio_preparer.h"
#include "playback/section_preparation_error.h"
#include "playback/waveform_fixtures.h"

#include "files/access/missing_audio_source.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tampod;

namespace {

using Result = std::shared_ptr<const PreparedSection>;

// A preparer whose calls wait until the test ends them; a section spans its range of 1,000 frames.
struct FakePreparer final : SectionPreparing {
    struct Call {
        AudioTrack track;
        SectionRange range;
        Progress progress;
        CancellationToken token;
        std::shared_ptr<detail::AsyncState<Result>> state;
    };
    Async<Result> prepare(AudioTrack track, SectionRange range, Progress progress, CancellationToken token) override
    {
        calls.push_back({std::move(track), range, std::move(progress), std::move(token),
                         std::make_shared<detail::AsyncState<Result>>()});
        if (failAtOnce)
            end(calls.size() - 1, [] { return Result(); });
        return Async<Result>(calls.back().state);
    }
    template <typename Fn>
    void end(std::size_t i, Fn fn)
    {
        calls.at(i).state->run(fn);
    }
    void succeed(std::size_t i)
    {
        const Call &c = calls.at(i);
        end(i, [&] { return std::make_shared<const PreparedSection>(c.track, QUrl(), std::int64_t(c.range.start * 1000),
                                                                     std::int64_t(c.range.end * 1000), 1000, 44100,
                                                                     std::nullopt); });
    }
    std::vector<Call> calls;
    bool failAtOnce = false;
};

class SectionLoopTest : public ::testing::Test {
protected:
    SectionLoopTest()
    {
        loop->completed = [this](Result s) { completions.push_back(s); };
        loop->failed = [this](const QString &message) { failures.push_back(message); };
    }
    ~SectionLoopTest() override
    {
        // Every preparation still waiting ends, so that no task is left suspended.
        loop.reset();
        for (std::size_t i = 0; i < preparer->calls.size(); ++i)
            if (!preparer->calls[i].state->done)
                preparer->end(i, []() -> Result { throw Cancelled(); });
        EXPECT_TRUE(test::pumpUntil([&] { return preparer.use_count() == 1; }));
    }
    // Ends the newest preparation well and waits for its completion.
    void settle()
    {
        const std::size_t before = completions.size();
        preparer->succeed(preparer->calls.size() - 1);
        ASSERT_TRUE(test::pumpUntil([&] { return completions.size() > before; }));
    }
    void change(SectionRange range, bool recording = true) { loop->prepare(take, range, recording), settle(); }
    std::pair<bool, bool> flags() const { return {loop->canUndo(), loop->canRedo()}; }
    QVariant history(const char *property) const // the undo stack, through its properties
    {
        return loop->findChild<QObject *>()->property(property);
    }

    std::shared_ptr<FakePreparer> preparer = std::make_shared<FakePreparer>();
    std::unique_ptr<SectionLoopCoordinator> loop = std::make_unique<SectionLoopCoordinator>(preparer);
    AudioTrack take = test::trackOf("/absent/take.wav");
    std::vector<Result> completions;
    QStringList failures;
};

} // namespace

TEST_F(SectionLoopTest, UndoAndRedoStepThroughBoundaryChanges)
{
    change({0.25, 0.5}); // switching the loop on records nothing
    EXPECT_EQ(flags(), std::pair(false, false));
    change({0.1234, 0.5});
    EXPECT_EQ(std::tuple(loop->range(), flags(), loop->prepared()),
              std::tuple(SectionRange{0.123, 0.5}, std::pair(true, false), completions.back()));
    EXPECT_EQ(history("undoText").toString(), "Loop Boundary Change");
    EXPECT_EQ(history("undoLimit").toInt(), 100);

    loop->undo();
    EXPECT_EQ(std::tuple(preparer->calls.back().range, loop->isPreparing(), loop->prepared(), flags()),
              std::tuple(SectionRange{0.25, 0.5}, true, nullptr, std::pair(false, true)));
    settle();
    loop->redo();
    EXPECT_EQ(std::pair(preparer->calls.back().range, flags()), std::pair(SectionRange{0.123, 0.5}, std::pair(true, false)));
    settle();
    const std::size_t calls = preparer->calls.size();
    change(*loop->range()); // the same range restarts the preparation, records nothing
    EXPECT_EQ(std::pair(preparer->calls.size(), history("undoText").toString()), std::pair(calls + 1, QString("Loop Boundary Change")));
    loop->undo();
    change({0.5, 0.75});
    EXPECT_EQ(flags(), std::pair(true, false)) << "a new change drops the redo";
    loop->reset();
    EXPECT_EQ(std::pair(loop->range(), flags()), std::pair(std::optional<SectionRange>(), std::pair(false, false)));

    // 101 quick changes: each cancels the one before, 100 can be undone.
    change({0, 0.001});
    for (int i = 2; i <= 102; ++i)
        loop->prepare(take, {0, 0.001 * i}, true);
    for (std::size_t i = preparer->calls.size() - 101; i + 1 < preparer->calls.size(); ++i)
        EXPECT_TRUE(preparer->calls[i].token.isCancelled()) << i;
    int undone = 0;
    for (; loop->canUndo() && undone < 200; ++undone)
        loop->undo();
    EXPECT_EQ(undone, 100);
}

TEST_F(SectionLoopTest, SupersededPreparationReportsNothing)
{
    change({0.2, 0.4}, false);
    loop->prepare(take, {0.3, 0.4}, true);
    loop->prepare(take, {0.5, 0.6}, true);
    std::thread([&] { preparer->calls[1].progress(0.9), preparer->calls[2].progress(0.3); }).join();
    EXPECT_TRUE(test::pumpUntil([&] { return loop->progress() == 0.3; }));
    preparer->succeed(1);
    settle();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::tuple(completions.size(), loop->range(), loop->progress()), std::tuple(std::size_t(2), SectionRange{0.5, 0.6}, 0.3));
    loop->undo();
    loop->undo();
    EXPECT_FALSE(loop->canUndo()) << "two levels";

    // Released while preparing: neither callback runs.
    const CancellationToken token = preparer->calls.back().token;
    loop.reset();
    EXPECT_TRUE(token.isCancelled());
    preparer->succeed(preparer->calls.size() - 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(completions.size(), failures.size()), std::pair(std::size_t(2), qsizetype(0)));
}

TEST_F(SectionLoopTest, FailureTurnsTheLoopOffWithOneText)
{
    const QString fallback = "The section could not be prepared. Check available disk space and source access, then try again.";
    const std::pair<std::function<Result()>, QString> errors[] = {
        {[]() -> Result { throw MissingAudioSource("take.wav"); }, MissingAudioSource("take.wav").message()},
        {[]() -> Result { throw SectionPreparationError(SectionPreparationError::Case::incomplete); },
         "The section could not be read or verified completely. Reopen the source and try again."},
        {[]() -> Result { throw SystemError(ENOSPC, "write"); }, fallback},
    };
    for (const auto &[error, text] : errors) {
        change({0.2, 0.4}, false);
        loop->prepare(take, {0.3, 0.4}, true);
        preparer->end(preparer->calls.size() - 1, error);
        ASSERT_TRUE(test::pumpUntil([&] { return !failures.empty(); }));
        EXPECT_EQ(failures, QStringList{text});
        EXPECT_EQ(std::tuple(loop->range(), loop->prepared(), loop->isPreparing(), flags()),
                  std::tuple(std::nullopt, nullptr, false, std::pair(false, false)));
        failures.clear();
    }
    // A preparation that fails at once inside an undo empties the history after that step.
    change({0.2, 0.4}, false);
    change({0.3, 0.4});
    preparer->failAtOnce = true;
    loop->undo();
    EXPECT_EQ(std::pair(failures, flags()), std::pair(QStringList{fallback}, std::pair(false, false)));
}

// The real preparer: a two-minute WAV with the loop switched on, and compressed sources near
// their ends; each "section.caf" holds exactly the source's frames.
TEST(SectionLoopRendering, SectionsHoldExactlyTheSourceFrames)
{
    test::jobFolders();
    test::TempDir dir;
    test::writeWav(dir.file("two-minutes.wav"), 2, test::signal(44100 * 120, 2), 16);
    test::makeTone(dir.file("tone.flac"), 6.3, {"-c:a", "flac"});
    test::makeTone(dir.file("tone.mp3"), 6.3, {"-c:a", "libmp3lame"});
    // Without noise substitution, whose noise depends on where decoding started.
    test::makeTone(dir.file("tone.m4a"), 6.3, {"-c:a", "aac", "-aac_pns", "0"});
    ASSERT_TRUE(test::readAll(dir.file("tone.mp3")).contains("LAME"));
    const std::tuple<const char *, std::optional<SectionRange>, std::int64_t, std::int64_t> cases[] = {
        {"two-minutes.wav", {}, 1984500, 3307500}, {"tone.flac", SectionRange{0.9, 1}, 250047, 277830},
        {"tone.mp3", SectionRange{0.9, 1}, 250047, 277830}, {"tone.mp3", SectionRange{0.99999, 1}, 277827, 277830},
        {"tone.m4a", SectionRange{0.9, 1}, 250047, 277830}, {"tone.m4a", SectionRange{0.99999, 1}, 277827, 277830},
    };
    for (const auto &[name, range, start, end] : cases) {
        const AudioTrack track = test::trackOf(dir.file(name), 120);
        SectionLoopCoordinator loop(std::make_shared<SectionAudioPreparer>());
        Result section;
        loop.completed = [&](Result s) { section = std::move(s); };
        loop.prepare(track, range.value_or(SectionRange::initial(track.duration)), false);
        ASSERT_TRUE(test::pumpUntil([&] { return section != nullptr; })) << name;
        EXPECT_EQ(std::tuple(section->startFrame(), section->endFrame(), section->totalFrames(), loop.progress()),
                  std::tuple(start, end, AudioFileReader(dir.file(name)).length(), 1.0)) << name;
        EXPECT_EQ(section->url().fileName(), "section.caf");
        EXPECT_TRUE(test::readFrames(section->url().toLocalFile(), 0, end - start + 1)
                    == test::readFrames(dir.file(name), start, end - start)) << name << " sample by sample";
    }
    EXPECT_EQ(test::jobFolders(), QStringList());
}
