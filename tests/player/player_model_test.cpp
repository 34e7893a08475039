#include "player/player_model.h"

#include "bpm/bpm_analysis_service.h"
#include "export/preview_audio_focus.h"
#include "files/access/missing_audio_source.h"
#include "playback/playback_failure.h"
#include "player_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

using Warning = QStringList; // title, message, then the detail lines
using Warnings = std::vector<Warning>;
using Levels = PlayerModel::Levels;

// A preview holding the focus; its task logs its end once the test lets it wind down.
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

    void stop(const QString &message) override { stops.append(message), PreviewAudioFocus::shared().release(this); }
    TaskHandle runningTask() const override { return task; }
};

class PlayerModelTest : public ::testing::Test {
protected:
    PlayerModelTest()
    {
        model->warn = [this](const QString &t, const QString &m, const QStringList &d) {
            warnings.push_back(QStringList{t, m} + d);
        };
    }
    ~PlayerModelTest() override
    {
        importer->endAll();
        model.reset();
        EXPECT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1 && importer.use_count() == 1; }));
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
    QStringList names() const
    {
        QStringList list;
        for (const AudioTrack &t : model->tracks())
            list.append(test::trackName(t));
        return list;
    }

    // Every command queued so far has ended once a marker queued behind them has (run, or
    // dropped after a failure: its captures go with its task). Returns what the engine did.
    QStringList drain()
    {
        bool ended = false;
        model->commands().enqueue(false, [marker = std::shared_ptr<void>(nullptr, [&ended](void *) { ended = true; })](
                                             PlaybackServing &) -> QCoro::Task<> { co_return; });
        EXPECT_TRUE(test::pumpUntil([&] { return ended; }));
        return std::exchange(engine->log, {});
    }
    // The playing file ends; waits until the model has moved on.
    void reachEnd(bool successfully = true)
    {
        ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
        engine->playing = false, engine->completion = successfully;
        ASSERT_TRUE(test::pumpUntil([&] { return !engine->completion || !model->isPlaying(); }));
    }
    void refresh(double position) { model->commands().updated(PlaybackSnapshot{id(0), position, false, {}, {}}, true); }

    std::shared_ptr<test::FakeEngine> engine = std::make_shared<test::FakeEngine>();
    std::shared_ptr<test::FakeImporter> importer = std::make_shared<test::FakeImporter>();
    std::unique_ptr<PlayerModel> model = std::make_unique<PlayerModel>(
        engine, importer, std::make_shared<SD2RecoveryService>(), std::make_shared<test::FakeSections>(),
        BPMAnalysisService::shared(), [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> {
            co_return WaveformPeaks{};
        });
    Warnings warnings;
};

using Calls = QStringList;

} // namespace

TEST_F(PlayerModelTest, SelectPlayPauseSeekAndVolume)
{
    model->play(); // empty library
    EXPECT_FALSE(model->isPlaying());
    library({"a.wav", "b.wav"});
    EXPECT_EQ(current(), "a.wav");
    model->select(QUuid::createUuid(), false);
    model->librarySelection().setIds({id(0), id(1)});
    model->select(id(0), false); // the current row again: only the highlight narrows
    EXPECT_EQ(model->librarySelection().ids(), QSet<QUuid>{id(0)});
    EXPECT_EQ(drain(), Calls{"load a.wav 0.7"});

    const struct {
        double value, volume;
    } volumes[] = {{1.5, 1}, {-1, 0}, {NAN, 0}, {INFINITY, 0}, {0.5, 0.5}};
    for (const auto &v : volumes) {
        model->setVolume(v.value);
        EXPECT_EQ(model->volume(), v.volume) << v.value;
    }
    model->play();
    model->play(); // already playing
    EXPECT_TRUE(model->isPlaying());
    // The engine holds the track: no reload, and no seek while the position stays.
    EXPECT_EQ(drain(), (Calls{"volume 1", "volume 0", "volume 0.5", "play"}));

    engine->position = 4.25;
    model->pause();
    EXPECT_FALSE(model->isPlaying());
    EXPECT_TRUE(test::pumpUntil([&] { return model->position() == 4.25; })); // the engine's final position
    const struct {
        double seconds, position;
    } seeks[] = {{12, 10}, {NAN, 10}, {-3, 0}, {10, 10}};
    for (const auto &s : seeks) {
        model->seek(s.seconds);
        EXPECT_EQ(model->position(), s.position) << s.seconds;
    }
    model->play(); // at the very end: from the start again
    EXPECT_EQ(model->position(), 0);
    // A seek to the end pauses the engine first.
    EXPECT_EQ(drain(), (Calls{"pause", "pause", "seek 10", "seek 0", "pause", "seek 10", "seek 0", "play"}));

    // A recording that waits for SD2 recovery is unloaded and cannot be played.
    AudioTrack waiting = track("c.sd2");
    waiting.recovery = SD2Recovery{};
    model->append({waiting});
    model->playTrack(waiting.id);
    EXPECT_FALSE(model->canPlaySelection());
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(drain(), Calls{"unload"});
}

TEST_F(PlayerModelTest, AtTheEndRepeatRestartsTheNextRowPlaysAndAfterTheLastPlaybackStops)
{
    library({"a.wav", "b.wav", "c.wav"});
    model->toggleRepeat();
    model->play();
    reachEnd();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    EXPECT_EQ(current(), "a.wav");
    model->toggleRepeat();

    reachEnd();
    ASSERT_TRUE(test::pumpUntil([&] { return current() == "b.wav" && engine->playing; }));
    EXPECT_EQ(model->librarySelection().ids(), QSet<QUuid>{id(1)});
    // With two or more rows highlighted, advancing leaves the highlight alone.
    model->librarySelection().setIds({id(0), id(2)});
    reachEnd();
    ASSERT_TRUE(test::pumpUntil([&] { return current() == "c.wav" && engine->playing; }));
    EXPECT_EQ(model->librarySelection().ids(), (QSet<QUuid>{id(0), id(2)}));

    reachEnd();
    EXPECT_EQ(drain(), (Calls{"load a.wav 0.7", "repeat 1", "play", "seek 0", "play", "repeat 0", "load b.wav 0.7",
                              "play", "load c.wav 0.7", "play"}));
    EXPECT_EQ(current(), "c.wav");
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(model->levels(), (Levels{0, 0}));

    // A decoding failure stops without advancing; a snapshot of another track changes nothing.
    model->playTrack(id(0));
    model->receive(PlaybackSnapshot{id(1), 3, true, true, {1, 1}});
    reachEnd(false);
    EXPECT_EQ(drain(), (Calls{"load a.wav 0.7", "play"}));
    EXPECT_EQ(current(), "a.wav");
    EXPECT_EQ(warnings, (Warnings{{"Audio playback stopped", "The decoder encountered damaged or unreadable audio."}}));
}

TEST_F(PlayerModelTest, FailuresShowTheirExactAlertsAndLateCallbacksDoNothing)
{
    engine->refused["gone.wav"] = std::make_exception_ptr(MissingAudioSource("gone.wav"));
    engine->refused["broken.wav"] = std::make_exception_ptr(PlaybackFailure::cannotPrepare());
    library({"gone.wav", "broken.wav", "b.wav"});
    drain();
    model->playTrack(id(1));
    drain();
    // The failed load stops playback and drops the play queued behind it; the row stays current.
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(current(), "broken.wav");
    model->bpmDetection().failed(id(2), "No usable beat.");
    model->bpmDetection().failed(QUuid::createUuid(), "a removed track");
    EXPECT_EQ(warnings, (Warnings{{"Audio file is missing", MissingAudioSource("gone.wav").message()},
                                  {"Audio couldn’t be played",
                                   "The file is unavailable, access was denied, or its audio could not be decoded. "
                                   "Use File > Restore File Access… to select the original file, then try again."},
                                  {"BPM couldn’t be detected", "No usable beat."}}));

    warnings.clear();
    auto shouldMonitor = model->commands().shouldMonitor;
    auto updated = model->commands().updated;
    auto failed = model->commands().failed;
    auto bpmFailed = model->bpmDetection().failed;
    const QUuid first = id(0);
    model.reset();
    EXPECT_FALSE(shouldMonitor());
    updated(PlaybackSnapshot{first, 1, true, true, {}}, false);
    failed(std::make_exception_ptr(PlaybackFailure::cannotPlay()));
    bpmFailed(first, "late");
    EXPECT_TRUE(warnings.empty());
}

TEST_F(PlayerModelTest, DetectedTempoIsAppliedOnlyToTheUnchangedRecordWithoutATempo)
{
    AudioTrack tagged = track("tagged.wav");
    tagged.bpm = 90;
    model->append({track("a.wav"), tagged});
    const AudioTrack a = model->tracks().at(0);
    AudioTrack rewritten = a;
    rewritten._url = TrackedFileURL(QUrl::fromLocalFile("/library/copy.wav"));
    const struct {
        AudioTrack analysed;
        double bpm;
        std::optional<double> detected;
    } cases[] = {{a, 0, {}},        {a, -1, {}},       {a, INFINITY, {}},          {a, NAN, {}},     {rewritten, 120, {}},
                 {tagged, 120, {}}, {track("gone.wav"), 120, {}}, {a, 121.5, 121.5}, {a, 99, 121.5}};
    for (const auto &c : cases) {
        model->bpmDetection().completed(c.analysed, c.bpm);
        EXPECT_EQ(model->tracks().at(0).detectedBPM, c.detected) << c.bpm;
        EXPECT_FALSE(model->tracks().at(1).detectedBPM);
    }
}

TEST_F(PlayerModelTest, StatusValuesAreGuardedAndNotifyOnlyOnAChange)
{
    library({"a.wav"});
    const struct {
        double position;
        const char *text;
    } times[] = {{0, "00:00:00"}, {75.9, "00:01:15"}, {3725, "01:02:05"}, {-5, "00:00:00"},
                 {1e300, "2562047788015215:30:07"}, {360000, "100:00:00"}};
    for (const auto &t : times) {
        refresh(t.position);
        EXPECT_EQ(model->timeText(), t.text) << t.position;
    }
    EXPECT_EQ(model->progress(), 1); // at most 1
    refresh(2.5);
    refresh(NAN);
    EXPECT_EQ(model->progress(), 0.25);
    model->commands().updated(PlaybackSnapshot{QUuid::createUuid(), 1, false, {}, {}}, true); // another track
    EXPECT_EQ(model->position(), 2.5);
    for (const double duration : {0.0, double(NAN)}) {
        model->append({track("odd.wav", duration)});
        model->select(model->tracks().last().id, false);
        EXPECT_EQ(model->progress(), 0) << duration;
    }

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

TEST_F(PlayerModelTest, PlayStopsTheAudiblePreviewAndWaitsForItToWindDown)
{
    library({"a.wav"});
    drain();
    FakePreview preview(engine->log);
    PreviewAudioFocus::shared().take(&preview);
    model->play();
    EXPECT_EQ(preview.stops, QStringList{""});
    EXPECT_EQ(PreviewAudioFocus::shared().current(), nullptr);
    ASSERT_TRUE(test::pumpUntil([&] { return preview.turns > 5; }));
    EXPECT_TRUE(engine->log.isEmpty());
    preview.windingDown = false;
    EXPECT_EQ(drain(), (Calls{"preview stopped", "play"}));
}

TEST_F(PlayerModelTest, TheSectionLoopRestartsAtItsStartAndEachBoundaryChangePausesAndIsOneUndoStep)
{
    library({"a.wav", "b.wav"});
    model->setSectionRange({0.2, 0.6}); // the loop is off
    model->toggleRepeat();
    model->toggleSectionLoop(); // clears repeat; the rendered section is loaded when ready
    EXPECT_FALSE(model->isRepeating());
    ASSERT_TRUE(test::pumpUntil([&] { return model->sectionLoop().prepared() != nullptr; }));
    EXPECT_EQ(drain().mid(1), (Calls{"section a.wav 0.7", "seek 0"}));

    model->play();
    model->setSectionRange({0.2, 0.6});
    EXPECT_FALSE(model->isPlaying());
    EXPECT_TRUE(model->sectionLoop().canUndo());
    ASSERT_TRUE(test::pumpUntil([&] { return model->playbackEnd() == 6; }));
    EXPECT_EQ(model->sectionStart(), 2);
    model->setSectionRange({0.2, 0.6}); // the same range: nothing
    drain();
    EXPECT_FALSE(engine->playing);
    model->play();
    EXPECT_EQ(model->position(), 2);
    reachEnd(); // the section starts again; the next row does not play
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    EXPECT_EQ(current(), "a.wav");
    EXPECT_EQ(drain().last(3), (Calls{"play", "seek 2", "play"}));

    model->undoSectionRange();
    EXPECT_FALSE(model->isPlaying());
    ASSERT_TRUE(test::pumpUntil([&] { return model->playbackEnd() == 10; }));
    EXPECT_FALSE(model->sectionLoop().canUndo());
    EXPECT_TRUE(model->sectionLoop().canRedo());
    drain();
    model->undoSectionRange(); // nothing left to undo: no pause
    EXPECT_EQ(drain(), Calls{});
    model->redoSectionRange();
    ASSERT_TRUE(test::pumpUntil([&] { return model->playbackEnd() == 6; }));
    EXPECT_TRUE(model->sectionLoop().canUndo());

    model->toggleRepeat(); // the loop goes, the whole track comes back with repeat on
    EXPECT_FALSE(model->sectionLoop().range());
    EXPECT_EQ(drain().last(2), (Calls{"load a.wav 0.7 repeating", "seek 2"}));
}

// Library list changes ------------------------------------------------------------------------

TEST_F(PlayerModelTest, ImportsAppendSelectAndListEveryRejectionInOneWarning)
{
    const QList<AudioTrack> rows = library({"x.wav", "y.wav"});
    model->replaceLibraryTracks({rows[1]}, {}); // leaves x.wav and nothing current
    QStringList made;
    QObject::connect(model.get(), &PlayerModel::selectedIDChanged, [&] { made.append(current()); });
    model->openFiles(); // no panels installed
    auto panels = std::make_shared<test::FakeFilePanels>();
    model->filePanels = panels;
    model->openFiles(); // cancelled
    model->importFiles({QUrl::fromLocalFile("/drop/a.wav"), QUrl::fromLocalFile("/drop/f")}, true);
    const QList<QUrl> chosen = {QUrl::fromLocalFile("/drop/d")};
    panels->opened = chosen;
    model->openFiles();
    EXPECT_EQ(panels->asked, (std::vector<QStringList>(2, {"Open Audio Files or Folders"})));
    // Several files and folders at once.
    ASSERT_TRUE(panels->lastOpen);
    EXPECT_TRUE(panels->lastOpen->canChooseFiles && panels->lastOpen->canChooseFolders &&
                panels->lastOpen->allowsMultipleSelection);
    ASSERT_TRUE(test::pumpUntil([&] { return model->imports().pendingCount() == 2; }));
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 1; }));
    EXPECT_EQ(importer->calls[0].excluding, QSet<QUrl>{QUrl::fromLocalFile("/library/x.wav")});

    // With nothing current the first library row becomes current, then the first imported track.
    importer->end(0, AudioImportResult{{track("a.wav"), track("b.wav")},
                                       {{"f", "No visible files were found in this folder."}, {"c.txt", "Not audio."}}});
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 2; }));
    EXPECT_EQ(made, (QStringList{"x.wav", "a.wav"}));
    EXPECT_EQ(names(), (QStringList{"x.wav", "a.wav", "b.wav"}));
    EXPECT_EQ(importer->calls[1].urls, chosen);
    importer->end(1, AudioImportResult{{}, {{"d", "r1"}}});
    ASSERT_TRUE(test::pumpUntil([&] { return warnings.size() == 2; }));
    EXPECT_EQ(warnings, (Warnings{{"Some files couldn’t be loaded", "2 audio files were added. The following items were rejected:",
                                   "f — No visible files were found in this folder.", "c.txt — Not audio."},
                                  {"Some files couldn’t be loaded",
                                   "0 audio files were added. The following items were rejected:", "d — r1"}}));
    EXPECT_EQ(current(), "a.wav");
}

TEST_F(PlayerModelTest, ChannelFilesStandTogetherAndWaitingRecordingsAreQueuedForRecovery)
{
    library({"a.wav", "song.L.sd2", "b.wav"});
    AudioTrack waiting = track("take.sd2");
    waiting.recovery = SD2Recovery{nullptr, SD2Metadata{2, 44100, 2, {}, {}}};
    model->append({track("song.R.sd2"), waiting});
    EXPECT_EQ(names(), (QStringList{"a.wav", "song.L.sd2", "song.R.sd2", "b.wav", "take.sd2"}));

    // Its recovery is under way at once (and fails here: there is no such file).
    std::vector<QString> failures;
    model->recoveryWarning = [&](const SD2RecoveryFailure &f) { failures.push_back(f.title); };
    model->select(waiting.id, false);
    EXPECT_TRUE(model->recoveryStatus());
    model->bpmDetection().completed(waiting, 120); // a recovery will change its audio
    EXPECT_FALSE(model->tracks().last().detectedBPM);
    ASSERT_TRUE(test::pumpUntil([&] { return failures.size() == 1; }));
    EXPECT_FALSE(model->recoveryStatus());
    model->recoveryQueue().failed(QUuid::createUuid(), SD2RecoveryFailure(std::make_exception_ptr(Cancelled()),
                                                                           *waiting.recovery->requested, {}));
    EXPECT_EQ(failures.size(), 1u);
}

TEST_F(PlayerModelTest, RemovingAndClearingStopPlaybackAndForgetTheRows)
{
    library({"a.wav", "b.wav", "c.wav", "d.wav"});
    model->exportChecks().setIds({id(2), id(0)});
    model->play(); // a track that is not removed
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
    model->librarySelection().setIds({});
    model->removeSelected(); // nothing highlighted: nothing removed
    EXPECT_EQ(names(), QStringList{"b.wav"});

    const TaskHandle job = model->importFiles({QUrl::fromLocalFile("/drop/e.wav")}, false);
    ASSERT_TRUE(test::pumpUntil([&] { return importer->calls.size() == 1; }));
    model->clearAll();
    EXPECT_EQ(model->imports().pendingCount(), 0);
    importer->end(0, AudioImportResult{{track("e.wav")}, {{"c", "r"}}}); // arrives too late
    ASSERT_TRUE(test::pumpUntil([&] { return job.isFinished(); }));
    EXPECT_TRUE(model->tracks().isEmpty());
    EXPECT_FALSE(model->selectedID());
    EXPECT_TRUE(model->exportChecks().ids().isEmpty());
    EXPECT_TRUE(warnings.empty());
    drain();
    EXPECT_FALSE(engine->loaded);
    EXPECT_FALSE(engine->playing);
}

TEST_F(PlayerModelTest, ReplacementStandsAtTheFirstLibraryPlaceOfTheOldTracksAndKeepsTheirCheck)
{
    const QList<AudioTrack> rows = library({"a.wav", "l.wav", "r.wav", "b.wav"});
    model->exportChecks().setIds({rows[2].id});
    const AudioTrack pair = track("pair.wav");
    // Handed in out of library order: the pair still takes the place of the first of them.
    model->replaceLibraryTracks({rows[2], rows[1]}, {pair});
    EXPECT_EQ(names(), (QStringList{"a.wav", "pair.wav", "b.wav"}));
    EXPECT_EQ(model->exportChecks().ids(), QSet<QUuid>{pair.id});
    EXPECT_EQ(current(), "pair.wav");

    // Unchecked old tracks leave the new ones unchecked; a last old track appends at the end.
    const AudioTrack last = track("last.wav");
    model->replaceLibraryTracks({rows[3]}, {last});
    EXPECT_EQ(names(), (QStringList{"a.wav", "pair.wav", "last.wav"}));
    EXPECT_EQ(model->exportChecks().ids(), QSet<QUuid>{pair.id});

    // A stale list (a track rewritten or gone meanwhile) changes nothing.
    AudioTrack rewritten = rows[0];
    rewritten._url = TrackedFileURL(QUrl::fromLocalFile("/library/other.wav"));
    for (const QList<AudioTrack> &stale : {QList<AudioTrack>{rewritten}, QList<AudioTrack>{rows[1]}, QList<AudioTrack>{}})
        model->replaceLibraryTracks(stale, {track("never.wav")});
    EXPECT_EQ(names().size(), 3);
}
