#include "player/player_model.h"

#include "library/sd2_pair_audio.h"
#include "player_fakes.h"
#include "sd2/pair_fixture.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

class PlayerModelLibrary : public ::testing::Test {
protected:
    ~PlayerModelLibrary() override
    {
        model.reset();
        EXPECT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1; }, 2s));
    }

    static AudioTrack track(const QString &path)
    {
        AudioTrack t;
        t.id = QUuid::createUuid();
        t._url = TrackedFileURL(QUrl::fromLocalFile(path));
        t.duration = 10;
        return t;
    }
    static AudioTrack pairOf(const AudioTrack &left, const AudioTrack &right)
    {
        AudioTrack pair = track("/library/take.pair");
        pair.pair = std::make_shared<const SD2PairAudio>(
            left, right, std::make_shared<const SD2RecoveredCopy>(QUrl(), 44100, 1000, "x", 2, 2));
        return pair;
    }
    QSet<QUuid> selection() const { return model->librarySelection().ids(); }
    QString current() const { return model->selectedTrack() ? model->selectedTrack()->projectedURL().fileName() : ""; }

    std::shared_ptr<test::FakeEngine> engine = std::make_shared<test::FakeEngine>();
    std::unique_ptr<PlayerModel> model = std::make_unique<PlayerModel>(
        engine, std::make_shared<test::FakeImporter>(), std::make_shared<SD2RecoveryService>(),
        std::make_shared<test::FakeSections>(), std::make_shared<test::LatchedAnalyzer>(),
        [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> { co_return WaveformPeaks{}; });
};

} // namespace

TEST_F(PlayerModelLibrary, ChannelRowsStandForTheirPair)
{
    const AudioTrack plain = track("/library/a.wav");
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    const AudioTrack pair = pairOf(left, right);
    model->append({plain, pair});

    model->selectVisibleLibraryRows({right.id, QUuid::createUuid()});
    EXPECT_EQ(selection(), QSet<QUuid>{pair.id});
    EXPECT_EQ(model->visibleLibraryIDs(selection()), (QSet<QUuid>{left.id, right.id}));
    EXPECT_EQ(model->visibleLibraryIDs({plain.id, pair.id}), (QSet<QUuid>{plain.id, left.id, right.id}));

    model->setExportChecked(*model->libraryOwner(left.id), true);
    model->setExportChecked(left.id, true); // a row id is no library track
    EXPECT_EQ(model->exportChecks().ids(), QSet<QUuid>{pair.id});
}

TEST_F(PlayerModelLibrary, NamedLinkSelection)
{
    const struct {
        const char *first;
        const char *second;
        const char *left; // none when the names do not make a pair
    } cases[] = {
        {"/a/take.R", "/a/take.L", "take.L"},
        {"/a/take.L", "/a/take.R", "take.L"},
        {"/a/take.L", "/a/other.L", nullptr},
        {"/a/take.L", "/b/take.R", nullptr},
    };
    for (const auto &c : cases) {
        model->clearAll();
        const AudioTrack first = test::channelRecord(c.first), second = test::channelRecord(c.second);
        model->append({first, second});
        model->librarySelection().setIds({first.id, second.id});
        const auto named = model->namedLinkSelection();
        ASSERT_EQ(named.has_value(), c.left != nullptr) << c.first << " " << c.second;
        if (named) {
            EXPECT_EQ(named->first.projectedURL().fileName(), c.left);
            EXPECT_NE(named->second.id, named->first.id);
        }
    }
}

TEST_F(PlayerModelLibrary, ExportTargetsAndTheirTexts)
{
    const AudioTrack a = track("/library/a.wav"), b = track("/library/b.wav"), c = track("/library/c.wav");
    AudioTrack waiting = track("/library/w.sd2");
    waiting.recovery = SD2Recovery{nullptr, SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt}};
    const AudioTrack pair = pairOf(test::channelRecord("/library/take.L"), test::channelRecord("/library/take.R"));
    model->append({a, b, c, waiting, pair});
    // The current track a plays a prepared loop.
    model->toggleSectionLoop();
    ASSERT_TRUE(test::pumpUntil([&] { return model->sectionLoop().prepared() != nullptr; }));

    const QString whole = "Export the %1 whole recordings using shared export settings";
    const QString none = "Check files, select multiple files, or select a linked pair to export";
    const struct {
        const char *what;
        QSet<QUuid> checked, selected;
        std::optional<QUuid> current;
        bool highlighted;
        QString help, summary, batchHelp;
    } cases[] = {
        {"one checked, not current", {b.id}, {}, a.id, true, "Export b.wav — whole file", "1 checked for export",
         whole.arg("checked")},
        {"two checked", {b.id, c.id}, {}, a.id, false, "Export a.wav — selected loop", "2 checked for export",
         whole.arg("checked")},
        {"one plain row selected", {}, {a.id}, a.id, true, "Export a.wav — selected loop", "0 checked for export", none},
        {"three rows selected", {}, {a.id, b.id, c.id}, a.id, false, "Export a.wav — selected loop",
         "3 selected for export", whole.arg("selected")},
        {"a linked pair selected", {}, {pair.id}, pair.id, true, "Export take (L/R) — whole file",
         "1 selected for export", whole.arg("selected")},
        {"current waits for recovery", {}, {waiting.id}, waiting.id, false, "Choose a ready audio file to export",
         "0 checked for export", none},
    };
    for (const auto &t : cases) {
        model->exportChecks().setIds(t.checked);
        if (t.current != model->selectedID())
            model->select(*t.current, true);
        model->librarySelection().setIds(t.selected);
        EXPECT_EQ(model->primaryExportIsHighlighted(), t.highlighted) << t.what;
        EXPECT_EQ(model->primaryExportHelp(), t.help) << t.what;
        EXPECT_EQ(model->libraryExportSelection().summary(), t.summary) << t.what;
        EXPECT_EQ(model->libraryExportSelection().help(), t.batchHelp) << t.what;
    }
    model->select(a.id, false);
    model->recoveryQueue().submit(a, 44100, false);
    EXPECT_FALSE(model->primaryExportTrack()) << "current in the recovery queue";
    model->recoveryQueue().cancelAll();
    model->setIsConfirmingRecoveryDepth(true);
    EXPECT_FALSE(model->primaryExportTrack()) << "confirming a depth";
}

TEST_F(PlayerModelLibrary, RowSelectionKeepsThePlayingTrackWhenItHoldsIt)
{
    const AudioTrack a = track("/library/a.wav"), b = track("/library/b.wav"), c = track("/library/c.wav");
    model->append({a, b, c});
    model->playTrack(b.id);
    model->selectLibraryRows({a.id, b.id});
    EXPECT_EQ(current(), "b.wav");
    EXPECT_TRUE(model->isPlaying());

    model->selectLibraryRows({c.id, a.id});
    EXPECT_EQ(current(), "a.wav");
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(selection(), (QSet<QUuid>{a.id, c.id}));

    model->selectLibraryRows({});
    EXPECT_EQ(current(), "a.wav");
}
