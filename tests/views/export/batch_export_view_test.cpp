// The batch export sheet on a real session: the list's height in each phase, five generated
// files exported through every row state to the summary, a cancel mid-batch, and the ways the
// sheet may and may not close.
#include "../../export/export_fixtures.h"

#include "export/session/batch_export_session.h"
#include "files/access/file_access_lease.h"
#include "views/export/batch_export_row.h"
#include "views/export/batch_export_view.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/issue_list.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/theme.h"

#include "support/in_sight.h"
#include "support/test_support.h"

#include <QDir>
#include <QKeyEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tampod;
using namespace tampod::test;

namespace {

class FolderPanel final : public FilePanels {
public:
    void open(const OpenPanelOptions &, Chosen) override { ADD_FAILURE() << "open panel"; }
    void save(const SavePanelOptions &, Chosen) override { ADD_FAILURE() << "save panel"; }
    void chooseFolder(const OpenPanelOptions &, Chosen completion) override { completions << completion; }
    void restore(const FilePanelText &, Chosen) override { ADD_FAILURE() << "restore panel"; }
    void showItems(const QList<QUrl> &) override {}
    void openFolder(const QUrl &folder) override { opened << folder; }

    QList<Chosen> completions;
    QList<QUrl> opened;
};

// The real exporter, each file held before it starts until the test lets that many through.
class GatedExporter final : public AudioExportServing {
public:
    explicit GatedExporter(ExportEnvironment environment) : environment_(std::move(environment)) {}

    Async<AudioExportResult> exportAudio(AudioExportRequest request, ExportProgress progress,
                                         CancellationToken token) override
    {
        const int index = requested_++;
        return executor_.submit([this, index, request, progress, token] {
            progress(0.25);
            while (index >= allowed) {
                if (token.isCancelled())
                    ++cancelled;
                token.throwIfCancelled();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return AudioFileExporter::run(request, progress, token, environment_);
        });
    }

    int requested() const { return requested_; }

    std::atomic<int> allowed{0};
    std::atomic<int> cancelled{0};

private:
    const ExportEnvironment environment_;
    int requested_ = 0; // main thread
    SerialExecutor executor_{QStringLiteral("gated exporter")};
};

struct BatchScene : ExportScene {
    BatchScene()
    {
        for (int i = 1; i <= 5; ++i) {
            const QString source = file("Take " + QString::number(i) + ".wav");
            writeAudio(source, 2, 44100, tone(22050, 2, 44100, 0.1 * i));
            tracks << trackOf(source);
        }
        QDir().mkpath(out);
        window.resize(640, 760);
        window.show();
    }
    ~BatchScene() { delete view.data(); }

    BatchExportView &open(QList<AudioTrack> batch, const ExportDefaults &settings = settingsFor(ExportFormat::wav))
    {
        view = BatchExportView::make(std::make_unique<BatchExportSession>(batch, settings, exporter, panels), &window);
        EXPECT_TRUE(SheetHost::of(&window).present(view));
        settle();
        return *view;
    }
    void settle() const
    {
        QCoreApplication::sendPostedEvents();
        view->refresh();
        QCoreApplication::sendPostedEvents();
    }
    bool closed() const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return view.isNull();
    }
    QStringList states() const
    {
        QStringList texts;
        for (const BatchExportRow *row : view->rows())
            texts << row->stateLine()->text();
        return texts;
    }
    // Chooses the output folder as the user would, with Return.
    void startInto(const QString &folder)
    {
        QDir().mkpath(folder);
        press(Qt::Key_Return);
        ASSERT_EQ(panels->completions.size(), 1);
        panels->completions.takeLast()({QUrl::fromLocalFile(folder)});
        settle();
    }
    void press(Qt::Key key) const
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    }
    bool shown(QWidget *widget) const { return widget->isVisibleTo(view); }

    QList<AudioTrack> tracks;
    const QString out = file("out");
    QWidget window;
    QPointer<BatchExportView> view;
    std::shared_ptr<FolderPanel> panels = std::make_shared<FolderPanel>();
    std::shared_ptr<GatedExporter> exporter = std::make_shared<GatedExporter>(environment);
};

} // namespace

TEST(BatchExportView, ConfiguringShowsWholeRowsThePairPickerAndTheIssues)
{
    BatchScene scene;
    for (const int n : {1, 2, 3, 5}) {
        BatchExportView &view = scene.open(scene.tracks.mid(0, n));
        EXPECT_EQ(view.size(), QSize(540, 690));
        EXPECT_EQ(view.itemList()->height(), 8 + 36 * std::min(n, 3)) << n;
        EXPECT_EQ(view.itemList()->verticalScrollBar()->maximum() > 0, n > 3) << n;
        EXPECT_EQ(scene.states(), QStringList(n, "Waiting"));
        EXPECT_TRUE(scene.shown(view.settingsArea()));
        EXPECT_FALSE(scene.shown(view.diagnosticLine()) || scene.shown(view.summaryLine()) ||
                     scene.shown(view.progressBar()) || scene.shown(view.showFolderButton()) ||
                     scene.shown(view.cancelBatchButton()));
        EXPECT_FALSE(scene.shown(view.pairOutputPicker()));
        EXPECT_EQ(view.titleLine()->text(), n == 1 ? "Export 1 File" : "Export " + QString::number(n) + " Files");
        scene.press(Qt::Key_Escape); // "Cancel"
        ASSERT_TRUE(pumpUntil([&] { return scene.closed(); }));
    }

    // A long name keeps its start and its extension; a failed state is yellow with its detail.
    AudioTrack longName = trackOf(scene.file(QString(80, 'x') + " final mix.wav"));
    AudioTrack pair = trackOf(scene.file("Kit.pair"));
    pair.pair = std::make_shared<const SD2PairAudio>(trackOf(scene.file("Kit.L")), trackOf(scene.file("Kit.R")), nullptr);
    ExportDefaults clipping = settingsFor(ExportFormat::wav);
    clipping.clippingDB = 20;
    BatchExportView &view = scene.open({longName, pair}, clipping);
    EXPECT_EQ(view.itemList()->height(), 80);
    const BatchExportRow &row = *view.rows()[0];
    const QString shown = row.nameLine()->text();
    EXPECT_TRUE(shown.startsWith("xxx") && shown.contains(QChar(0x2026)) && shown.endsWith(" final mix.wav"));
    EXPECT_TRUE(view.rows()[1]->nameLine()->fullText().endsWith(" (L/R)"));
    EXPECT_TRUE(scene.shown(view.pairOutputPicker()));
    EXPECT_FALSE(view.issueList()->issues().isEmpty());
    EXPECT_FALSE(view.chooseFolderButton()->isEnabled());
    scene.press(Qt::Key_Return);
    EXPECT_TRUE(scene.panels->completions.isEmpty());

    BatchExportItem failed = BatchExportItem::waiting(longName);
    failed.state = BatchExportItem::State::failed;
    failed.detail = "No access";
    view.rows()[0]->setItem(failed);
    EXPECT_EQ(row.stateLine()->text(), "Failed");
    EXPECT_EQ(row.stateLine()->palette().color(QPalette::WindowText), Theme::failedItemText);
    EXPECT_TRUE(row.detailLine()->isVisibleTo(view.rows()[0]));
    EXPECT_TRUE(row.detailLine()->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST(BatchExportView, WhatKeepsTheBatchBackIsInSightWhereverItsCauseLies)
{
    BatchScene scene;
    ExportDefaults he = settingsFor(ExportFormat::m4aAAC);
    EncodingOptions options = he.options();
    options.aacProfile = AACProfile::he;
    he.encodingByFormat["m4aAAC"] = options;
    BatchExportView &view = scene.open(scene.tracks.mid(0, 3), he);
    EXPECT_FALSE(view.chooseFolderButton()->isEnabled());
    EXPECT_GT(view.settingsArea()->verticalScrollBar()->maximum(), 0) << "the form fits: nothing to hide";
    EXPECT_EQ(view.issueList()->issues(), QStringList("AAC export currently supports AAC-LC with average bitrate. "
                                                       "Select those options."));
    EXPECT_TRUE(wholeInSight(view.issueList()));
}

TEST(BatchExportView, FiveFilesRunFromWaitingThroughExportingToSaved)
{
    BatchScene scene;
    BatchExportView &view = scene.open(scene.tracks);
    scene.press(Qt::Key_Return);
    ASSERT_EQ(scene.panels->completions.size(), 1);
    scene.settle();
    // The folder panel is open: nothing closes the sheet.
    EXPECT_FALSE(view.closeButton()->isEnabled() || view.chooseFolderButton()->isEnabled());
    EXPECT_FALSE(view.formatControls()->isEnabled());
    EXPECT_FALSE(view.dismiss());
    scene.press(Qt::Key_Escape);
    EXPECT_FALSE(scene.closed());
    scene.panels->completions.takeLast()({QUrl::fromLocalFile(scene.out)});
    scene.settle();

    ASSERT_TRUE(view.session().isExporting());
    EXPECT_GE(view.itemList()->height(), 110);
    EXPECT_GT(view.itemList()->height(), 116); // it fills what the settings left
    EXPECT_FALSE(scene.shown(view.settingsArea()));
    EXPECT_EQ(view.diagnosticLine()->text(), settingsFor(ExportFormat::wav).diagnosticSummary());
    EXPECT_TRUE(scene.shown(view.progressBar()) && scene.shown(view.showFolderButton()) &&
                scene.shown(view.cancelBatchButton()));
    EXPECT_FALSE(scene.shown(view.closeButton()) || scene.shown(view.chooseFolderButton()));
    EXPECT_FALSE(view.dismiss());
    ASSERT_TRUE(pumpUntil([&] {
        scene.settle();
        return scene.states() == QStringList{"Exporting", "Waiting", "Waiting", "Waiting", "Waiting"};
    }));
    EXPECT_TRUE(view.rows()[0]->progressBar()->isVisibleTo(view.rows()[0]));
    EXPECT_EQ(view.summaryLine()->text(), "0 of 5 files finished");

    scene.exporter->allowed = 5;
    ASSERT_TRUE(pumpUntil([&] { return view.session().isFinished(); }));
    scene.settle();
    EXPECT_EQ(scene.states(), QStringList(5, "Saved"));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(view.rows()[i]->detailLine()->text(), "Take " + QString::number(i + 1) + "-export.wav");
    EXPECT_EQ(QDir(scene.out).entryList(QDir::Files).size(), 5);
    EXPECT_EQ(view.summaryLine()->text(), "5 saved · 0 failed · 0 not exported");
    EXPECT_GE(view.itemList()->height(), 110);
    EXPECT_EQ(view.closeButton()->text(), "Done");
    EXPECT_FALSE(scene.shown(view.progressBar()) || scene.shown(view.chooseFolderButton()));
    ASSERT_TRUE(scene.shown(view.showFolderButton()));
    view.showFolderButton()->click();
    EXPECT_EQ(scene.panels->opened, QList<QUrl>{QUrl::fromLocalFile(scene.out)});
    scene.press(Qt::Key_Escape); // "Done"
    EXPECT_TRUE(pumpUntil([&] { return scene.closed(); }));
}

TEST(BatchExportView, CancellingMidBatchMarksTheRestAndTakingTheSheetAwayCancels)
{
    BatchScene scene;
    {
        BatchExportView &view = scene.open(scene.tracks);
        // At no report may two rows show Exporting.
        int mostExporting = 0;
        QObject::connect(&view.session(), &BatchExportSession::itemsChanged, &view, [&] {
            int exporting = 0;
            for (const BatchExportItem &item : view.session().items())
                exporting += item.state == BatchExportItem::State::exporting;
            mostExporting = std::max(mostExporting, exporting);
        });
        scene.startInto(scene.out);
        scene.exporter->allowed = 1;
        // The second file shows Exporting, held before it could publish.
        ASSERT_TRUE(pumpUntil([&] {
            scene.settle();
            return scene.states() == QStringList{"Saved", "Exporting", "Waiting", "Waiting", "Waiting"};
        })) << scene.states().join(", ").toStdString();
        view.cancelBatchButton()->click();
        view.refresh(); // before the run's end is delivered
        EXPECT_FALSE(view.cancelBatchButton()->isEnabled());
        EXPECT_EQ(view.summaryLine()->text(), "Cancelling… Saved files will be kept.");
        // The run has ended: the sheet shows its last state once refreshed after that.
        ASSERT_TRUE(pumpUntil([&] { return view.session().isFinished(); }));
        scene.settle();
        EXPECT_EQ(scene.states(),
                  (QStringList{"Saved", "Cancelled", "Not exported", "Not exported", "Not exported"}));
        EXPECT_EQ(view.rows()[1]->detailLine()->text(), "Cancelled before saving.");
        EXPECT_EQ(view.rows()[4]->detailLine()->text(), "Batch stopped before this file.");
        EXPECT_EQ(view.summaryLine()->text(), "1 saved · 0 failed · 4 not exported");
        EXPECT_EQ(mostExporting, 1);
        // Only the saved file, and no staging left behind.
        EXPECT_EQ(entriesOf(scene.out), QStringList{"Take 1-export.wav"});
        EXPECT_EQ(view.closeButton()->text(), "Done");
        EXPECT_TRUE(scene.shown(view.showFolderButton()));
        EXPECT_TRUE(view.dismiss());
        ASSERT_TRUE(pumpUntil([&] { return scene.closed(); }));
    }
    {
        // The window takes the sheet away mid-batch: the running file is cancelled.
        scene.exporter->cancelled = 0;
        scene.exporter->allowed = 0;
        const int leases = FileAccessLease::activeCount();
        const int requested = scene.exporter->requested();
        BatchExportView &view = scene.open(scene.tracks.mid(0, 2));
        scene.startInto(scene.file("second"));
        ASSERT_TRUE(view.session().isExporting());
        // The folder is listed and the first name chosen before its export is asked for.
        ASSERT_TRUE(pumpUntil([&] { return scene.exporter->requested() > requested; }));
        delete &view;
        EXPECT_TRUE(pumpUntil([&] { return scene.exporter->cancelled > 0; }));
        // The run winds down on its own and lets go of the files.
        EXPECT_TRUE(pumpUntil([&] { return FileAccessLease::activeCount() == leases; }));
    }
}

TEST(BatchExportView, ThePairOutputIsLockedWhileTheFolderIsChosen)
{
    BatchScene scene;
    AudioTrack pair = trackOf(scene.file("Kit.pair"));
    pair.pair = std::make_shared<const SD2PairAudio>(trackOf(scene.file("Kit.L")), trackOf(scene.file("Kit.R")), nullptr);
    BatchExportView &view = scene.open({pair});
    ASSERT_TRUE(scene.shown(view.pairOutputPicker()));
    EXPECT_TRUE(view.pairOutputPicker()->isEnabled());
    scene.press(Qt::Key_Return);
    ASSERT_EQ(scene.panels->completions.size(), 1);
    scene.settle();
    EXPECT_FALSE(view.pairOutputPicker()->isEnabled());
    scene.panels->completions.takeLast()({});
    scene.settle();
    EXPECT_TRUE(view.pairOutputPicker()->isEnabled());
}
