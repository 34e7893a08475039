#include "player/player_model.h"

#include "bpm/bpm_analysis_error.h"
#include "library/sd2_pair_audio.h"
#include "player_fakes.h"
#include "sd2/pair_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

const QString ready = "Stereo pair ready. Original files are unchanged.";

SD2Metadata shape(int sampleBytes, int rate = 44100, int channels = 2)
{
    return {sampleBytes, rate, channels, std::nullopt, std::nullopt};
}

// A copy without a folder on disk, so dropping it touches nothing.
SD2RecoveredCopyPointer copyOf(int sampleBytes, int rate = 44100, int channels = 2)
{
    return std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/copies/" + QUuid::createUuid().toString()),
                                                    rate, 441000, "x", sampleBytes, channels);
}

class PlayerModelLibrary : public ::testing::Test {
protected:
    PlayerModelLibrary()
    {
        model->warn = [this](const QString &t, const QString &m, const QStringList &d) {
            warnings.push_back(QStringList{t, m} + d);
        };
    }
    ~PlayerModelLibrary() override
    {
        // Every latched call ends, so that no queue job outlives the test.
        EXPECT_TRUE(test::pumpUntil([&] {
            analyzer->endAll(0);
            recovery->endAll(nullptr);
            return !model->pairing().isPreparing() && !model->recoveryQueue().activeID() &&
                   !model->bpmDetection().activeID();
        }));
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
    static AudioTrack recovered(const QString &name, const SD2RecoveredCopyPointer &copy)
    {
        AudioTrack t = track(name);
        t.recovery = SD2Recovery{copy, std::nullopt};
        return t;
    }
    // A linked pair of two mono channel records, without files.
    static AudioTrack pairOf(const AudioTrack &left, const AudioTrack &right)
    {
        AudioTrack pair = track("take.pair");
        pair.pair = std::make_shared<const SD2PairAudio>(left, right, copyOf(2));
        return pair;
    }
    QSet<QUuid> selection() const { return model->librarySelection().ids(); }
    QString current() const { return model->selectedTrack() ? model->selectedTrack()->projectedURL().fileName() : ""; }
    const AudioTrack &at(const QUuid &id) const
    {
        return *std::find_if(model->tracks().cbegin(), model->tracks().cend(), [&](auto &t) { return t.id == id; });
    }

    std::shared_ptr<test::FakeEngine> engine = std::make_shared<test::FakeEngine>();
    std::shared_ptr<test::LatchedRecovery> recovery = std::make_shared<test::LatchedRecovery>();
    std::shared_ptr<test::LatchedAnalyzer> analyzer = std::make_shared<test::LatchedAnalyzer>();
    std::unique_ptr<PlayerModel> model = std::make_unique<PlayerModel>(
        engine, std::make_shared<test::FakeImporter>(), recovery, std::make_shared<test::FakeSections>(), analyzer,
        [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> { co_return WaveformPeaks{}; });
    std::vector<QStringList> warnings;
};

} // namespace

TEST_F(PlayerModelLibrary, GetAnalysesTheOwningTrackUnlessItsAudioIsAboutToChange)
{
    const AudioTrack plain = track("a.wav");
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    const AudioTrack pair = pairOf(left, right);
    const AudioTrack waiting = track("w.wav");
    model->append({plain, pair, waiting});

    model->getBPM(pair.id); // the pair track has no row of its own
    model->getBPM(QUuid::createUuid());
    model->recoveryQueue().submit(waiting, 44100, false);
    model->getBPM(waiting.id);
    EXPECT_TRUE(analyzer->calls.empty());

    model->getBPM(right.id);
    model->getBPM(plain.id);
    ASSERT_TRUE(test::pumpUntil([&] { return analyzer->calls.size() == 1; }));
    EXPECT_EQ(analyzer->calls[0].track.id, pair.id);
    EXPECT_TRUE(model->bpmDetection().states().contains(plain.id));

    analyzer->end(0, 121.5);
    ASSERT_TRUE(test::pumpUntil([&] { return analyzer->calls.size() == 2; }));
    EXPECT_EQ(at(pair.id).detectedBPM, 121.5);
    analyzer->fail(1, std::make_exception_ptr(BPMAnalysisError(BPMAnalysisError::Kind::noPulse)));
    ASSERT_TRUE(test::pumpUntil([&] { return !warnings.empty(); }));
    EXPECT_EQ(warnings[0], (QStringList{"BPM couldn’t be detected",
                                        "No usable repeating beat was found. Get is available to try again."}));
}

TEST_F(PlayerModelLibrary, NoTempoIsStoredWhileARecoveryWillChangeTheAudio)
{
    const AudioTrack recovering = recovered("c.sd2", copyOf(2));
    model->append({recovering});
    model->recoveryQueue().submit(recovering, 44100, false);
    model->bpmDetection().completed(recovering, 100);
    EXPECT_FALSE(model->tracks()[0].detectedBPM);
    model->bpmDetection().failed(QUuid::createUuid(), "gone");
    EXPECT_TRUE(warnings.empty());
}

TEST_F(PlayerModelLibrary, TrialDepthsPlayQuietlyUntilA16BitCopyIsBack)
{
    const AudioTrack take = recovered("take.sd2", copyOf(2));
    model->append({take});
    EXPECT_EQ(model->volume(), 0.7);

    model->recoverSelected(shape(3));
    EXPECT_EQ(model->volume(), 0.05);
    EXPECT_TRUE(model->recoveryStatus());
    model->recoverSelected(shape(4));
    EXPECT_EQ(model->volume(), 0.05);
    ASSERT_TRUE(test::pumpUntil([&] { return recovery->calls.size() == 1; }));
    EXPECT_EQ(recovery->calls[0].track.recovery->requested, shape(4));
    recovery->end(0, copyOf(4));
    ASSERT_TRUE(test::pumpUntil([&] { return !model->recoveryStatus(); }));
    EXPECT_EQ(model->selectedRecoveryParameters(), shape(4));
    EXPECT_EQ(model->volume(), 0.05);

    model->play();
    model->recoverSelected(shape(2));
    EXPECT_FALSE(model->isPlaying());
    ASSERT_TRUE(test::pumpUntil([&] { return recovery->calls.size() == 2; }));
    EXPECT_EQ(model->volume(), 0.05);
    recovery->end(1, copyOf(2));
    ASSERT_TRUE(test::pumpUntil([&] { return model->volume() == 0.7; }));
    EXPECT_FALSE(model->isPlaying());
}

TEST_F(PlayerModelLibrary, AQuietVolumeIsKeptAndComesBack)
{
    const AudioTrack take = recovered("take.sd2", copyOf(2));
    model->append({take});
    model->setVolume(0.03);
    model->recoverSelected(shape(1));
    EXPECT_EQ(model->volume(), 0.03);
    ASSERT_TRUE(test::pumpUntil([&] { return recovery->calls.size() == 1; }));
    model->setVolume(0.01);
    recovery->end(0, copyOf(2));
    ASSERT_TRUE(test::pumpUntil([&] { return model->volume() == 0.03; }));
}

TEST_F(PlayerModelLibrary, RechoosingTheCurrentCopy)
{
    const AudioTrack take = recovered("take.sd2", copyOf(2));
    model->append({take});
    model->recoveryQueue().rememberTrialVolume(take.id, 0.4);

    // With no job running: nothing is submitted, the remembered volume comes back.
    model->recoverSelected(shape(2));
    EXPECT_FALSE(model->recoveryStatus());
    EXPECT_EQ(model->volume(), 0.4);

    // While another interpretation is being prepared: submitted again, replacing that job.
    model->recoverSelected(shape(3));
    model->recoverSelected(shape(2));
    ASSERT_TRUE(model->recoveryStatus());
    EXPECT_EQ(model->recoveryStatus()->parameters, shape(2));
}

TEST_F(PlayerModelLibrary, RecoveryRefusalsAndCancellations)
{
    const AudioTrack plain = track("a.wav");
    model->append({plain});
    model->recoverSelected(shape(3)); // no recovery record
    EXPECT_FALSE(model->recoveryStatus());
    EXPECT_EQ(model->volume(), 0.7);

    const AudioTrack take = recovered("take.sd2", copyOf(2));
    model->append({take});
    model->select(take.id, false);
    model->getBPM(take.id);
    ASSERT_TRUE(model->bpmDetection().states().contains(take.id));
    model->recoverSelected(shape(2, 48000));
    EXPECT_FALSE(model->bpmDetection().states().contains(take.id));
    ASSERT_TRUE(test::pumpUntil([&] { return recovery->calls.size() == 1; }));
    EXPECT_EQ(recovery->rates, std::vector<int>{48000});
    // The library row keeps the copy in force until the new one arrives.
    EXPECT_EQ(at(take.id).recovery->copy->sampleRate(), 44100);
    EXPECT_EQ(model->selectedRecoveryParameters(), shape(2, 48000));

    model->librarySelection().setIds({take.id});
    model->removeSelected();
    EXPECT_TRUE(model->recoveryQueue().states().isEmpty());
}

TEST_F(PlayerModelLibrary, LinkingAndUnlinkingAPair)
{
    test::TempDir dir;
    const AudioTrack left = test::sd2Channel(dir, "take.L", 1000);
    const AudioTrack right = test::sd2Channel(dir, "take.R", 1000, 16, 44100, 2);
    const AudioTrack other = track("other.wav");
    model->append({right, left, other});
    model->librarySelection().setIds({left.id, right.id});
    EXPECT_TRUE(model->canLinkSelected());

    model->recoveryQueue().submit(recovered("x", copyOf(2)), 44100, false); // another track's job
    model->recoveryQueue().submit(left, 44100, false);
    model->pairSD2(left, right);
    EXPECT_FALSE(model->pairing().isPreparing());
    model->recoveryQueue().cancel(left.id, true);

    model->pairSD2(left, right);
    ASSERT_TRUE(test::pumpUntil([&] { return !model->pairing().isPreparing(); }));
    EXPECT_EQ(model->pairing().message(), ready);
    ASSERT_EQ(model->tracks().size(), 2);
    const AudioTrack pair = model->tracks()[0];
    ASSERT_TRUE(pair.pair);

    const QList<LinkedLibraryEntry> rows = model->libraryEntries();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].track->id, left.id);
    EXPECT_EQ(rows[0].ownerID, pair.id);
    EXPECT_EQ(rows[0].channel, "L");
    EXPECT_EQ(rows[1].track->id, right.id);
    EXPECT_EQ(rows[1].channel, "R");
    EXPECT_EQ(rows[2].ownerID, other.id);
    EXPECT_EQ(rows[2].channel, std::nullopt);
    EXPECT_EQ(model->libraryOwner(right.id), pair.id);
    EXPECT_EQ(model->libraryOwner(pair.id), std::nullopt);
    EXPECT_EQ(model->libraryOwner(other.id), other.id);
    // One track's rows, looked up, are its rows in the whole list.
    const QList<LinkedLibraryEntry> pairRows = model->libraryEntriesOf(pair.id);
    ASSERT_EQ(pairRows.size(), 2);
    for (qsizetype i = 0; i < 2; ++i) {
        EXPECT_EQ(pairRows[i].track, rows[i].track);
        EXPECT_EQ(pairRows[i].owner, &model->tracks()[0]);
        EXPECT_EQ(pairRows[i].channel, rows[i].channel);
    }
    EXPECT_EQ(model->visibleLibraryIDs({pair.id, other.id}), QSet<QUuid>({left.id, right.id, other.id}));
    model->selectVisibleLibraryRows({right.id});
    EXPECT_EQ(model->librarySelection().ids(), QSet<QUuid>{pair.id});

    model->select(other.id, false);
    model->unpairSelected(); // not a pair
    EXPECT_EQ(model->tracks().size(), 2);
    model->select(pair.id, false);
    model->unpairSelected();
    ASSERT_EQ(model->tracks().size(), 3);
    EXPECT_EQ(model->tracks()[0].id, left.id);
    EXPECT_EQ(model->tracks()[1].id, right.id);
    EXPECT_EQ(model->pairing().message(), "");
    // The lookups follow the library: the channels are tracks of their own again.
    EXPECT_EQ(model->libraryOwner(left.id), left.id);
    EXPECT_TRUE(model->libraryEntriesOf(pair.id).isEmpty());
    EXPECT_EQ(model->visibleLibraryIDs({pair.id, right.id}), QSet<QUuid>{right.id});
    ASSERT_EQ(model->libraryEntriesOf(right.id).size(), 1);
    EXPECT_EQ(model->libraryEntriesOf(right.id)[0].track, &model->tracks()[1]);
}

TEST_F(PlayerModelLibrary, WhatCannotBeLinked)
{
    const auto channel = [](const QString &name) { return test::channelRecord("/library/" + name); };
    AudioTrack stereo = channel("take.L");
    stereo.sd2Format->channels = 2;
    AudioTrack waiting = channel("take.L");
    waiting.recovery = SD2Recovery{nullptr, shape(2, 44100, 1)};
    AudioTrack wav = channel("take.L");
    wav.sd2Format.reset(); // and not named .sd2
    const struct {
        const char *what;
        AudioTrack left;
        bool queued;
        bool linkable;
    } cases[] = {
        {"two mono channel files", channel("take.L"), false, true},
        {"a stereo file", stereo, false, false},
        {"a file waiting for recovery", waiting, false, false},
        {"a file in the recovery queue", channel("take.L"), true, false},
        {"a file that is not SD2", wav, false, false},
    };
    for (const auto &c : cases) {
        model->clearAll();
        const AudioTrack right = channel("take.R");
        model->append({c.left, right});
        if (c.queued)
            model->recoveryQueue().submit(c.left, 44100, false);
        model->librarySelection().setIds({c.left.id, right.id});
        EXPECT_EQ(model->canLinkSelected(), c.linkable) << c.what;
    }

    model->clearAll();
    const AudioTrack left = channel("take.L"), right = channel("take.R"), third = channel("b.L");
    model->append({left, right, third});
    model->librarySelection().setIds({left.id, right.id, third.id});
    EXPECT_FALSE(model->canLinkSelected()) << "three selected";
    model->librarySelection().setIds({left.id, right.id});
    model->pairSD2(left, right); // the files do not exist: the preparation fails later
    EXPECT_FALSE(model->canLinkSelected()) << "a pair in preparation";
    model->getBPM(third.id);
    EXPECT_TRUE(model->bpmDetection().states().isEmpty()) << "Get while a pair is prepared";
}

TEST_F(PlayerModelLibrary, ChannelRowsStandForTheirPair)
{
    const AudioTrack plain = track("a.wav");
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
    const AudioTrack a = track("a.wav"), b = track("b.wav"), c = track("c.wav");
    AudioTrack waiting = track("w.sd2");
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

TEST_F(PlayerModelLibrary, LibraryExportSessionPausesAndRefusesWhileATrackIsRecovered)
{
    const AudioTrack a = track("a.wav"), b = track("b.wav");
    model->append({a, b});
    model->select(a.id, false);
    const auto pausedLast = [&] { return !engine->log.isEmpty() && engine->log.last() == "pause"; };

    // Nothing selected for export: none, but playback still pauses.
    model->play();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    EXPECT_EQ(model->libraryExportSession({}), nullptr);
    EXPECT_FALSE(model->isPlaying());
    ASSERT_TRUE(test::pumpUntil(pausedLast));
    EXPECT_TRUE(warnings.empty());

    model->exportChecks().setIds({a.id, b.id});
    model->recoveryQueue().submit(b, 44100, false);
    EXPECT_EQ(model->libraryExportSession({}), nullptr);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], (QStringList{"SD2 Recovery In Progress",
                                        "Wait for the export files to finish recovery, or cancel recovery before "
                                        "exporting the previous interpretation."}));

    model->recoveryQueue().cancelAll();
    ExportDefaults defaults;
    defaults.format = ExportFormat::flac;
    const auto session = model->libraryExportSession(defaults);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->title(), "Export 2 Files");
    EXPECT_EQ(session->draft(), defaults);
    EXPECT_EQ(session->items()[1].id, b.id);
}

TEST_F(PlayerModelLibrary, RowSelectionKeepsThePlayingTrackWhenItHoldsIt)
{
    const AudioTrack a = track("a.wav"), b = track("b.wav"), c = track("c.wav");
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

TEST_F(PlayerModelLibrary, ADepthIsTriedOnlyOnceConfirmedWithPlaybackPaused)
{
    const AudioTrack take = recovered("take.sd2", copyOf(2));
    const AudioTrack other = track("other.wav");
    model->append({take, other});
    bool answer = false;
    QStringList asked; // the depth and what the engine had done last when asked
    model->confirmRecoveryDepth = [&](int depth) {
        EXPECT_TRUE(model->isConfirmingRecoveryDepth());
        asked.append(QString::number(depth) + " " + engine->log.last());
        return answer;
    };
    const auto settle = [&](const TaskHandle &task) {
        EXPECT_TRUE(test::pumpUntil([&] { return task.isFinished(); }));
        EXPECT_FALSE(model->isConfirmingRecoveryDepth());
    };

    EXPECT_TRUE(model->recoverSelected(16).isEmpty()) << "already 16-bit";
    EXPECT_TRUE(model->recoverSelected(32).isEmpty()) << "not offered";
    model->play();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    TaskHandle task = model->recoverSelected(24);
    EXPECT_TRUE(model->isConfirmingRecoveryDepth());
    EXPECT_FALSE(model->isPlaying());
    EXPECT_TRUE(model->recoverSelected(24).isEmpty()) << "a question is open";
    settle(task);
    EXPECT_EQ(asked, QStringList{"24 pause"});
    EXPECT_FALSE(model->recoveryStatus()) << "declined";
    EXPECT_EQ(model->volume(), 0.7);

    // Another track chosen before the question: it is never asked.
    task = model->recoverSelected(24);
    model->select(other.id, false);
    settle(task);
    EXPECT_EQ(asked.size(), 1);
    model->select(take.id, false);

    answer = true;
    settle(model->recoverSelected(24));
    ASSERT_TRUE(model->recoveryStatus());
    EXPECT_EQ(model->recoveryStatus()->parameters, shape(3));
    EXPECT_EQ(model->volume(), 0.05) << "the trial volume";
}

TEST_F(PlayerModelLibrary, PausingForAnExportWaitsForTheEngine)
{
    model->append({track("a.wav")});
    model->setVolume(0.4);
    model->play();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
    const PlayerModel::MainPlaybackPause pause = model->mainPlaybackPause();
    std::optional<double> volume;
    bool engineWasPlaying = true;
    TaskHandle::start([&](CancellationToken) -> QCoro::Task<> {
        volume = co_await pause();
        engineWasPlaying = engine->playing;
    });
    EXPECT_FALSE(model->isPlaying());
    ASSERT_TRUE(test::pumpUntil([&] { return volume.has_value(); }));
    EXPECT_EQ(*volume, 0.4);
    EXPECT_FALSE(engineWasPlaying);

    // A session outliving its model.
    auto gone = std::make_unique<PlayerModel>(std::make_shared<test::FakeEngine>(), std::make_shared<test::FakeImporter>(),
                                              recovery, std::make_shared<test::FakeSections>(), analyzer);
    const PlayerModel::MainPlaybackPause orphan = gone->mainPlaybackPause();
    gone.reset();
    volume.reset();
    TaskHandle::start([&](CancellationToken) -> QCoro::Task<> { volume = co_await orphan(); });
    ASSERT_TRUE(test::pumpUntil([&] { return volume.has_value(); }));
    EXPECT_EQ(*volume, 0);
}

// Restoring file access ----------------------------------------------------------------------

class RestoringAccess : public PlayerModelLibrary {
protected:
    RestoringAccess()
    {
        QDir(dir.path()).mkpath("before");
        QDir(dir.path()).mkpath("after");
        test::writeFile(dir.file("before/take.wav"), "RIFF");
        take._url = TrackedFileURL(QUrl::fromLocalFile(dir.file("before/take.wav")));
        model->filePanels = panels;
        model->append({take, track("other.wav")});
        model->play();
        EXPECT_TRUE(test::pumpUntil([&] { return engine->playing; }));
        // Moved to another folder: no longer followed.
        EXPECT_TRUE(QFile::rename(dir.file("before/take.wav"), dir.file("after/take.wav")));
        EXPECT_EQ(take.url().scheme(), "tampod-unavailable");
    }
    // Lets every command queued so far run.
    void settle()
    {
        const qsizetype before = engine->log.size();
        model->setVolume(model->volume());
        EXPECT_TRUE(test::pumpUntil([&] { return engine->log.size() > before && engine->log.last().startsWith("volume"); }));
    }

    test::TempDir dir;
    AudioTrack take = track("take.wav");
    std::shared_ptr<test::FakeFilePanels> panels = std::make_shared<test::FakeFilePanels>();
};

TEST_F(RestoringAccess, TheMovedFileIsReloadedPausedAndPlays)
{
    panels->restored = QUrl::fromLocalFile(dir.file("after/take.wav"));
    model->restoreSelectedFileAccess();
    EXPECT_FALSE(model->isPlaying());
    ASSERT_EQ(panels->asked.size(), 1);
    EXPECT_EQ(panels->asked[0], (QStringList{"Restore File Access",
                                             "Select the original file loaded as take.wav. Its name or folder may "
                                             "have changed. Copies and replacements will not be substituted.",
                                             "Restore Access"}));
    ASSERT_TRUE(test::pumpUntil([&] { return engine->log.endsWith("seek 0") && !engine->playing; }));
    EXPECT_EQ(engine->log.mid(engine->log.lastIndexOf("pause")), (QStringList{"pause", "load take.wav 0.7", "seek 0"}));
    EXPECT_EQ(take.url(), QUrl::fromLocalFile(dir.file("after/take.wav")));
    EXPECT_TRUE(warnings.empty());

    model->play();
    ASSERT_TRUE(test::pumpUntil([&] { return engine->playing; }));
}

TEST_F(RestoringAccess, ACancelledPanelOrADifferentFileOnlyPauses)
{
    const QList<AudioTrack> tracks = model->tracks();
    model->restoreSelectedFileAccess();
    test::writeFile(dir.file("after/copy.wav"), "RIFF");
    model->play();
    panels->restored = QUrl::fromLocalFile(dir.file("after/copy.wav"));
    model->restoreSelectedFileAccess();
    ASSERT_TRUE(test::pumpUntil([&] { return !warnings.empty(); }));
    EXPECT_EQ(warnings, (std::vector<QStringList>{{"File access was not restored",
                                                   "That is not the original loaded file. Select the same file at its "
                                                   "new location. A copy or replacement must be opened as a new library "
                                                   "entry; your current audio and settings are unchanged."}}));
    settle();
    EXPECT_EQ(engine->log.mid(engine->log.indexOf("play")), (QStringList{"play", "pause", "play", "pause", "volume 0.7"}));
    EXPECT_FALSE(model->isPlaying());
    EXPECT_EQ(model->selectedID(), take.id);
    EXPECT_EQ(model->tracks().size(), tracks.size());
    EXPECT_EQ(take.url().scheme(), "tampod-unavailable");

    // A linked pair: no panel.
    const AudioTrack pair = pairOf(test::channelRecord("/library/take.L"), test::channelRecord("/library/take.R"));
    model->append({pair});
    model->select(pair.id, false);
    model->restoreSelectedFileAccess();
    EXPECT_EQ(panels->asked.size(), 2);
}
