#include "views/main/player_window_model.h"

#include "bpm/bpm_analysis_service.h"
#include "library/sd2_pair_audio.h"
#include "player/player_model.h"
#include "sd2/sd2_recovery_service.h"

#include "player/player_fakes.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

AudioTrack track(const QString &name, double duration = 10)
{
    AudioTrack t;
    t.id = QUuid::createUuid();
    t._url = TrackedFileURL(QUrl::fromLocalFile(QStringLiteral("/library/") + name));
    t.duration = duration;
    return t;
}

struct PlayerWindow : testing::Test {
    std::shared_ptr<test::FakeEngine> engine = std::make_shared<test::FakeEngine>();
    PlayerModel player{engine,
                       std::make_shared<test::FakeImporter>(),
                       std::make_shared<SD2RecoveryService>(),
                       std::make_shared<test::FakeSections>(),
                       BPMAnalysisService::shared(),
                       [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> { co_return WaveformPeaks{}; }};
    PlayerWindowModel view{player};
    int changes = 0;

    PlayerWindow()
    {
        QObject::connect(&view, &MainWindowModel::changed, [this] { ++changes; });
    }
    // Every queued engine command ends before the model goes: a marker queued last has.
    ~PlayerWindow() override
    {
        bool ended = false;
        player.commands().enqueue(false, [marker = std::shared_ptr<void>(nullptr, [&ended](void *) { ended = true; })](
                                             PlaybackServing &) -> QCoro::Task<> { co_return; });
        EXPECT_TRUE(test::pumpUntil([&] { return ended; }));
    }
};

} // namespace

TEST_F(PlayerWindow, TheExportButtonsTrackHelpAndHighlight)
{
    EXPECT_FALSE(view.hasPrimaryExportTrack());
    EXPECT_EQ(view.primaryExportHelp(), QStringLiteral("Choose a ready audio file to export"));
    EXPECT_FALSE(view.primaryExportIsHighlighted());
    EXPECT_TRUE(view.libraryIsEmpty());
    EXPECT_FALSE(view.selectedDuration());

    AudioTrack pair = track(QStringLiteral("take.L"));
    pair.pair = std::make_shared<SD2PairAudio>(track(QStringLiteral("take.L")), track(QStringLiteral("take.R")), nullptr);
    AudioTrack waiting = track(QStringLiteral("old.sd2"));
    waiting.recovery = SD2Recovery{};
    const QList<AudioTrack> tracks = {track(QStringLiteral("a <b>.wav"), 12), track(QStringLiteral("b.wav")), pair,
                                      waiting};
    player.append(tracks);
    player.select(tracks[0].id, false);
    EXPECT_GT(changes, 0);
    EXPECT_EQ(view.selectedDuration(), 12);
    EXPECT_EQ(view.primaryExportHelp(), QStringLiteral("Export a <b>.wav — whole file"));
    EXPECT_TRUE(view.primaryExportIsHighlighted());
    player.librarySelection().setIds({tracks[0].id, tracks[1].id});
    EXPECT_FALSE(view.primaryExportIsHighlighted());

    // One checked row is the track, whatever is current; two checked rows fall back to it.
    const struct {
        QList<int> checked;
        const char *help;
        bool highlighted;
    } cases[] = {
        {{1}, "Export b.wav — whole file", true},
        {{2}, "Export take (L/R) — whole file", true},
        {{1, 2}, "Export a <b>.wav — whole file", false},
        {{3}, "Choose a ready audio file to export", false}, // waits for SD2 recovery
    };
    for (const auto &c : cases) {
        QSet<QUuid> ids;
        for (int i : c.checked)
            ids.insert(tracks[i].id);
        player.exportChecks().setIds(ids);
        EXPECT_EQ(view.primaryExportHelp(), QString::fromUtf8(c.help));
        EXPECT_EQ(view.primaryExportIsHighlighted(), c.highlighted) << c.help;
    }
    player.exportChecks().setIds({});
    player.setIsConfirmingRecoveryDepth(true);
    EXPECT_FALSE(view.hasPrimaryExportTrack());
    player.setIsConfirmingRecoveryDepth(false);

    player.select(tracks[3].id, false);
    EXPECT_TRUE(view.selectedTrackHasRecovery());
    EXPECT_FALSE(view.canPlaySelection());
    EXPECT_FALSE(view.hasPrimaryExportTrack());
    EXPECT_EQ(view.levels(), (QList<double>{0, 0}));
    EXPECT_FALSE(view.loopSection());
}
