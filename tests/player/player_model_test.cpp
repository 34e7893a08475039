#include "player/player_model.h"

#include "export/preview_audio_focus.h"
#include "files/access/missing_audio_source.h"
#include "playback/playback_failure.h"
#include "player_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

struct Warning {
    QString title;
    QString message;
    QStringList details;
    bool operator==(const Warning &) const = default;
};

void PrintTo(const Warning &w, std::ostream *os)
{
    *os << w.title.toStdString() << " / " << w.message.toStdString() << " / " << w.details.join('|').toStdString();
}

// A preview that holds the focus until the test lets its task end, which it logs.
class FakePreview final : public AudiblePreview {
public:
    explicit FakePreview(QStringList &log) : log(log) {}
    QStringList &log;
    bool windingDown = true;
    int turns = 0;
    QStringList stops;
    TaskHandle task = TaskHandle::start([this](CancellationToken) -> QCoro::Task<> {
        for (; windingDown; ++turns)
            co_await sleepFor(1ms);
        log.append("preview stopped");
    });

    void stop(const QString &message) override
    {
        stops.append(message);
        PreviewAudioFocus::shared().release(this);
    }
    TaskHandle runningTask() const override { return task; }
};

class PlayerModelTest : public ::testing::Test {
protected:
    PlayerModelTest()
    {
        model->warn = [this](const QString &t, const QString &m, const QStringList &d) {
            warnings.push_back({t, m, d});
        };
    }
    ~PlayerModelTest() override
    {
        importer->endAll();
        model.reset();
        EXPECT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1 && importer.use_count() == 1; }, 2s));
    }

    static AudioTrack track(const QString &name, double duration = 10)
    {
        AudioTrack t;
        t.id = QUuid::createUuid();
        t._url = TrackedFileURL(QUrl::fromLocalFile("/library/" + name));
        t.duration = duration;
        return t;
    }
    // Appends one track per name; the first becomes current.
    QList<AudioTrack> library(const QStringList &names)
    {
        QList<AudioTrack> tracks;
        for (const QString &name : names)
            tracks.append(track(name));
        model->append(tracks);
        return tracks;
    }
    QUuid id(int row) const { return model->tracks().at(row).id; }
    QString current() const
    {
        const auto t = model->selectedTrack();
        return t ? test::trackName(*t) : QString();
    }

    // Waits until the engine has logged exactly these calls since the last check.
    void expectEngine(const QStringList &calls)
    {
        test::pumpUntil([&] { return engine->log.size() >= calls.size(); }, 2s);
        drain();
        EXPECT_EQ(engine->log, calls);
        engine->log.clear();
    }
    // Every command queued so far has ended once a marker queued behind them has ended, run or
    // dropped by a failure: its captures go with its task.
    void drain()
    {
        bool ended = false;
        model->commands().enqueue(false, [marker = std::shared_ptr<void>(nullptr, [&ended](void *) { ended = true; })](
                                             PlaybackServing &) -> QCoro::Task<> { co_return; });
        ASSERT_TRUE(test::pumpUntil([&] { return ended; }));
    }
    // Lets the playing file end and waits until the model has handled it.
    void reachEnd(bool successfully = true)
    {
        ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
        engine->reachEnd(successfully);
        ASSERT_TRUE(test::pumpUntil([&] { return !engine->completion || !model->isPlaying(); }));
    }

    std::shared_ptr<test::FakeEngine> engine = std::make_shared<test::FakeEngine>();
    std::shared_ptr<test::FakeImporter> importer = std::make_shared<test::FakeImporter>();
    std::unique_ptr<PlayerModel> model =
        std::make_unique<PlayerModel>(engine, importer, std::make_shared<test::IdleAnalysis>());
    std::vector<Warning> warnings;
};

using Calls = QStringList;
using Warnings = std::vector<Warning>;

} // namespace

TEST_F(PlayerModelTest, SelectLoadsStoppedAndReselectingOnlyNarrowsTheLibrarySelection)
{
    EXPECT_EQ(model->volume(), 0.7);
    EXPECT_FALSE(model->canPlaySelection());
    library({"a.wav", "b.wav"});
    EXPECT_EQ(current(), "a.wav");
    expectEngine({"load a.wav 0.7"});

    model->select(QUuid::createUuid(), false);
    EXPECT_EQ(model->librarySelection().ids(), QSet<QUuid>{id(0)});

    model->librarySelection().setIds({id(0), id(1)});
    model->select(id(0), false);
    EXPECT_EQ(model->librarySelection().ids(), QSet<QUuid>{id(0)});
    expectEngine({});

    // A recording that waits for SD2 recovery is not loaded; nothing may play it.
    AudioTrack waiting = track("c.sd2");
    waiting.recovery = SD2Recovery{};
    model->append({waiting});
    model->select(waiting.id, true);
    EXPECT_FALSE(model->canPlaySelection());
    model->play();
    EXPECT_FALSE(model->isPlaying());
    expectEngine({"unload"});
}

TEST_F(PlayerModelTest, PlayPauseAndSeekQueueTheirEngineWork)
{
    model->play(); // empty library
    EXPECT_FALSE(model->isPlaying());
    library({"a.wav", "b.wav"});
    model->setVolume(0.5);
    expectEngine({"load a.wav 0.7", "volume 0.5"});

    model->play();
    model->play(); // already playing
    EXPECT_TRUE(model->isPlaying());
    // The engine holds the track already: no reload, and no seek without a reset position.
    expectEngine({"play"});

    engine->position = 4.25;
    model->pause();
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(model->levels(), (PlayerModel::Levels{0, 0}));
    ASSERT_TRUE(test::pumpUntil([&] { return model->position() == 4.25; })); // the engine's final position
    expectEngine({"pause"});

    model->seek(12); // beyond the end: stopped at the end, the engine paused first
    EXPECT_EQ(model->position(), 10);
    model->seek(std::nan(""));
    model->seek(-3);
    EXPECT_EQ(model->position(), 0);
    model->seek(10);
    model->play(); // at the very end: from the start again
    EXPECT_EQ(model->position(), 0);
    expectEngine({"pause", "seek 10", "seek 0", "pause", "seek 10", "seek 0", "play"});
}

TEST_F(PlayerModelTest, VolumeIsClampedAndNonFiniteValuesAreIgnored)
{
    const struct {
        double value;
        double volume;
    } cases[] = {{1.5, 1}, {-1, 0}, {0.25, 0.25}, {std::nan(""), 0.25}, {INFINITY, 0.25}};
    for (const auto &c : cases) {
        model->setVolume(c.value);
        EXPECT_EQ(model->volume(), c.volume) << c.value;
    }
    expectEngine({"volume 1", "volume 0", "volume 0.25"});
}

TEST_F(PlayerModelTest, AtTheEndTheNextRowPlaysAndAfterTheLastPlaybackStaysStopped)
{
    library({"a.wav", "b.wav", "c.wav"});
    model->play();
    reachEnd();
    ASSERT_TRUE(test::pumpUntil([&] { return current() == "b.wav" && engine->playing; }));
    EXPECT_TRUE(model->isPlaying());
    EXPECT_EQ(model->librarySelection().ids(), QSet<QUuid>{id(1)});

    // With two or more rows highlighted, advancing leaves the highlight alone.
    model->librarySelection().setIds({id(0), id(2)});
    reachEnd();
    ASSERT_TRUE(test::pumpUntil([&] { return current() == "c.wav" && engine->playing; }));
    EXPECT_EQ(model->librarySelection().ids(), (QSet<QUuid>{id(0), id(2)}));

    reachEnd();
    drain();
    EXPECT_EQ(current(), "c.wav");
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(model->levels(), (PlayerModel::Levels{0, 0}));
    expectEngine({"load a.wav 0.7", "play", "load b.wav 0.7", "play", "load c.wav 0.7", "play"});
    EXPECT_TRUE(warnings.empty());
}

TEST_F(PlayerModelTest, RepeatRestartsTheTrackAndADecodingFailureStopsWithoutAdvancing)
{
    library({"a.wav", "b.wav"});
    model->toggleRepeat();
    EXPECT_TRUE(model->isRepeating());
    model->play();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    engine->position = 10;
    reachEnd();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    EXPECT_EQ(current(), "a.wav");
    EXPECT_EQ(model->position(), 0);

    model->toggleRepeat();
    EXPECT_FALSE(model->isRepeating());
    reachEnd(false);
    drain();
    EXPECT_EQ(current(), "a.wav");
    EXPECT_EQ(warnings, (Warnings{{"Audio playback stopped", "The decoder encountered damaged or unreadable audio.", {}}}));
    expectEngine({"load a.wav 0.7", "repeat 1", "play", "seek 0", "play", "repeat 0"});
}

TEST_F(PlayerModelTest, SnapshotsForAnotherTrackOrAfterPauseChangeNothing)
{
    library({"a.wav", "b.wav"});
    model->play();
    PlaybackSnapshot other{id(1), 3, true, true, {1, 1}};
    model->receive(other);
    EXPECT_EQ(model->position(), 0);
    EXPECT_EQ(current(), "a.wav");

    model->pause();
    model->receive(PlaybackSnapshot{id(0), 3, false, true, {1, 1}});
    EXPECT_EQ(current(), "a.wav");
    // A position refresh for another track is ignored too.
    model->commands().updated(other, true);
    EXPECT_EQ(model->position(), 0);
}

TEST_F(PlayerModelTest, FailuresShowTheirExactAlerts)
{
    engine->refused["gone.wav"] = std::make_exception_ptr(MissingAudioSource("gone.wav"));
    engine->refused["broken.wav"] = std::make_exception_ptr(PlaybackFailure::cannotPrepare());
    library({"gone.wav", "broken.wav", "b.wav"});
    drain();
    model->playTrack(id(1));
    drain();
    // The failed load stops playback and drops what was queued behind it; the row stays current.
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(current(), "broken.wav");

    model->bpmDetection().failed(id(2), "No usable beat.");
    model->bpmDetection().failed(QUuid::createUuid(), "removed");
    model->recoveryWarning = [](const SD2RecoveryFailure &) { FAIL(); };

    const QString missing = MissingAudioSource("gone.wav").message();
    EXPECT_EQ(warnings,
              (Warnings{{"Audio file is missing", missing, {}},
                        {"Audio couldn’t be played",
                         "The file is unavailable, access was denied, or its audio could not be decoded. Use File > "
                         "Restore File Access… to select the original file, then try again.",
                         {}},
                        {"BPM couldn’t be detected", "No usable beat.", {}}}));
    EXPECT_TRUE(missing.contains("gone.wav"));
}

TEST_F(PlayerModelTest, DetectedTempoIsAppliedOnlyToTheUnchangedRecordWithoutATempo)
{
    const auto tagged = [] {
        AudioTrack t = track("tagged.wav");
        t.bpm = 90;
        return t;
    }();
    model->append({track("a.wav"), tagged});
    const AudioTrack a = model->tracks().at(0);
    AudioTrack elsewhere = a;
    elsewhere._url = TrackedFileURL(QUrl::fromLocalFile("/library/copy.wav"));

    const struct {
        AudioTrack analysed;
        double bpm;
        std::optional<double> detected;
    } cases[] = {{a, 0, std::nullopt},          {a, -1, std::nullopt},        {a, INFINITY, std::nullopt},
                 {a, std::nan(""), std::nullopt}, {elsewhere, 120, std::nullopt}, {tagged, 120, std::nullopt},
                 {track("gone.wav"), 120, std::nullopt}, {a, 121.5, 121.5},       {a, 99, 121.5}};
    for (const auto &c : cases) {
        model->bpmDetection().completed(c.analysed, c.bpm);
        EXPECT_EQ(model->tracks().at(0).detectedBPM, c.detected) << c.bpm;
        EXPECT_FALSE(model->tracks().at(1).detectedBPM);
    }
}

TEST_F(PlayerModelTest, StatusTextsAndProgressAreGuarded)
{
    const struct {
        double position;
        const char *text;
    } times[] = {{0, "00:00:00"},      {75.9, "00:01:15"}, {3725, "01:02:05"},   {360000, "100:00:00"},
                 {-5, "00:00:00"},     {1e300, "2562047788015215:30:07"}};
    library({"a.wav"});
    for (const auto &t : times) {
        model->commands().updated(PlaybackSnapshot{id(0), t.position, false, {}, {}}, true);
        EXPECT_EQ(model->timeText(), t.text) << t.position;
    }
    // Progress divides by the whole track, at most 1; without a usable duration it is 0.
    EXPECT_EQ(model->progress(), 1);
    model->commands().updated(PlaybackSnapshot{id(0), 2.5, false, {}, {}}, true);
    EXPECT_EQ(model->progress(), 0.25);
    model->commands().updated(PlaybackSnapshot{id(0), NAN, false, {}, {}}, true);
    EXPECT_EQ(model->position(), 2.5);

    AudioTrack silent = track("silent.wav", 0);
    AudioTrack unknown = track("unknown.wav", NAN);
    model->append({silent, unknown});
    for (const AudioTrack &t : {silent, unknown}) {
        model->select(t.id, false);
        EXPECT_EQ(model->progress(), 0);
    }
}

TEST_F(PlayerModelTest, PlayStopsTheAudiblePreviewAndWaitsForItToWindDown)
{
    library({"a.wav"});
    expectEngine({"load a.wav 0.7"});
    FakePreview preview(engine->log);
    PreviewAudioFocus::shared().take(&preview);

    model->play();
    EXPECT_EQ(preview.stops, QStringList{""});
    EXPECT_EQ(PreviewAudioFocus::shared().current(), nullptr);
    ASSERT_TRUE(test::pumpUntil([&] { return preview.turns > 5; }));
    EXPECT_TRUE(engine->log.isEmpty());

    preview.windingDown = false;
    expectEngine({"preview stopped", "play"});
}

TEST_F(PlayerModelTest, LateCallbacksAfterTheModelIsGoneDoNothing)
{
    library({"a.wav"});
    auto shouldMonitor = model->commands().shouldMonitor;
    auto updated = model->commands().updated;
    auto failed = model->commands().failed;
    auto bpmFailed = model->bpmDetection().failed;
    // The coordinators are the model's children; keep copies of their callbacks alive.
    const QUuid first = id(0);
    model.reset();
    EXPECT_FALSE(shouldMonitor());
    updated(PlaybackSnapshot{first, 1, true, true, {}}, false);
    failed(std::make_exception_ptr(PlaybackFailure::cannotPlay()));
    bpmFailed(first, "late");
    EXPECT_TRUE(warnings.empty());
}

// Library list changes ------------------------------------------------------------------------

TEST_F(PlayerModelTest, AnImportAppendsSelectsAndListsEveryRejectionInOneWarning)
{
    library({"x.wav"});
    model->select(id(0), false);
    const QList<QUrl> dropped{QUrl::fromLocalFile("/drop/a.wav"), QUrl::fromLocalFile("/drop/folder")};
    model->importFiles(dropped, true);
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 1; }));
    EXPECT_EQ(importer->calls[0].urls, dropped);
    EXPECT_EQ(importer->calls[0].excluding, QSet<QUrl>{QUrl::fromLocalFile("/library/x.wav")});

    AudioImportResult result{{track("a.wav"), track("b.wav")},
                             {{"folder", "No visible files were found in this folder."}, {"c.txt", "Not audio."}}};
    importer->end(0, result);
    ASSERT_TRUE(test::pumpUntil([&] { return model->tracks().size() == 3; }));
    EXPECT_EQ(current(), "a.wav"); // asked for by the system: the first imported track
    EXPECT_EQ(warnings, (Warnings{{"Some files couldn’t be loaded",
                                   "2 audio files were added. The following items were rejected:",
                                   {"folder — No visible files were found in this folder.", "c.txt — Not audio."}}}));

    warnings.clear();
    model->importFiles({QUrl::fromLocalFile("/drop/d")}, false);
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 2; }));
    importer->end(1, AudioImportResult{{}, {{"d", "r1"}, {"e", "r2"}}});
    ASSERT_TRUE(test::pumpUntil([&] { return !warnings.empty(); }));
    EXPECT_EQ(warnings[0].message, "0 audio files were added. The following items were rejected:");
    EXPECT_EQ(warnings[0].details, (QStringList{"d — r1", "e — r2"}));
    EXPECT_EQ(model->tracks().size(), 3);
}

TEST_F(PlayerModelTest, TheOpenPanelFeedsTheImportQueueAndPropertiesNotifyOnlyOnAChange)
{
    QStringList titles;
    QList<QUrl> chosen;
    model->chooseFilesToOpen = [&](const QString &title) {
        titles.append(title);
        return chosen;
    };
    model->openFiles(); // cancelled
    chosen = {QUrl::fromLocalFile("/drop/folder"), QUrl::fromLocalFile("/drop/a.wav")};
    model->openFiles();
    EXPECT_EQ(titles, (QStringList{"Open Audio Files or Folders", "Open Audio Files or Folders"}));
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 1; }));
    EXPECT_EQ(importer->calls[0].urls, chosen);
    EXPECT_EQ(model->imports().pendingCount(), 1);

    int notified = 0;
    for (auto signal : {&PlayerModel::tracksChanged, &PlayerModel::selectedIDChanged, &PlayerModel::volumeChanged,
                        &PlayerModel::isPlayingChanged, &PlayerModel::positionOrLevelsChanged})
        QObject::connect(model.get(), signal, [&] { ++notified; });
    model->setVolume(0.7);
    model->pause();
    model->seek(0);
    EXPECT_EQ(notified, 0);
    model->append({}); // the list notifies on every assignment
    EXPECT_EQ(notified, 1);
}

TEST_F(PlayerModelTest, WithNothingCurrentAnImportSelectsTheFirstRowThenTheFirstImportedTrack)
{
    const QList<AudioTrack> rows = library({"x.wav", "y.wav"});
    model->replaceLibraryTracks({rows[1]}, {}); // leaves x.wav and nothing current
    EXPECT_FALSE(model->selectedID());

    QStringList made;
    QObject::connect(model.get(), &PlayerModel::selectedIDChanged, [&] { made.append(current()); });
    model->importFiles({QUrl::fromLocalFile("/drop/n")}, true);
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 1; }));
    importer->end(0, AudioImportResult{{track("n1.wav"), track("n2.wav")}, {}});
    ASSERT_TRUE(test::pumpUntil([&] { return model->tracks().size() == 3; }));
    EXPECT_EQ(made, (QStringList{"x.wav", "n1.wav"}));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(PlayerModelTest, RemovingRowsStopsPlaybackAndMakesTheRowInTheirPlaceCurrent)
{
    library({"a.wav", "b.wav", "c.wav", "d.wav"});
    model->exportChecks().setIds({id(2), id(0)});
    model->playTrack(id(0)); // plays a track that is not removed
    model->librarySelection().setIds({id(2), id(3)});
    model->select(id(2), true);
    model->removeSelected();
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(current(), "b.wav"); // the new last row
    EXPECT_EQ(model->librarySelection().ids(), QSet<QUuid>{id(1)});
    EXPECT_EQ(model->exportChecks().ids(), QSet<QUuid>{id(0)});

    model->librarySelection().setIds({id(0)});
    model->removeSelected();
    EXPECT_EQ(current(), "b.wav"); // now in the first row

    model->librarySelection().setIds({id(0)});
    model->removeSelected();
    EXPECT_TRUE(model->tracks().isEmpty());
    EXPECT_FALSE(model->selectedID());
    drain();
    EXPECT_FALSE(engine->loaded);
    EXPECT_FALSE(engine->playing);
}

TEST_F(PlayerModelTest, ClearingDropsRunningImports)
{
    library({"a.wav"});
    const TaskHandle job = model->importFiles({QUrl::fromLocalFile("/drop/b.wav")}, false);
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 1; }));
    model->clearAll();
    EXPECT_TRUE(importer->calls[0].token.isCancelled());
    EXPECT_EQ(model->imports().pendingCount(), 0);
    importer->end(0, AudioImportResult{{track("b.wav")}, {{"c", "r"}}});
    ASSERT_TRUE(test::pumpUntil([&] { return job.isFinished(); }));
    EXPECT_TRUE(model->tracks().isEmpty());
    EXPECT_FALSE(model->selectedID());
    EXPECT_TRUE(warnings.empty());
}

TEST_F(PlayerModelTest, ReplacementStandsAtTheFirstLibraryPlaceOfTheOldTracksAndKeepsTheirCheck)
{
    const QList<AudioTrack> rows = library({"a.wav", "l.wav", "r.wav", "b.wav"});
    model->exportChecks().setIds({rows[2].id});
    const AudioTrack pair = track("pair.wav");
    // Handed in out of library order: the pair still takes the place of the first of them.
    model->replaceLibraryTracks({rows[2], rows[1]}, {pair});
    QStringList names;
    for (const AudioTrack &t : model->tracks())
        names.append(test::trackName(t));
    EXPECT_EQ(names, (QStringList{"a.wav", "pair.wav", "b.wav"}));
    EXPECT_EQ(model->exportChecks().ids(), QSet<QUuid>{pair.id});
    EXPECT_EQ(current(), "pair.wav");

    // Unchecked old tracks leave the new ones unchecked; a last old track appends at the end.
    const AudioTrack last = track("last.wav");
    model->replaceLibraryTracks({model->tracks().at(2)}, {last});
    EXPECT_EQ(test::trackName(model->tracks().at(2)), "last.wav");
    EXPECT_FALSE(model->exportChecks().ids().contains(last.id));

    // A stale list (a track rewritten or gone meanwhile) changes nothing.
    AudioTrack rewritten = model->tracks().at(0);
    rewritten._url = TrackedFileURL(QUrl::fromLocalFile("/library/other.wav"));
    for (const QList<AudioTrack> &stale : {QList<AudioTrack>{rewritten}, QList<AudioTrack>{track("gone.wav")},
                                           QList<AudioTrack>{}}) {
        model->replaceLibraryTracks(stale, {track("never.wav")});
        EXPECT_EQ(model->tracks().size(), 3);
    }
}
