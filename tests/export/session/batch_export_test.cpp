// The batch export: naming in the folder and within one batch, the rows the processor
// reports, the session's texts, panel and cancellation, and a real batch run twice.
#include "../export_fixtures.h"
#include "held_preview.h"

#include "concurrency/thread_start.h"
#include "export/session/batch_export_session.h"
#include "files/access/missing_audio_source.h"
#include "library/sd2_pair_audio.h"

#include "support/test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace tampod {

struct BatchExportSessionProbe {
    static void report(BatchExportSession &session, int index, const BatchExportItem &item)
    {
        session.update(index, item);
    }
};

} // namespace tampod

using namespace tampod;
using namespace tampod::test;
using State = BatchExportItem::State;

namespace {

const QString stoppedText = QStringLiteral("Batch stopped before this file.");
const QString cancelledText = QStringLiteral("Cancelled before saving.");
const QString monoPairText = QStringLiteral(
    "For SD2 pairs, choose Keep source layout or Stereo; use SD2 pair output for separate mono files.");

QString exportText(AudioExportError::Case kind)
{
    return AudioExportError(kind).message();
}

class FolderPanels final : public FilePanels {
public:
    void open(const OpenPanelOptions &, Chosen) override { ADD_FAILURE() << "open panel"; }
    void save(const SavePanelOptions &, Chosen) override { ADD_FAILURE() << "save panel"; }
    void chooseFolder(const OpenPanelOptions &options, Chosen completion) override
    {
        folders << options;
        completions << completion;
        audible << PreviewAudioFocus::shared().current();
    }
    void restore(const FilePanelText &, Chosen) override { ADD_FAILURE() << "restore panel"; }
    void showItems(const QList<QUrl> &) override {}
    void openFolder(const QUrl &) override {}

    QList<OpenPanelOptions> folders;
    QList<Chosen> completions;
    QList<AudiblePreview *> audible; // what held the audible focus as each panel opened
};

// Runs the given work on a worker of its own, as the real exporter does.
class FakeExporter final : public AudioExportServing {
public:
    using Work = std::function<AudioExportResult(const AudioExportRequest &, const ExportProgress &,
                                                 const CancellationToken &)>;
    explicit FakeExporter(Work work = {}) : work_(std::move(work)) {}
    Async<AudioExportResult> exportAudio(AudioExportRequest request, ExportProgress progress,
                                         CancellationToken token) override
    {
        requests << request;
        return executor_.submit([this, request, progress, token] {
            if (work_)
                return work_(request, progress, token);
            QList<QUrl> more;
            if (request.pairOutput == SD2PairOutput::separateMono) {
                const QList<QUrl> both = SD2PairOutputs::destinations(request.destination);
                return AudioExportResult{both[0], 100, 1, 44100, {both[1]}};
            }
            return AudioExportResult{request.destination, 100, 2, 44100, more};
        });
    }
    QStringList names() const
    {
        QStringList names;
        for (const AudioExportRequest &request : requests)
            names << request.destination.fileName();
        return names;
    }
    QList<AudioExportRequest> requests; // main thread

private:
    Work work_;
    SerialExecutor executor_{QStringLiteral("fake exporter")};
};

AudioTrack trackAt(const QString &path)
{
    return trackOf(path);
}

AudioTrack pairTrack(const QString &folder)
{
    AudioTrack left = trackOf(folder + "/Kit.L"), right = trackOf(folder + "/Kit.R");
    AudioTrack pair = trackOf(folder + "/Kit.pair");
    pair.pair = std::make_shared<const SD2PairAudio>(left, right, nullptr);
    return pair;
}

struct Report {
    int index;
    BatchExportItem item;
};

// Runs one batch to its end and returns every report in arrival order.
QList<Report> runBatch(BatchExportProcessor &processor, const QList<AudioTrack> &tracks, const QString &folder,
                       SD2PairOutput output = SD2PairOutput::stereo, const CancellationToken &token = {},
                       std::function<void(const Report &)> onReport = {})
{
    QList<Report> reports;
    runTask(processor.run(tracks, settingsFor(ExportFormat::wav), QUrl::fromLocalFile(folder), output,
                          [&](int index, const BatchExportItem &item) {
                              reports << Report{index, item};
                              if (onReport)
                                  onReport(reports.last());
                          },
                          token));
    return reports;
}

QList<Report> finals(const QList<Report> &reports)
{
    QList<Report> last;
    for (const Report &report : reports)
        if (report.item.state != State::exporting)
            last << report;
    return last;
}

QByteArray checksum(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

QList<AudioTrack> numberedTracks(const TempDir &dir, int count)
{
    QList<AudioTrack> tracks;
    for (int i = 1; i <= count; ++i)
        tracks << trackAt(dir.file("T" + QString::number(i) + ".wav"));
    return tracks;
}

// Takes "Take 1.wav"… of frames each at rising levels, all but the missing one written.
QList<AudioTrack> writtenTakes(const ExportScene &scene, int count, std::int64_t frames, int missing = 0)
{
    QList<AudioTrack> tracks;
    for (int i = 1; i <= count; ++i) {
        const QString source = scene.file("Take " + QString::number(i) + ".wav");
        if (i != missing)
            writeAudio(source, 2, 44100, tone(frames, 2, 44100, 0.1 * i));
        tracks << trackOf(source, 120.0);
    }
    return tracks;
}

[[noreturn]] void waitForCancellation(const CancellationToken &token)
{
    for (;;) {
        token.throwIfCancelled();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The final rows of a batch cancelled as its second row starts.
QList<Report> cancelledAsTheSecondStarts(BatchExportProcessor &processor, const QList<AudioTrack> &tracks,
                                         const QString &folder)
{
    CancellationSource source;
    return finals(runBatch(processor, tracks, folder, SD2PairOutput::stereo, source.token(), [&](const Report &report) {
        if (report.index == 1 && report.item.state == State::exporting)
            source.cancel();
    }));
}

} // namespace

TEST(BatchExportNaming, TakenNamesDanglingLinksPairsAndTheLimit)
{
    TempDir dir;
    const QUrl folder = QUrl::fromLocalFile(dir.path());
    for (const char *name : {"Kick-export.wav", "Kick-export-2.wav", "Snare-export.R.sd2"})
        QFile(dir.file(name)).open(QIODevice::WriteOnly);
    const auto choose = [&](const QString &stem, const QString &extension, bool split, const QSet<QString> &reserved) {
        return BatchExportProcessor::chooseDestination(folder, stem, extension, split, reserved, {}, {});
    };
    EXPECT_EQ(choose("Kick-export", "wav", false, {}).candidate.fileName(), "Kick-export-3.wav");

    // A link whose target is missing still takes its name.
    ASSERT_TRUE(QFile::link(dir.file("nowhere.wav"), dir.file("Kick-export-3.wav")));
    EXPECT_EQ(choose("Kick-export", "wav", false, {}).candidate.fileName(), "Kick-export-4.wav");

    // Both channel files must be free; the candidate is the base the exporter splits.
    const auto pair = choose("Snare-export", "sd2", true, {});
    EXPECT_EQ(pair.candidate.fileName(), "Snare-export-2.sd2");
    EXPECT_EQ(pair.reservedKeys, (QStringList{"snare-export-2.l.sd2", "snare-export-2.r.sd2"}));

    // Keys compare precomposed and case folded.
    EXPECT_EQ(BatchExportProcessor::nameKey(QStringLiteral("Cafe\u0301-EXPORT.wav")), QStringLiteral("caf\u00e9-export.wav"));
    EXPECT_EQ(BatchExportProcessor::nameKey(QStringLiteral("\u039f\u0394\u039f\u03a3.wav")),
              BatchExportProcessor::nameKey(QStringLiteral("\u03bf\u03b4\u03bf\u03c2.wav")));

    // At most 100,000 candidates: the stem alone, then 2 through 100000.
    QSet<QString> reserved{"hat-export.wav"};
    for (int n = 2; n < BatchExportProcessor::candidateLimit; ++n)
        reserved << "hat-export-" + QString::number(n) + ".wav";
    EXPECT_EQ(choose("Hat-export", "wav", false, reserved).candidate.fileName(), "Hat-export-100000.wav");
    reserved << "hat-export-100000.wav";
    try {
        choose("Hat-export", "wav", false, reserved);
        ADD_FAILURE() << "a name past the limit";
    } catch (const AudioExportError &error) {
        EXPECT_EQ(error.kind(), AudioExportError::Case::destinationExists);
        EXPECT_EQ(error.message(), exportText(AudioExportError::Case::destinationExists));
    }
    CancellationSource cancelled;
    cancelled.cancel();
    EXPECT_THROW(
        BatchExportProcessor::chooseDestination(folder, "Hat-export", "wav", false, reserved, {}, cancelled.token()),
        Cancelled);
}

TEST(BatchExportNaming, AFolderUsedBeforeComparesItsEntriesByTheRunsKeys)
{
    TempDir dir;
    for (const QString &name : {QStringLiteral("Kick-export.wav"), QStringLiteral("Cafe\u0301-export.wav")})
        QFile(dir.file(name)).open(QIODevice::WriteOnly);
    auto exporter = std::make_shared<FakeExporter>();
    BatchExportProcessor processor(exporter);
    const QList<AudioTrack> tracks{trackAt(dir.file("kick.aif")), trackAt(dir.file(QStringLiteral("Caf\u00e9.aif")))};
    runBatch(processor, tracks, dir.path());
    EXPECT_EQ(exporter->names(), (QStringList{"kick-export-2.wav", QStringLiteral("Caf\u00e9-export-2.wav")}));
}

TEST(BatchExportProcessor, RowsNamesAndRequestsOfOneBatch)
{
    TempDir dir;
    AudioTrack waiting = trackAt(dir.file("Wait.sd2"));
    waiting.recovery = SD2Recovery{nullptr, SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt}};
    const QList<AudioTrack> tracks{trackAt(dir.file("Kick.wav")), trackAt(dir.file("kick.aif")), waiting,
                                   trackAt(dir.file(QStringLiteral("Caf\u00e9.wav"))),
                                   trackAt(dir.file(QStringLiteral("Cafe\u0301.aif"))), pairTrack(dir.path()),
                                   trackAt(dir.file("Gone.wav")), trackAt(dir.file("Odd.wav"))};
    auto exporter = std::make_shared<FakeExporter>(
        [](const AudioExportRequest &request, const ExportProgress &progress, const CancellationToken &) {
            const QString name = request.destination.fileName();
            if (name == "Kick-export.wav") // a failed file keeps its name reserved
                throw AudioExportError(AudioExportError::Case::verificationFailed);
            if (name == "Gone-export.wav")
                throw MissingAudioSource("Gone.wav");
            if (name == "Odd-export.wav")
                throw std::runtime_error("odd");
            for (const double p : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1.5, -0.2, 0.5})
                progress(p);
            if (request.pairOutput == SD2PairOutput::separateMono) {
                const QList<QUrl> both = SD2PairOutputs::destinations(request.destination);
                return AudioExportResult{both[0], 100, 1, 44100, {both[1]}};
            }
            return AudioExportResult{request.destination, 100, 2, 44100, {}};
        });
    BatchExportProcessor processor(exporter);
    const int leases = FileAccessLease::activeCount();
    const QList<Report> reports = runBatch(processor, tracks, dir.path(), SD2PairOutput::separateMono);
    EXPECT_EQ(FileAccessLease::activeCount(), leases);

    // The waiting track asks for no name and no export.
    EXPECT_EQ(exporter->names(), (QStringList{"Kick-export.wav", "kick-export-2.wav", QStringLiteral("Caf\u00e9-export.wav"),
                                              QStringLiteral("Cafe\u0301-export-2.wav"), "Kit-export.wav",
                                              "Gone-export.wav", "Odd-export.wav"}));
    EXPECT_EQ(exporter->requests[0].pairOutput, SD2PairOutput::stereo); // an ordinary track stays stereo
    EXPECT_EQ(exporter->requests[4].pairOutput, SD2PairOutput::separateMono);
    EXPECT_FALSE(exporter->requests[4].destinationAccess);

    const QList<Report> last = finals(reports);
    ASSERT_EQ(last.size(), tracks.size());
    const struct {
        State state;
        QString detail;
    } expected[] = {
        {State::failed, exportText(AudioExportError::Case::verificationFailed)},
        {State::saved, "kick-export-2.wav"},
        {State::failed, exportText(AudioExportError::Case::unsupportedSource)},
        {State::saved, QStringLiteral("Caf\u00e9-export.wav")},
        {State::saved, QStringLiteral("Cafe\u0301-export-2.wav")},
        {State::saved, "Kit-export.L.wav, Kit-export.R.wav"},
        {State::failed, *MissingAudioSource::message(std::make_exception_ptr(MissingAudioSource("Gone.wav")))},
        {State::failed, exportText(AudioExportError::Case::storage)},
    };
    for (int i = 0; i < last.size(); ++i) {
        EXPECT_EQ(last[i].index, i);
        EXPECT_EQ(last[i].item.id, tracks[i].id);
        EXPECT_EQ(last[i].item.state, expected[i].state) << i;
        EXPECT_EQ(last[i].item.detail, expected[i].detail) << i;
        EXPECT_EQ(last[i].item.result.has_value(), expected[i].state == State::saved) << i;
    }
    EXPECT_EQ(last[5].item.name, "Kit (L/R)");
    EXPECT_EQ(last[1].item.progress, 1);

    // Row 1: named, then progress clamped, in order, then saved.
    QList<double> progress;
    for (const Report &report : reports)
        if (report.index == 1 && report.item.state == State::exporting)
            progress << report.item.progress;
    EXPECT_EQ(progress, (QList<double>{0, 0, 0, 0, 1, 0, 0.5}));

    // An empty batch reports nothing.
    EXPECT_TRUE(runBatch(processor, {}, dir.path()).isEmpty());
    EXPECT_EQ(FileAccessLease::activeCount(), leases);
}

TEST(BatchExportProcessor, CancellingDuringTheSecondOfFiveFiles)
{
    TempDir dir;
    auto exporter = std::make_shared<FakeExporter>(
        [](const AudioExportRequest &request, const ExportProgress &, const CancellationToken &token) {
            if (request.destination.fileName() == "T2-export.wav")
                waitForCancellation(token);
            return AudioExportResult{request.destination, 100, 2, 44100, {}};
        });
    BatchExportProcessor processor(exporter);
    const QList<Report> last = cancelledAsTheSecondStarts(processor, numberedTracks(dir, 5), dir.path());
    ASSERT_EQ(last.size(), 5);
    const State states[] = {State::saved, State::cancelled, State::notExported, State::notExported, State::notExported};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(last[i].index, i);
        EXPECT_EQ(last[i].item.state, states[i]) << i;
    }
    EXPECT_EQ(last[1].item.detail, cancelledText);
    EXPECT_EQ(last[4].item.detail, stoppedText);
    EXPECT_EQ(exporter->requests.size(), 2);
}

TEST(BatchExportSession, TextsIssuesAndThePanel)
{
    TempDir dir;
    auto panels = std::make_shared<FolderPanels>();
    const auto session = [&](QList<AudioTrack> tracks, const ExportDefaults &defaults = {}) {
        return std::make_unique<BatchExportSession>(std::move(tracks), defaults, std::make_shared<FakeExporter>(),
                                                    panels);
    };
    const auto none = session({});
    EXPECT_EQ(none->title(), "Export 0 Files");
    EXPECT_TRUE(none->issues().contains("Select audio files to export."));
    EXPECT_EQ(none->progress(), 0);
    none->chooseDestination();
    EXPECT_TRUE(panels->folders.isEmpty());
    EXPECT_EQ(session({trackAt(dir.file("a.wav"))})->title(), "Export 1 File");

    QList<AudioTrack> four;
    for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        four << trackAt(dir.file(name));
    const auto batch = session(four);
    EXPECT_EQ(batch->title(), "Export 4 Files");
    EXPECT_EQ(batch->summary(), "0 of 4 files finished");
    EXPECT_EQ(batch->items()[2].state, State::pending);
    EXPECT_EQ(RawValue::text(batch->items()[2].state), "Waiting");
    EXPECT_EQ(RawValue::parse<State>("Not exported"), State::notExported);
    EXPECT_FALSE(RawValue::parse<State>("saved").has_value());

    // Dismissing the panel returns to configuring.
    batch->chooseDestination();
    ASSERT_EQ(panels->folders.size(), 1);
    EXPECT_EQ(panels->folders[0].text.title, "Export 4 Files");
    EXPECT_EQ(panels->folders[0].text.prompt, "Export Here");
    EXPECT_FALSE(panels->folders[0].canChooseFiles);
    EXPECT_TRUE(panels->folders[0].canChooseFolders && panels->folders[0].canCreateFolders);
    EXPECT_TRUE(batch->isChoosingDestination());
    batch->chooseDestination();
    EXPECT_EQ(panels->folders.size(), 1);
    panels->completions[0]({});
    EXPECT_FALSE(batch->isChoosingDestination());
    EXPECT_FALSE(batch->isExporting());

    // Confirming runs with the settings copied when the panel opened.
    batch->chooseDestination();
    ExportDefaults changed;
    changed.format = ExportFormat::aiff;
    batch->setDraft(changed);
    panels->completions[1]({QUrl::fromLocalFile(dir.path())});
    EXPECT_TRUE(batch->isExporting());
    EXPECT_EQ(batch->capturedSettings(), ExportDefaults{});
    EXPECT_EQ(batch->draft(), ExportDefaults{});
    EXPECT_EQ(batch->directory(), QUrl::fromLocalFile(dir.path()));
    ASSERT_TRUE(pumpUntil([&] { return batch->isFinished(); }));
    EXPECT_EQ(batch->summary(), "4 saved · 0 failed · 0 not exported");
    EXPECT_EQ(batch->progress(), 1);
    batch->chooseDestination();
    batch->start(QUrl::fromLocalFile(dir.path()), {});
    batch->cancel();
    EXPECT_EQ(panels->folders.size(), 2);
    EXPECT_FALSE(batch->isExporting() || batch->isCancelling());

    // A linked pair with a Mono draft blocks the panel, not a run started directly.
    ExportDefaults mono;
    mono.encodingByFormat[ExportFormats::rawValue(mono.format)].channels = ExportChannels::mono;
    const auto paired = session({pairTrack(dir.path())}, mono);
    EXPECT_EQ(paired->issues(), QStringList{monoPairText});
    paired->chooseDestination();
    EXPECT_EQ(panels->folders.size(), 2);
    paired->start(QUrl::fromLocalFile(dir.path()), mono);
    EXPECT_TRUE(paired->isExporting());
    ASSERT_TRUE(pumpUntil([&] { return paired->isFinished(); }));
}

TEST(BatchExportSession, TheAudibleAuditionStopsBeforeThePanelAndEndsBeforeAnyFile)
{
    TempDir dir;
    auto panels = std::make_shared<FolderPanels>();
    auto exporter = std::make_shared<FakeExporter>();
    BatchExportSession session({trackAt(dir.file("a.wav"))}, {}, exporter, panels);
    HeldPreview elsewhere;
    session.chooseDestination();
    ASSERT_EQ(panels->audible, QList<AudiblePreview *>{nullptr});
    EXPECT_EQ(elsewhere.stops, 1);
    panels->completions.last()({QUrl::fromLocalFile(dir.path())});
    EXPECT_TRUE(session.isExporting());
    // Its player is still stopping: nothing is read or written until it has.
    pumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_TRUE(elsewhere.isWindingDown());
    EXPECT_TRUE(exporter->requests.isEmpty());
    elsewhere.letGo();
    ASSERT_TRUE(pumpUntil([&] { return session.isFinished(); }));
    EXPECT_EQ(exporter->names(), QStringList{"a-export.wav"});
}

TEST(BatchExportSession, ReportsProgressAndCancellation)
{
    TempDir dir;
    QList<AudioTrack> tracks;
    for (int i = 1; i <= 5; ++i)
        tracks << trackAt(dir.file("T" + QString::number(i) + ".wav"));
    auto second = std::make_shared<std::atomic<bool>>(false);
    auto exporter = std::make_shared<FakeExporter>(
        [second](const AudioExportRequest &request, const ExportProgress &progress, const CancellationToken &token) {
            if (request.destination.fileName() == "T2-export.wav") {
                progress(0.5);
                *second = true;
                for (;;) {
                    token.throwIfCancelled();
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
            return AudioExportResult{request.destination, 100, 2, 44100, {}};
        });
    auto session = std::make_unique<BatchExportSession>(tracks, ExportDefaults{}, exporter, nullptr);
    session->start(QUrl::fromLocalFile(dir.path()), {});
    ASSERT_TRUE(pumpUntil([&] { return *second && session->items()[1].progress == 0.5; }));
    EXPECT_EQ(session->summary(), "1 of 5 files finished");
    EXPECT_DOUBLE_EQ(session->progress(), 1.5 / 5);

    // Failed rows count whole too; a row past the end changes nothing.
    BatchExportItem failed = session->items()[4];
    failed.state = State::failed;
    BatchExportSessionProbe::report(*session, 4, failed);
    EXPECT_DOUBLE_EQ(session->progress(), 2.5 / 5);
    BatchExportSessionProbe::report(*session, 7, failed);
    BatchExportSessionProbe::report(*session, -1, failed);
    EXPECT_EQ(session->items().size(), 5);

    session->cancel();
    EXPECT_TRUE(session->isCancelling());
    EXPECT_EQ(session->summary(), "Cancelling… Saved files will be kept.");
    session->cancel();
    ASSERT_TRUE(pumpUntil([&] { return session->isFinished(); }));
    EXPECT_FALSE(session->isExporting() || session->isCancelling());
    EXPECT_EQ(session->summary(), "1 saved · 0 failed · 4 not exported");
    EXPECT_DOUBLE_EQ(session->progress(), 1.0 / 5);
    EXPECT_EQ(session->items()[1].detail, cancelledText);
    EXPECT_EQ(session->items()[4].detail, stoppedText);

    // Reports after the run ended change nothing.
    BatchExportSessionProbe::report(*session, 0, failed);
    EXPECT_EQ(session->items()[0].state, State::saved);
}

TEST(BatchExportSession, GoingAwayCancelsTheRun)
{
    TempDir dir;
    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto started = std::make_shared<std::atomic<bool>>(false);
    auto exporter = std::make_shared<FakeExporter>(
        [=](const AudioExportRequest &, const ExportProgress &, const CancellationToken &token) -> AudioExportResult {
            *started = true;
            while (!token.isCancelled())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            *ended = true;
            throw Cancelled();
        });
    auto session = std::make_unique<BatchExportSession>(QList<AudioTrack>{trackAt(dir.file("a.wav"))}, ExportDefaults{},
                                                        exporter, nullptr);
    session->start(QUrl::fromLocalFile(dir.path()), {});
    ASSERT_TRUE(pumpUntil([&] { return bool(*started); }));
    session.reset();
    EXPECT_TRUE(pumpUntil([&] { return bool(*ended); }));
    // The run's task lets go of the exporter once it has ended on the main thread too.
    EXPECT_TRUE(pumpUntil([&] { return exporter.use_count() == 1; }));
}

TEST(BatchExportSession, ARealBatchTwiceIntoOneFolder)
{
    ExportScene scene;
    QList<AudioTrack> tracks;
    QMap<QString, QByteArray> sums;
    for (int i = 1; i <= 5; ++i) {
        const QString source = scene.file("Take " + QString::number(i) + ".wav");
        writeAudio(source, 2, 44100, tone(3 * 44100, 2, 44100, 0.1 * i));
        tracks << trackOf(source, 120.0);
        sums[source] = checksum(source);
    }
    AudioTrack waiting = trackOf(scene.file("Take 1.wav"));
    waiting.recovery = SD2Recovery{nullptr, std::nullopt};
    const QString out = scene.file("out");
    ASSERT_TRUE(QDir().mkpath(out));
    auto exporter = std::make_shared<AudioFileExporter>(scene.environment);

    for (int round = 1; round <= 2; ++round) {
        auto panels = std::make_shared<FolderPanels>();
        BatchExportSession session(round == 1 ? tracks : QList<AudioTrack>{waiting} + tracks,
                                   settingsFor(ExportFormat::flac), exporter, panels);
        session.chooseDestination();
        ASSERT_EQ(panels->completions.size(), 1);
        panels->completions[0]({QUrl::fromLocalFile(out)});
        ASSERT_TRUE(pumpUntil([&] { return session.isFinished(); }, std::chrono::seconds(120)));
        const int offset = round == 1 ? 0 : 1;
        if (round == 2) {
            EXPECT_EQ(session.items()[0].state, State::failed);
            EXPECT_EQ(session.items()[0].detail, exportText(AudioExportError::Case::unsupportedSource));
            EXPECT_EQ(session.summary(), "5 saved · 1 failed · 0 not exported");
        }
        for (int i = 1; i <= 5; ++i) {
            const BatchExportItem &item = session.items()[i - 1 + offset];
            const QString name = "Take " + QString::number(i) + (round == 1 ? "-export.flac" : "-export-2.flac");
            EXPECT_EQ(item.state, State::saved) << item.detail.toStdString();
            EXPECT_EQ(item.detail, name);
            runChecked("flac", {"-t", "-s", out + "/" + name});
            if (round == 1)
                sums[out + "/" + name] = checksum(out + "/" + name);
        }
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 10);
    for (auto it = sums.cbegin(); it != sums.cend(); ++it)
        EXPECT_EQ(checksum(it.key()), it.value()) << it.key().toStdString();
}

// A real batch, whole and cancelled as its third row starts, as the rows show it: every report
// is for the earliest row not yet final, at most one row shows Exporting, and the folder holds
// only the files of saved rows and of the one exporting. The cancel keeps what was saved and
// leaves nothing else behind, hidden staging included.
TEST(BatchExportProcessor, ARealBatchShowsOneRowAtATimeInOrder)
{
    ExportScene scene;
    const QList<AudioTrack> tracks = writtenTakes(scene, 5, 2 * 44100);
    BatchExportProcessor processor(std::make_shared<AudioFileExporter>(scene.environment));
    for (const bool cancelling : {false, true}) {
        const QString out = scene.file(cancelling ? "cancelled" : "whole");
        ASSERT_TRUE(QDir().mkpath(out));
        CancellationSource source;
        QList<BatchExportItem> rows;
        for (const AudioTrack &track : tracks)
            rows << BatchExportItem::waiting(track);
        QStringList faults;
        const auto update = [&](int index, const BatchExportItem &item) {
            qsizetype current = 0;
            while (current < rows.size() && rows[current].state != State::pending &&
                   rows[current].state != State::exporting)
                ++current;
            if (index != current)
                faults << QString("row %1 reported while row %2 was not final").arg(index).arg(current);
            rows[index] = item;
            QStringList shown;
            int exporting = 0;
            for (const BatchExportItem &row : std::as_const(rows)) {
                exporting += row.state == State::exporting;
                if (row.state == State::saved || row.state == State::exporting)
                    shown << row.detail;
            }
            if (exporting > 1)
                faults << QString("%1 rows exporting").arg(exporting);
            for (const QString &name : QDir(out).entryList(QDir::Files))
                if (!shown.contains(name))
                    faults << name + " published before its row showed it";
            if (cancelling && index == 2 && item.state == State::exporting)
                source.cancel();
        };
        runTask(processor.run(tracks, settingsFor(ExportFormat::flac), QUrl::fromLocalFile(out),
                              SD2PairOutput::stereo, update, source.token()),
                std::chrono::seconds(120));
        EXPECT_EQ(faults, QStringList{});
        const QList<State> expected =
            cancelling ? QList<State>{State::saved, State::saved, State::cancelled, State::notExported,
                                      State::notExported}
                       : QList<State>(5, State::saved);
        QStringList saved;
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(rows[i].state, expected[i]) << i << " " << rows[i].detail.toStdString();
            if (rows[i].state == State::saved) {
                saved << rows[i].detail;
                runChecked("flac", {"-t", "-s", out + "/" + rows[i].detail});
            }
        }
        EXPECT_EQ(saved.size(), cancelling ? 2 : 5);
        EXPECT_EQ(entriesOf(out), saved);
    }
}

// The real exporter, which holds the export of one file on its worker once it has written audio
// and reported it, until the run is cancelled: a cancel that lands while that file is written.
class HeldWhileWriting final : public AudioExportServing {
public:
    HeldWhileWriting(std::shared_ptr<AudioExportServing> exporter, QString held)
        : exporter_(std::move(exporter)), held_(std::move(held))
    {
    }
    Async<AudioExportResult> exportAudio(AudioExportRequest request, ExportProgress progress,
                                         CancellationToken token) override
    {
        if (request.destination.fileName() != held_)
            return exporter_->exportAudio(std::move(request), std::move(progress), token);
        return exporter_->exportAudio(std::move(request), [progress, token, waited = false](double p) mutable {
            progress(p);
            if (p <= 0 || std::exchange(waited, true))
                return;
            const auto limit = std::chrono::steady_clock::now() + hangGuard;
            while (!token.isCancelled() && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }, token);
    }

private:
    std::shared_ptr<AudioExportServing> exporter_;
    QString held_;
};

// WAV is written by the exporter itself, FLAC by the encoder from a staged intermediate.
TEST(BatchExportSession, CancelledWhileTheRealExporterWritesTheSecondOfFiveFiles)
{
    ExportScene scene;
    const QList<AudioTrack> tracks = writtenTakes(scene, 5, 4 * 44100);
    for (const ExportFormat format : {ExportFormat::wav, ExportFormat::flac}) {
        const QString extension = ExportFormats::fileExtension(format);
        SCOPED_TRACE(extension.toStdString());
        const QString out = scene.file("out-" + extension), first = "Take 1-export." + extension;
        ASSERT_TRUE(QDir().mkpath(out));
        auto exporter = std::make_shared<HeldWhileWriting>(std::make_shared<AudioFileExporter>(scene.environment),
                                                           "Take 2-export." + extension);
        BatchExportSession session(tracks, settingsFor(format), exporter, nullptr);
        session.start(QUrl::fromLocalFile(out), settingsFor(format));
        ASSERT_TRUE(pumpUntil([&] { return session.items()[1].progress > 0; }));

        // File 2 is partly written in the staging folder, file 1 published beside it.
        QStringList staged;
        for (const QString &name : entriesOf(out))
            if (name.startsWith(QLatin1String(".tampod-staging-")))
                staged << entriesOf(out + "/" + name);
        EXPECT_EQ(staged.filter(QRegularExpression("\\.(wav|caf|flac)$")).size(), 1) << staged.join(' ').toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{first});

        session.cancel();
        ASSERT_TRUE(pumpUntil([&] { return session.isFinished(); }));
        QStringList states;
        for (const BatchExportItem &item : session.items())
            states << RawValue::text(item.state);
        EXPECT_EQ(states, (QStringList{"Saved", "Cancelled", "Not exported", "Not exported", "Not exported"}));
        EXPECT_EQ(session.items()[1].detail, cancelledText);
        EXPECT_EQ(session.items()[2].detail, stoppedText);
        EXPECT_EQ(session.summary(), QStringLiteral("1 saved · 0 failed · 4 not exported"));
        // Only file 1, whole: nothing of file 2, no staging folder, nothing of a later file.
        EXPECT_EQ(entriesOf(out), QStringList{first});
        EXPECT_EQ(framesOf(out + "/" + first), 4 * 44100);
    }
}

TEST(BatchExportProcessor, OneStagingFolderServesTheWholeBatch)
{
    ExportScene scene;
    const QString out = scene.file("out");
    ASSERT_TRUE(QDir().mkpath(out));
    const QList<AudioTrack> tracks = writtenTakes(scene, 4, 20000, 2); // the second is missing and fails
    const auto stagingFolders = [&] {
        QStringList found;
        for (const QString &name : entriesOf(out))
            if (name.startsWith(QLatin1String(".tampod-staging-")))
                found << name;
        return found;
    };
    QList<QStringList> seen; // the staging folders and what they hold when a row before the last ends
    BatchExportProcessor processor(std::make_shared<AudioFileExporter>(scene.environment));
    const QList<Report> reports =
        runBatch(processor, tracks, out, SD2PairOutput::stereo, {}, [&](const Report &report) {
            if (report.item.state == State::exporting || report.index == 3)
                return;
            const QStringList folders = stagingFolders();
            seen << folders;
            if (folders.size() == 1)
                seen.last() << entriesOf(out + "/" + folders[0]);
        });
    const QList<Report> last = finals(reports);
    ASSERT_EQ(last.size(), 4);
    EXPECT_EQ(last[1].item.state, State::failed);
    for (int i : {0, 2, 3})
        EXPECT_EQ(last[i].item.state, State::saved) << last[i].item.detail.toStdString();
    // The same folder throughout, holding nothing of the exports that ended, failed or not, and
    // nothing of a later one before its row starts. The missing source fails before it stages.
    ASSERT_EQ(seen.size(), 3);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(seen[k], (QStringList{seen[0][0], QStringLiteral("tampod-owner.json")})) << k;
    EXPECT_EQ(stagingFolders(), QStringList{}); // gone when the run returns; the scene checks its record
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 3);
}

TEST(SharedExportStaging, MadeOnceForOneFolderAndNeverAfterClosing)
{
    ExportScene scene;
    const QString out = scene.file("out");
    ASSERT_TRUE(QDir().mkpath(out));
    SharedExportStaging shared;
    int made = 0;
    const auto make = [&] {
        ++made;
        return scene.store().makeExportDirectory(QUrl::fromLocalFile(out + "/a.wav"));
    };
    const auto first = shared.prefixFor(out, make);
    const auto second = shared.prefixFor(out, make);
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(QFileInfo(*first).absolutePath(), QFileInfo(*second).absolutePath());
    EXPECT_EQ(QFileInfo(QFileInfo(*first).absolutePath()).absolutePath(), out);
    EXPECT_FALSE(shared.prefixFor(scene.file("elsewhere"), make)) << "beside another folder";
    shared.close();
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(*first).absolutePath()));
    EXPECT_FALSE(shared.prefixFor(out, make));
    EXPECT_EQ(made, 1);
}

// An exporter is one actor on one worker: a single export or an audition starts no pool of
// its own. Counted where the program starts its threads: the system may list a joined thread
// a moment after the join.
TEST(AudioFileExporter, StartsOneWorkerThread)
{
    const int before = runningThreads();
    {
        AudioFileExporter exporter;
        EXPECT_EQ(runningThreads() - before, 1);
    }
    EXPECT_EQ(runningThreads(), before);
}
