// The single-file export session: its panels, its one run, its result, cancellation and
// failure lines, the values the sheet derives, and a real export through it.
#include "../export_fixtures.h"
#include "held_preview.h"

#include "export/session/export_session.h"
#include "files/access/missing_audio_source.h"

#include "support/test_support.h"

#include <QLocale>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tampod;
using namespace tampod::test;

namespace {

const QString savePrompt = QStringLiteral("Choose a new filename. Existing files and your source audio will not be replaced.");
const QString cancelledLine = QStringLiteral("Export cancelled. No destination file was created.");

class FakePanels final : public FilePanels {
public:
    struct Call {
        QString kind;
        FilePanelText text;
        SavePanelOptions save;
        Chosen completion;
        OpenPanelOptions open = {};
        AudiblePreview *audible = nullptr; // what held the audible focus as the panel opened
    };
    void open(const OpenPanelOptions &options, Chosen completion) override { record({"open", options.text, {}, completion}); }
    void save(const SavePanelOptions &options, Chosen completion) override { record({"save", options.text, options, completion}); }
    void chooseFolder(const OpenPanelOptions &options, Chosen completion) override
    {
        record({"folder", options.text, {}, completion, options});
    }
    void restore(const FilePanelText &text, Chosen completion) override { record({"restore", text, {}, completion}); }
    void showItems(const QList<QUrl> &urls) override { shown << urls; }
    void openFolder(const QUrl &) override {}

    QList<Call> calls;
    QList<QList<QUrl>> shown;

private:
    void record(Call call)
    {
        call.audible = PreviewAudioFocus::shared().current();
        calls << call;
    }
};

// Runs the given work on a worker of its own, as the real exporter does.
class FakeExporter final : public AudioExportServing {
public:
    using Work = std::function<AudioExportResult(const AudioExportRequest &, const ExportProgress &, const CancellationToken &)>;
    explicit FakeExporter(Work work) : work_(std::move(work)) {}
    Async<AudioExportResult> exportAudio(AudioExportRequest request, ExportProgress progress, CancellationToken token) override
    {
        requests << request;
        return executor_.submit([this, request, progress, token] { return work_(request, progress, token); });
    }
    QList<AudioExportRequest> requests; // main thread

private:
    Work work_;
    SerialExecutor executor_{QStringLiteral("fake exporter")};
};

AudioExportResult resultAt(const QUrl &destination)
{
    return {destination, 96000, 2, 48000, {}};
}

// Waits, checking the token, until release is set; then ends as cancelled or with the result.
FakeExporter::Work blockingWork(std::shared_ptr<std::atomic<bool>> started, std::shared_ptr<std::atomic<bool>> release,
                                std::shared_ptr<ExportProgress> keptProgress)
{
    return [=](const AudioExportRequest &request, const ExportProgress &progress, const CancellationToken &token) {
        if (keptProgress)
            *keptProgress = progress;
        *started = true;
        while (!*release) {
            token.throwIfCancelled();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return resultAt(request.destination);
    };
}

struct SessionScene : ExportScene {
    SessionScene()
    {
        previous = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        source = file("Take 3.wav");
        writeAudio(source, 2, 44100, tone(44100, 2));
        track = trackOf(source);
        track.duration = 1.0;
    }
    ~SessionScene() { QLocale::setDefault(previous); }

    // A session let go only once its source check has ended, so no suspended task outlives the test.
    struct SettledDelete {
        void operator()(ExportSession *session) const
        {
            EXPECT_TRUE(pumpUntil([&] { return !session->previewEligibility().isChecking(); }));
            delete session;
        }
    };
    using Session = std::unique_ptr<ExportSession, SettledDelete>;

    Session session(std::shared_ptr<AudioExportServing> exporter, std::shared_ptr<const PreparedSection> loop = nullptr,
                    const ExportDefaults &defaults = {})
    {
        return Session(new ExportSession(track, defaults, std::move(loop), std::move(exporter), nullptr, nullptr, panels,
                                         [this](const QString &text) { warnings << text; }));
    }
    std::shared_ptr<const PreparedSection> loopOf(std::int64_t start, std::int64_t end) const
    {
        return std::make_shared<const PreparedSection>(track, track.audioURL(), start, end, 44100, 44100.0, std::nullopt);
    }
    // Confirms the last panel with the file name, as a user would.
    void confirm(const QString &name) { panels->calls.last().completion({QUrl::fromLocalFile(file(name))}); }

    QLocale previous;
    QString source;
    AudioTrack track;
    std::shared_ptr<FakePanels> panels = std::make_shared<FakePanels>();
    QStringList warnings;
};

} // namespace

TEST(ExportSession, PanelsProposeNamesAndOneRunEndsInTheResultLine)
{
    SessionScene scene;
    // Held until the test has seen the run start: a quick export may otherwise finish
    // before the session's task first suspends.
    std::atomic<bool> release{false};
    auto exporter = std::make_shared<FakeExporter>(
        [&release](const AudioExportRequest &request, const ExportProgress &, const CancellationToken &) {
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return resultAt(request.destination);
        });
    auto session = scene.session(exporter);
    EXPECT_FALSE(session->exportsLoop());
    EXPECT_EQ(session->pairBaseName(), "Take 3-export");

    session->chooseDestination();
    ASSERT_EQ(scene.panels->calls.size(), 1);
    const auto &save = scene.panels->calls.last();
    EXPECT_EQ(save.kind, "save");
    EXPECT_EQ(save.text.title, "Export Entire Audio File");
    EXPECT_EQ(save.text.prompt, "Export");
    EXPECT_EQ(save.text.message, savePrompt);
    EXPECT_EQ(save.save.proposedName, "Take 3-export.wav");
    EXPECT_EQ(save.save.fileExtension, "wav");
    EXPECT_TRUE(session->isChoosingDestination());
    EXPECT_EQ(session->previewUnavailableReason(), "Preview is unavailable while choosing a destination or exporting.");
    session->chooseDestination(); // busy: no second panel
    EXPECT_EQ(scene.panels->calls.size(), 1);

    // Closing the panel without a choice changes nothing else.
    session->setMessage("before");
    scene.panels->calls.last().completion({});
    EXPECT_FALSE(session->isBusy());
    EXPECT_EQ(session->message(), "before");
    EXPECT_TRUE(exporter->requests.isEmpty());

    session->chooseDestination();
    scene.confirm("name.wav");
    EXPECT_TRUE(session->isExporting());
    EXPECT_EQ(session->message(), "");
    release = true;
    ASSERT_TRUE(pumpUntil([&] { return !session->isExporting(); }));
    EXPECT_EQ(session->message(), "Exported name.wav — 2.000 seconds each");
    EXPECT_EQ(session->progress(), 1);
    EXPECT_EQ(session->outputDuration(), 2.0);
    EXPECT_EQ(session->previewUnavailableReason(), "Export complete. Close this window to start another comparison.");
    EXPECT_TRUE(scene.warnings.isEmpty());
    ASSERT_EQ(exporter->requests.size(), 1);
    EXPECT_EQ(exporter->requests[0].destination.toLocalFile(), scene.file("name.wav"));
    EXPECT_FALSE(exporter->requests[0].loop);

    // Exported: no further panel; the files are shown on request.
    session->chooseDestination();
    EXPECT_EQ(scene.panels->calls.size(), 2);
    session->showInFolder();
    EXPECT_EQ(scene.panels->shown, (QList<QList<QUrl>>{{QUrl::fromLocalFile(scene.file("name.wav"))}}));

    // A mono pair's result names both files.
    session->setResult(std::nullopt);
    auto pairExporter = std::make_shared<FakeExporter>(
        [&](const AudioExportRequest &, const ExportProgress &, const CancellationToken &) {
            return AudioExportResult{QUrl::fromLocalFile(scene.file("k.L.wav")), 96000, 1, 48000,
                                     {QUrl::fromLocalFile(scene.file("k.R.wav"))}};
        });
    auto pairSession = scene.session(pairExporter);
    pairSession->chooseDestination();
    scene.confirm("k.wav");
    ASSERT_TRUE(pumpUntil([&] { return pairSession->result().has_value(); }));
    EXPECT_EQ(pairSession->message(), "Exported k.L.wav, k.R.wav — 2.000 seconds each");
    pairSession->showInFolder();
    EXPECT_EQ(scene.panels->shown.last(),
              (QList<QUrl>{QUrl::fromLocalFile(scene.file("k.L.wav")), QUrl::fromLocalFile(scene.file("k.R.wav"))}));

    // The loop: its own title and name, and the loop goes with the request.
    auto looped = scene.session(exporter, scene.loopOf(0, 22050));
    EXPECT_TRUE(looped->exportsLoop());
    looped->setRepeatText("16");
    looped->chooseDestination();
    EXPECT_EQ(scene.panels->calls.last().text.title, "Save Loop");
    EXPECT_EQ(scene.panels->calls.last().save.proposedName, "Take 3-loop-x16.wav");
    scene.confirm("loop.wav");
    ASSERT_TRUE(pumpUntil([&] { return looped->result().has_value(); }));
    ASSERT_TRUE(exporter->requests.last().loop);
    EXPECT_EQ(exporter->requests.last().loop->repeatCount, 16);
}

TEST(ExportSession, SeparateMonoPairAsksForAFolderAndExportsBothFilesThere)
{
    SessionScene scene;
    makeFolder(scene.file("takes"));
    makeFolder(scene.file("out"));
    const AudioTrack pair = linkedPair(scene.store(), scene.file("takes"));
    ExportSession session(pair, settingsFor(ExportFormat::sd2), nullptr,
                          std::make_shared<AudioFileExporter>(scene.environment), nullptr, nullptr, scene.panels, {});
    session.setPairOutput(SD2PairOutput::separateMono);
    ASSERT_EQ(session.issues(), QStringList{});

    session.chooseDestination();
    ASSERT_EQ(scene.panels->calls.size(), 1);
    const auto &folder = scene.panels->calls.last();
    EXPECT_EQ(folder.kind, "folder");
    EXPECT_EQ(folder.text.title, "Export Left and Right Mono Files");
    EXPECT_EQ(folder.text.prompt, "Export Here");
    EXPECT_EQ(folder.text.message, "Save take-export.L.sd2 and take-export.R.sd2. Existing files are never replaced.");
    EXPECT_FALSE(folder.open.canChooseFiles);
    EXPECT_TRUE(folder.open.canChooseFolders);
    EXPECT_TRUE(folder.open.canCreateFolders);
    EXPECT_FALSE(folder.open.allowsMultipleSelection);
    EXPECT_TRUE(session.isChoosingDestination());

    folder.completion({QUrl::fromLocalFile(scene.file("out"))});
    ASSERT_TRUE(pumpUntil([&] { return !session.isExporting(); }));
    ASSERT_TRUE(session.result().has_value()) << session.message().toStdString();
    EXPECT_TRUE(session.message().startsWith("Exported take-export.L.sd2, take-export.R.sd2 — "))
        << session.message().toStdString();
    EXPECT_EQ(entriesOf(scene.file("out")), (QStringList{"take-export.L.sd2", "take-export.R.sd2"}));
    EXPECT_EQ(session.result()->frames, linkedPairFrames);
}

TEST(ExportSession, RefusalsCancellationLateProgressAndFailures)
{
    SessionScene scene;
    // Waiting for SD2 recovery: no panel, no task.
    AudioTrack pending = scene.track;
    pending.recovery = SD2Recovery{};
    auto counting = std::make_shared<FakeExporter>(
        [](const AudioExportRequest &request, const ExportProgress &, const CancellationToken &) { return resultAt(request.destination); });
    ExportSession refused(pending, {}, nullptr, counting, nullptr, nullptr, scene.panels, {});
    EXPECT_TRUE(refused.issues().contains("Choose SD2 recovery parameters before exporting."));
    EXPECT_EQ(refused.previewUnavailableReason(), "Choose valid export settings and a playable source to preview.");
    refused.chooseDestination();
    EXPECT_TRUE(scene.panels->calls.isEmpty());
    EXPECT_TRUE(counting->requests.isEmpty());

    // Cancelling twice cancels once, and ends with its line and no alert.
    auto started = std::make_shared<std::atomic<bool>>(false);
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto firstProgress = std::make_shared<ExportProgress>();
    auto session = scene.session(std::make_shared<FakeExporter>(blockingWork(started, release, firstProgress)));
    int cancellingChanges = 0;
    QObject::connect(session.get(), &ExportSession::isCancellingChanged, [&] { ++cancellingChanges; });
    session->chooseDestination();
    scene.confirm("a.wav");
    ASSERT_TRUE(pumpUntil([&] { return started->load(); }));
    session->cancel();
    session->cancel();
    EXPECT_TRUE(session->isCancelling());
    ASSERT_TRUE(pumpUntil([&] { return !session->isExporting(); }));
    EXPECT_EQ(session->message(), cancelledLine);
    EXPECT_FALSE(session->isBusy());
    EXPECT_FALSE(session->isCancelling());
    EXPECT_EQ(cancellingChanges, 2); // set once, cleared once
    EXPECT_TRUE(scene.warnings.isEmpty());
    EXPECT_FALSE(session->result());

    // A report of the cancelled run arriving during the next one is dropped.
    const ExportProgress stale = *firstProgress;
    *started = false;
    session->chooseDestination();
    scene.confirm("b.wav");
    ASSERT_TRUE(pumpUntil([&] { return started->load(); }));
    QList<double> seen;
    QObject::connect(session.get(), &ExportSession::progressChanged, [&] { seen << session->progress(); });
    stale(0.77);
    (*firstProgress)(0.3);
    ASSERT_TRUE(pumpUntil([&] { return session->progress() == 0.3; }));
    EXPECT_EQ(seen, QList<double>{0.3});
    *release = true;
    ASSERT_TRUE(pumpUntil([&] { return session->result().has_value(); }));
    EXPECT_EQ(session->progress(), 1);

    // Each failure once in the line and once as an alert, its text chosen in order: the
    // missing source, then the export's own text, then the storage text.
    const QString storage = AudioExportError(AudioExportError::Case::storage).message();
    const QString exists = AudioExportError(AudioExportError::Case::destinationExists).message();
    const QString missing = *MissingAudioSource::message(std::make_exception_ptr(MissingAudioSource("x.wav")));
    const std::pair<std::exception_ptr, QString> failures[] = {
        {std::make_exception_ptr(MissingAudioSource("x.wav")), missing},
        {std::make_exception_ptr(AudioExportError(AudioExportError::Case::destinationExists)), exists},
        {std::make_exception_ptr(std::runtime_error("disk")), storage},
        {std::make_exception_ptr(SystemError(ENOSPC, "write")), storage},
    };
    for (const auto &[error, text] : failures) {
        scene.warnings.clear();
        auto failing = scene.session(std::make_shared<FakeExporter>(
            [error](const AudioExportRequest &, const ExportProgress &, const CancellationToken &) -> AudioExportResult {
                std::rethrow_exception(error);
            }));
        failing->chooseDestination();
        scene.confirm("f.wav");
        ASSERT_TRUE(pumpUntil([&] { return !failing->isExporting(); }));
        EXPECT_EQ(failing->message(), text);
        EXPECT_EQ(scene.warnings, QStringList{text});
        EXPECT_FALSE(failing->isBusy());
    }
}

TEST(ExportSession, DerivedValues)
{
    SessionScene scene;
    auto session = scene.session(nullptr, scene.loopOf(0, 33075)); // 0.75 s
    const QString countSentence = "Enter a repeat count from 1 to 999.";
    const std::pair<QString, std::int64_t> counts[] = {
        {" 12 ", 12}, {"+3", 3}, {"\n7\t", 7}, {"3.0", 0}, {"", 0}, {"x1", 0}, {"-2", -2}, {"99999999999999999999", 0},
    };
    for (const auto &[text, count] : counts) {
        session->setRepeatText(text);
        ASSERT_TRUE(session->loopOptions()) << text.toStdString();
        EXPECT_EQ(session->loopOptions()->repeatCount, count) << text.toStdString();
        EXPECT_EQ(session->issues().count(countSentence), count >= 1 && count <= 999 ? 0 : 1) << text.toStdString();
    }
    session->setRepeatText("4");
    EXPECT_EQ(session->outputDuration(), 0.75 * 4);
    EXPECT_EQ(session->outputSummary(), "One audio file containing the selected loop played 4 times.");
    session->setRepeatText("1");
    EXPECT_EQ(session->outputSummary(), "One audio file containing the selected loop played 1 time.");
    session->setRepeatText("0");
    EXPECT_EQ(session->outputDuration(), std::nullopt);
    EXPECT_EQ(session->outputSummary(), "Enter a valid repeat count to calculate the exported length.");
    session->setExportsLoop(false);
    EXPECT_EQ(session->outputDuration(), 1.0);
    EXPECT_EQ(session->outputSummary(), "One audio file containing the entire recording.");
    auto noLoop = scene.session(nullptr);
    noLoop->setExportsLoop(true);
    EXPECT_TRUE(noLoop->issues().contains("Select a loop before exporting it."));

    // Base names of the two mono files.
    for (const QString name : {".", "..", "a/b", "a:b", "a\tb", "   ", "", "a\u200bb"})
        EXPECT_FALSE(ExportSession::isValidPairName(name)) << name.toStdString();
    for (const QString name : {" spaced ", "...", "Kick-export", "ä b"})
        EXPECT_TRUE(ExportSession::isValidPairName(name)) << name.toStdString();

    // A format change silences the sheet's audition; a base-name edit does not.
    AudioTrack other = scene.track;
    other.id = QUuid::createUuid();
    ExportPreviewRequest refused;
    refused.track = scene.track;
    refused.loop = LoopExportOptions{std::make_shared<const PreparedSection>(other, other.audioURL(), 0, 10, 44100, 44100.0, std::nullopt), 1};
    session->preview().start(refused, nullptr);
    const QString shown = session->preview().message();
    ASSERT_FALSE(shown.isEmpty());
    session->setPairBaseName("another");
    EXPECT_EQ(session->preview().message(), shown);
    ExportDefaults flac = session->draft();
    flac.format = ExportFormat::flac;
    session->setDraft(flac);
    EXPECT_EQ(session->preview().message(), "");

    // Why auditioning is unavailable, first reason first.
    session->setExportsLoop(true);
    session->setRepeatText("0");
    EXPECT_EQ(session->previewUnavailableReason(), "Choose valid export settings and a playable source to preview.");
    session->setResult(AudioExportResult{QUrl::fromLocalFile(scene.file("r.wav")), 48000, 2, 48000, {}});
    EXPECT_EQ(session->previewUnavailableReason(), "Export complete. Close this window to start another comparison.");
    EXPECT_EQ(session->outputDuration(), 1.0);
    session->setResult(std::nullopt);
    session->setRepeatText("2");
    ASSERT_TRUE(pumpUntil([&] { return !session->previewEligibility().isChecking(); }));
    EXPECT_EQ(session->previewUnavailableReason(), session->previewEligibility().unavailableReason(session->draft()));
}

TEST(ExportSession, RealExportsLandAndAnExistingFileIsLeftAlone)
{
    SessionScene scene;
    auto exporter = std::make_shared<AudioFileExporter>(scene.environment);
    ExportDefaults wav48 = settingsFor(ExportFormat::wav, 16, 48000);
    auto wav = scene.session(exporter, nullptr, wav48);
    wav->chooseDestination();
    scene.confirm("out.wav");
    ASSERT_TRUE(pumpUntil([&] { return !wav->isExporting(); }));
    EXPECT_EQ(wav->message(), "Exported out.wav — 1.000 seconds each");
    EXPECT_EQ(ffprobeStream(scene.file("out.wav")).trimmed(), "pcm_s16le,48000,2,48000");

    auto flac = scene.session(exporter, nullptr, settingsFor(ExportFormat::flac));
    flac->chooseDestination();
    EXPECT_EQ(scene.panels->calls.last().save.fileExtension, "flac");
    scene.confirm("out.flac");
    ASSERT_TRUE(pumpUntil([&] { return !flac->isExporting(); }));
    EXPECT_TRUE(flac->result().has_value()) << flac->message().toStdString();
    EXPECT_TRUE(ffprobeStream(scene.file("out.flac")).startsWith("flac,44100,2,"));

    writeFile(scene.file("taken.wav"), "an older file");
    auto taken = scene.session(exporter, nullptr, wav48);
    taken->chooseDestination();
    scene.confirm("taken.wav");
    ASSERT_TRUE(pumpUntil([&] { return !taken->isExporting(); }));
    const QString text = "A file already exists at that destination. Choose a new filename. This version does not "
                         "replace existing files.";
    EXPECT_EQ(taken->message(), text);
    EXPECT_EQ(scene.warnings, QStringList{text});
    EXPECT_EQ(readAll(scene.file("taken.wav")), "an older file");
}

TEST(ExportSession, TheWrittenFileCarriesItsFormatsExtension)
{
    // Only the fixed list of audio extensions is replaced: words the system files under audio
    // types (module, playlist) stay part of the name.
    const std::pair<QString, QString> names[] = {
        {"typed-name.flac", "typed-name.wav"}, {"take.AIF", "take.wav"},       {"take.v2", "take.v2.wav"},
        {"take", "take.wav"},                  {"Take.WAV", "Take.WAV"},       {"take.L", "take.L.wav"},
        {"Take.caf", "Take.wav"},              {"Vocals.it", "Vocals.it.wav"}, {"Bass.mod", "Bass.mod.wav"},
        {"Intro.pls", "Intro.pls.wav"},        {"Drums.", "Drums.wav"},        {"Take.m4a", "Take.wav"},
    };
    for (const auto &[typed, written] : names)
        EXPECT_EQ(ExportSession::nameWithExtension(typed, "wav"), written) << typed.toStdString();
    // Every extension that always names audio gives way to the format's, in any case.
    for (const char *audio : {"wav", "wave", "aif", "aiff", "aifc", "mp3", "m4a", "aac", "flac", "caf", "sd2", "au",
                              "snd", "bwf", "ac3", "ape", "ogg", "wma", "rex", "rx2", "rcy"}) {
        for (const QString &typed : {QStringLiteral("take.%1").arg(audio), QStringLiteral("take.%1").arg(audio).toUpper()}) {
            EXPECT_EQ(ExportSession::nameWithExtension(typed, "wav").toLower(), QStringLiteral("take.wav")) << typed.toStdString();
            EXPECT_EQ(ExportSession::nameWithExtension(typed, "aiff").toLower(), QStringLiteral("take.aiff")) << typed.toStdString();
        }
    }

    SessionScene scene;
    auto exporter = std::make_shared<AudioFileExporter>(scene.environment);
    const ExportDefaults wav = settingsFor(ExportFormat::wav);
    auto typed = scene.session(exporter, nullptr, wav);
    typed->chooseDestination();
    scene.confirm("typed-name.flac");
    ASSERT_TRUE(pumpUntil([&] { return !typed->isExporting(); }));
    EXPECT_EQ(typed->message(), "Exported typed-name.wav — 1.000 seconds each");
    EXPECT_TRUE(ffprobeStream(scene.file("typed-name.wav")).startsWith("pcm_s16le,44100,2,"));
    EXPECT_FALSE(QFileInfo::exists(scene.file("typed-name.flac")));

    // The adjusted name is refused like any existing one.
    writeFile(scene.file("held.wav"), "an older file");
    auto held = scene.session(exporter, nullptr, wav);
    held->chooseDestination();
    scene.confirm("held.flac");
    ASSERT_TRUE(pumpUntil([&] { return !held->isExporting(); }));
    EXPECT_EQ(held->message(), AudioExportError(AudioExportError::Case::destinationExists).message());
    EXPECT_EQ(readAll(scene.file("held.wav")), "an older file");
    EXPECT_FALSE(QFileInfo::exists(scene.file("held.flac")));

    // A separate-mono pair's base name follows the same rule.
    makeFolder(scene.file("takes"));
    auto fake = std::make_shared<FakeExporter>(
        [](const AudioExportRequest &request, const ExportProgress &, const CancellationToken &) { return resultAt(request.destination); });
    ExportSession pair(linkedPair(scene.store(), scene.file("takes")), settingsFor(ExportFormat::sd2), nullptr, fake,
                       nullptr, nullptr, scene.panels, {});
    pair.setPairOutput(SD2PairOutput::separateMono);
    pair.setPairBaseName("take.flac");
    pair.chooseDestination();
    EXPECT_EQ(scene.panels->calls.last().text.message, "Save take.L.sd2 and take.R.sd2. Existing files are never replaced.");
    scene.panels->calls.last().completion({QUrl::fromLocalFile(scene.file("takes"))});
    ASSERT_TRUE(pumpUntil([&] { return pair.result().has_value(); }));
    ASSERT_EQ(fake->requests.size(), 1);
    EXPECT_EQ(fake->requests[0].destination.toLocalFile(), scene.file("takes/take.sd2"));
    EXPECT_TRUE(pumpUntil([&] { return !pair.previewEligibility().isChecking(); }));
}

TEST(ExportSession, RestoringFileAccess)
{
    SessionScene scene;
    const QString restored =
        "File access restored. Your export settings are unchanged. Choose preview or export to continue.";
    // A pair's channels are restored from the main window, never from its sheet.
    makeFolder(scene.file("takes"));
    ExportSession pairSession(linkedPair(scene.store(), scene.file("takes")), {}, nullptr, nullptr, nullptr, nullptr,
                              scene.panels, {});
    pairSession.restoreFileAccess();
    EXPECT_TRUE(scene.panels->calls.isEmpty());
    EXPECT_FALSE(pairSession.isBusy());

    // Busy with a destination: no restore panel on top of it.
    auto session = scene.session(nullptr);
    ASSERT_TRUE(pumpUntil([&] { return !session->previewEligibility().isChecking(); }));
    session->chooseDestination();
    session->restoreFileAccess();
    ASSERT_EQ(scene.panels->calls.size(), 1);
    scene.panels->calls.last().completion({});

    // One panel at a time; a dismissed one leaves everything as it was.
    HeldPreview elsewhere;
    session->restoreFileAccess();
    ASSERT_EQ(scene.panels->calls.size(), 2);
    const auto &panel = scene.panels->calls.last();
    EXPECT_EQ(panel.kind, "restore");
    EXPECT_EQ(panel.text.title, "Restore File Access");
    EXPECT_EQ(panel.text.prompt, "Restore Access");
    EXPECT_EQ(panel.text.message, "Select the original file loaded as Take 3.wav. Its name or folder may have "
                                  "changed. Copies and replacements will not be substituted.");
    EXPECT_EQ(panel.audible, nullptr) << "the audible audition stops before the panel opens";
    EXPECT_EQ(elsewhere.stops, 1);
    EXPECT_TRUE(session->isBusy());
    session->restoreFileAccess();
    session->chooseDestination();
    EXPECT_EQ(scene.panels->calls.size(), 2);
    session->setMessage("before");
    scene.panels->calls.last().completion({});
    EXPECT_FALSE(session->isBusy());
    EXPECT_EQ(session->message(), "before");

    // The chosen file restores access, and whether it can be auditioned is checked again.
    int checks = 0;
    QObject::connect(&session->previewEligibility(), &ExportPreviewEligibility::isCheckingChanged, [&] {
        checks += session->previewEligibility().isChecking() ? 1 : 0;
    });
    session->restoreFileAccess();
    scene.confirm("Take 3.wav");
    ASSERT_TRUE(pumpUntil([&] { return session->message() == restored; }));
    EXPECT_FALSE(session->isBusy());
    EXPECT_EQ(checks, 1);
    ASSERT_TRUE(pumpUntil([&] { return !session->previewEligibility().isChecking(); }));
    EXPECT_TRUE(session->previewEligibility().source().has_value());
}

TEST(ExportSession, TheAudibleAuditionStopsBeforeADestinationPanelOpens)
{
    SessionScene scene;
    auto session = scene.session(nullptr);
    for (const SD2PairOutput output : {SD2PairOutput::stereo, SD2PairOutput::separateMono}) {
        HeldPreview elsewhere;
        if (output == SD2PairOutput::separateMono) {
            makeFolder(scene.file("takes"));
            session = SessionScene::Session(new ExportSession(linkedPair(scene.store(), scene.file("takes")),
                                                              settingsFor(ExportFormat::sd2), nullptr, nullptr, nullptr,
                                                              nullptr, scene.panels, [](const QString &) {}));
            session->setPairOutput(output);
        }
        session->chooseDestination();
        ASSERT_FALSE(scene.panels->calls.isEmpty());
        EXPECT_EQ(scene.panels->calls.last().kind, output == SD2PairOutput::stereo ? "save" : "folder");
        EXPECT_EQ(scene.panels->calls.last().audible, nullptr);
        EXPECT_EQ(elsewhere.stops, 1);
        scene.panels->calls.last().completion({});
    }
}
