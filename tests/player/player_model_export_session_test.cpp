#include "player/player_model.h"

#include "player_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

class PlayerModelExportSession : public ::testing::Test {
protected:
    ~PlayerModelExportSession() override
    {
        model.reset();
        EXPECT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1; }));
    }
    static AudioTrack track(const QString &name)
    {
        AudioTrack t;
        t.id = QUuid::createUuid();
        t._url = TrackedFileURL(QUrl::fromLocalFile("/library/" + name));
        t.duration = 10;
        return t;
    }
    bool pausedLast() const { return !engine->log.isEmpty() && engine->log.last() == "pause"; }

    std::shared_ptr<test::FakeEngine> engine = std::make_shared<test::FakeEngine>();
    std::unique_ptr<PlayerModel> model = std::make_unique<PlayerModel>(
        engine, std::make_shared<test::FakeImporter>(), std::make_shared<test::LatchedRecovery>(),
        std::make_shared<test::FakeSections>(), std::make_shared<test::LatchedAnalyzer>(),
        [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> { co_return WaveformPeaks{}; });
};

} // namespace

TEST_F(PlayerModelExportSession, PausesPlaybackWithAndWithoutATrackAndTakesThePreparedLoop)
{
    // Nothing to export still pauses.
    EXPECT_EQ(model->primaryExportSession({}), nullptr);
    ASSERT_TRUE(test::pumpUntil([&] { return pausedLast(); }));

    const AudioTrack a = track("a.wav");
    model->append({a});
    model->select(a.id, false);
    model->play();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    auto whole = model->primaryExportSession({});
    ASSERT_NE(whole, nullptr);
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(model->levels(), (PlayerModel::Levels{0, 0}));
    ASSERT_TRUE(test::pumpUntil([&] { return !engine->playing && pausedLast(); }));
    EXPECT_EQ(whole->track().id, a.id);
    EXPECT_FALSE(whole->exportsLoop());
    EXPECT_EQ(whole->selectedLoop(), nullptr);

    // With a section loop prepared on the current track, the session exports that loop.
    model->toggleSectionLoop();
    ASSERT_TRUE(test::pumpUntil([&] { return model->sectionLoop().prepared() != nullptr; }));
    auto looped = model->primaryExportSession({});
    ASSERT_NE(looped, nullptr);
    EXPECT_TRUE(looped->exportsLoop());
    EXPECT_EQ(looped->selectedLoop(), model->sectionLoop().prepared());
    ASSERT_TRUE(looped->loopOptions());
    EXPECT_EQ(looped->loopOptions()->repeatCount, 1);
    EXPECT_EQ(looped->outputSummary(), "One audio file containing the selected loop played 1 time.");
}
