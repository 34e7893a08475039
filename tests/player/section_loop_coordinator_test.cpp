#include "player/section_loop_coordinator.h"

#include "playback/section_preparation_error.h"

#include "core/error.h"
#include "files/access/missing_audio_source.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace tampod;

namespace {

// A preparer whose calls wait until the test finishes them.
class FakePreparer final : public SectionPreparing {
public:
    struct Call {
        SectionRange range;
        Progress progress;
        CancellationToken token;
        std::shared_ptr<detail::AsyncState<std::shared_ptr<const PreparedSection>>> state;
    };

    Async<std::shared_ptr<const PreparedSection>> prepare(AudioTrack track, SectionRange range, Progress progress,
                                                          CancellationToken token) override
    {
        auto state = std::make_shared<detail::AsyncState<std::shared_ptr<const PreparedSection>>>();
        calls.push_back({range, std::move(progress), std::move(token), state});
        tracks.push_back(std::move(track));
        if (failAtOnce) {
            auto fail = [] () -> std::shared_ptr<const PreparedSection> { throw SectionPreparationError(SectionPreparationError::Case::tooLarge); };
            state->run(fail);
        }
        return Async<std::shared_ptr<const PreparedSection>>(state);
    }

    // Finishes call i with the frames of range on a 1,000-frame source.
    void succeed(std::size_t i)
    {
        const SectionRange r = calls.at(i).range;
        auto section = std::make_shared<const PreparedSection>(tracks.at(i), QUrl(), std::int64_t(r.start * 1000),
                                                               std::int64_t(r.end * 1000), 1000, 44100, std::nullopt);
        auto make = [section] { return std::shared_ptr<const PreparedSection>(section); };
        calls.at(i).state->run(make);
    }
    template <typename E>
    void fail(std::size_t i, E error)
    {
        auto fn = [error]() -> std::shared_ptr<const PreparedSection> { throw error; };
        calls.at(i).state->run(fn);
    }

    std::vector<Call> calls;
    std::vector<AudioTrack> tracks;
    bool failAtOnce = false;
};

class SectionLoopTest : public ::testing::Test {
protected:
    SectionLoopTest()
    {
        loop->completed = [this](std::shared_ptr<const PreparedSection> s) { completions.push_back(s); };
        loop->failed = [this](const QString &message) { failures.push_back(message); };
        take.id = QUuid::createUuid();
        take._url = TrackedFileURL(QUrl::fromLocalFile(QStringLiteral("/absent/take.wav")));
    }

    // Starts a preparation and finishes it.
    void settle(SectionRange range, bool recording)
    {
        const TaskHandle task = loop->prepare(take, range, recording);
        preparer->succeed(preparer->calls.size() - 1);
        ASSERT_TRUE(test::pumpUntil([&] { return task.isFinished(); }));
    }
    // Lets the last preparation (started by undo or redo) finish.
    void settleLast()
    {
        const std::size_t before = completions.size();
        preparer->succeed(preparer->calls.size() - 1);
        ASSERT_TRUE(test::pumpUntil([&] { return completions.size() > before; }));
    }
    std::pair<bool, bool> flags() const { return {loop->canUndo(), loop->canRedo()}; }
    // The undo stack, read through its properties.
    QVariant history(const char *property) const
    {
        for (QObject *child : loop->children())
            if (child->inherits("QUndoStack"))
                return child->property(property);
        return {};
    }

    std::shared_ptr<FakePreparer> preparer = std::make_shared<FakePreparer>();
    std::unique_ptr<SectionLoopCoordinator> loop = std::make_unique<SectionLoopCoordinator>(preparer);
    AudioTrack take;
    std::vector<std::shared_ptr<const PreparedSection>> completions;
    std::vector<QString> failures;
};

} // namespace

TEST_F(SectionLoopTest, UndoAndRedoStepThroughBoundaryChanges)
{
    settle({0.25, 0.5}, true); // switching the loop on records nothing
    EXPECT_EQ(flags(), std::pair(false, false));
    settle({0.1234, 0.5}, true);
    EXPECT_EQ(loop->range(), (SectionRange{0.123, 0.5})) << "frame-exact after preparing";
    EXPECT_EQ(flags(), std::pair(true, false));
    EXPECT_EQ(completions.size(), 2u);
    EXPECT_EQ(loop->prepared(), completions.back());

    loop->undo();
    EXPECT_EQ(preparer->calls.back().range, (SectionRange{0.25, 0.5}));
    EXPECT_TRUE(loop->isPreparing());
    EXPECT_FALSE(loop->prepared());
    EXPECT_EQ(flags(), std::pair(false, true));
    settleLast();
    loop->redo();
    EXPECT_EQ(preparer->calls.back().range, (SectionRange{0.123, 0.5})) << "back to the range that was undone";
    EXPECT_EQ(flags(), std::pair(true, false));
    settleLast();

    // The same range restarts the preparation but records nothing.
    const std::size_t calls = preparer->calls.size();
    settle(*loop->range(), true);
    EXPECT_EQ(preparer->calls.size(), calls + 1);
    loop->undo();
    settleLast();
    EXPECT_EQ(flags(), std::pair(false, true));

    // A new change drops what could be redone; a reset (another track) forgets everything.
    settle({0.5, 0.75}, true);
    EXPECT_EQ(flags(), std::pair(true, false));
    loop->reset();
    EXPECT_EQ(flags(), std::pair(false, false));
    EXPECT_FALSE(loop->range());
    settle({0.1, 0.2}, true);
    EXPECT_EQ(flags(), std::pair(false, false)) << "no range before: nothing to record";
    EXPECT_EQ(history("undoText").toString(), QString());
}

TEST_F(SectionLoopTest, HistoryKeepsTheLastHundredChanges)
{
    settle({0, 0.001}, false);
    for (int i = 1; i <= 101; ++i)
        loop->prepare(take, {0, 0.001 * (i + 1)}, true);
    EXPECT_EQ(preparer->calls.size(), 102u);
    for (std::size_t i = 1; i + 1 < preparer->calls.size(); ++i)
        EXPECT_TRUE(preparer->calls[i].token.isCancelled()) << i;
    EXPECT_EQ(history("undoText").toString(), "Loop Boundary Change");
    EXPECT_EQ(history("undoLimit").toInt(), 100);
    int undone = 0;
    while (loop->canUndo() && undone < 200) {
        loop->undo();
        ++undone;
    }
    EXPECT_EQ(undone, 100);
}

TEST_F(SectionLoopTest, SupersededPreparationsReportNothing)
{
    settle({0.2, 0.4}, false);
    loop->prepare(take, {0.3, 0.4}, true);
    loop->prepare(take, {0.5, 0.6}, true);
    ASSERT_EQ(preparer->calls.size(), 3u);
    EXPECT_TRUE(preparer->calls[1].token.isCancelled());
    // Progress of the superseded call is ignored; the current one's is applied.
    std::thread([&] {
        preparer->calls[1].progress(0.9);
        preparer->calls[2].progress(0.3);
    }).join();
    EXPECT_TRUE(test::pumpUntil([&] { return loop->progress() == 0.3; }));
    preparer->succeed(2);
    preparer->succeed(1);
    ASSERT_TRUE(test::pumpUntil([&] { return completions.size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(completions.size(), 2u) << "one completion for the two quick changes";
    EXPECT_EQ(loop->range(), (SectionRange{0.5, 0.6}));
    EXPECT_EQ(loop->progress(), 0.3);
    int levels = 0;
    for (; loop->canUndo(); ++levels)
        loop->undo();
    EXPECT_EQ(levels, 2);
}

TEST_F(SectionLoopTest, FailuresTurnTheLoopOffWithOneText)
{
    const QString fallback =
        "The section could not be prepared. Check available disk space and source access, then try again.";
    const std::function<void(FakePreparer &, std::size_t)> errors[] = {
        [](FakePreparer &p, std::size_t i) { p.fail(i, MissingAudioSource("take.wav")); },
        [](FakePreparer &p, std::size_t i) { p.fail(i, SectionPreparationError(SectionPreparationError::Case::incomplete)); },
        [](FakePreparer &p, std::size_t i) { p.fail(i, SystemError(ENOSPC, "write")); },
    };
    const QString texts[] = {MissingAudioSource("take.wav").message(),
                             "The section could not be read or verified completely. Reopen the source and try again.",
                             fallback};
    for (int i = 0; i < 3; ++i) {
        settle({0.2, 0.4}, false);
        loop->prepare(take, {0.3, 0.4}, true);
        errors[i](*preparer, preparer->calls.size() - 1);
        ASSERT_TRUE(test::pumpUntil([&] { return failures.size() == std::size_t(i + 1); }));
        EXPECT_EQ(failures.back(), texts[i]);
        EXPECT_FALSE(loop->range());
        EXPECT_FALSE(loop->prepared());
        EXPECT_FALSE(loop->isPreparing());
        EXPECT_EQ(flags(), std::pair(false, false));
    }
    EXPECT_EQ(SectionLoopCoordinator::failureMessage(nullptr), fallback);

    // A preparation that fails at once during an undo empties the history after the step.
    settle({0.2, 0.4}, false);
    settle({0.3, 0.4}, true);
    preparer->failAtOnce = true;
    loop->undo();
    EXPECT_TRUE(test::pumpUntil([&] { return failures.size() == 4; }));
    EXPECT_EQ(flags(), std::pair(false, false));
    EXPECT_EQ(history("undoText").toString(), QString());
}

TEST_F(SectionLoopTest, ReleasedWhilePreparingCallsNothing)
{
    loop->prepare(take, {0.2, 0.4}, false);
    const CancellationToken token = preparer->calls.back().token;
    loop.reset();
    EXPECT_TRUE(token.isCancelled());
    preparer->succeed(0);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(completions.empty());
    EXPECT_TRUE(failures.empty());
}
