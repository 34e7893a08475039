// The single-file export sheet on a real session over a generated file: the stale rate of a
// new format, the loop's lengths and counts, an export from the default button to the result
// line, cancelling, closing, and the two auditions.
#include "../../export/export_fixtures.h"

#include "export/session/export_session.h"
#include "views/export/export_preview_controls.h"
#include "views/export/audio_export_view.h"
#include "views/export/loop_export_controls.h"
#include "views/export_form/encoding_options_view.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/issue_list.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/accessibility/view_accessibility.h"

#include "support/in_sight.h"
#include "support/test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tampod;
using namespace tampod::test;

namespace {

class FakePanels final : public FilePanels {
public:
    void open(const OpenPanelOptions &, Chosen completion) override { completions << completion; }
    void save(const SavePanelOptions &, Chosen completion) override { completions << completion; }
    void chooseFolder(const OpenPanelOptions &, Chosen completion) override { completions << completion; }
    void restore(const FilePanelText &, Chosen completion) override { completions << completion; }
    void showItems(const QList<QUrl> &urls) override { shown << urls; }
    void openFolder(const QUrl &) override {}

    QList<Chosen> completions;
    QList<QList<QUrl>> shown;
};

// Holds each export until released, reporting progress through the kept function.
class HeldExporter final : public AudioExportServing {
public:
    Async<AudioExportResult> exportAudio(AudioExportRequest request, ExportProgress progress,
                                         CancellationToken token) override
    {
        this->progress = progress;
        return executor_.submit([this, request, token] {
            while (!release) {
                if (token.isCancelled()) {
                    ++cancelled;
                    token.throwIfCancelled();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return AudioExportResult{request.destination, 88200, 2, 44100, {}};
        });
    }
    ExportProgress progress; // main thread
    std::atomic<bool> release{false};
    std::atomic<int> cancelled{0};

private:
    SerialExecutor executor_{QStringLiteral("held exporter")};
};

// Original is ready at once; Processed prepares until cancelled.
class HeldRenderer final : public ExportPreviewPreparing {
public:
    Async<std::shared_ptr<const PreparedExportPreview>> prepare(ExportPreviewRequest request, ExportProgress,
                                                                CancellationToken token) override
    {
        return executor_.submit([request, token]() -> std::shared_ptr<const PreparedExportPreview> {
            while (request.mode == ExportPreviewMode::processed) {
                token.throwIfCancelled();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return std::make_shared<PreparedExportPreview>(request, request.track.audioURL(), 1);
        });
    }

private:
    SerialExecutor executor_{QStringLiteral("held renderer")};
};

class SilentPlayer final : public ExportPreviewPlaying {
public:
    Async<void> play(std::shared_ptr<const PreparedExportPreview>, double, CancellationToken) override
    {
        return executor_.submit([this] { playing = true; });
    }
    Async<bool> isPlaying() override { return executor_.submit([this] { return playing.load(); }); }
    Async<void> stop() override { return executor_.submit([this] { playing = false; }); }
    std::atomic<bool> playing{false};

private:
    SerialExecutor executor_{QStringLiteral("silent player")};
};

struct SheetScene : ExportScene {
    SheetScene()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        source = file("Take 3.wav");
        writeAudio(source, 2, 44100, tone(44100, 2));
        track = trackOf(source);
        track.duration = 1.0;
        window.resize(600, 700);
        window.show();
    }
    ~SheetScene()
    {
        delete sheet.data();
        QLocale::setDefault(previous);
    }

    AudioExportView &open(const ExportDefaults &defaults = {}, std::shared_ptr<const PreparedSection> loop = nullptr)
    {
        auto *coordinator = new ExportPreviewCoordinator(renderer, player);
        auto session = std::make_unique<ExportSession>(
            track, defaults, std::move(loop), exporter, coordinator,
            []() -> QCoro::Task<double> { co_return 0.5; }, panels, [](const QString &) {});
        sheet = AudioExportView::make(std::move(session), &window);
        EXPECT_TRUE(SheetHost::of(&window).present(sheet));
        return *sheet;
    }
    std::shared_ptr<const PreparedSection> loopOf(std::int64_t start, std::int64_t end) const
    {
        return std::make_shared<const PreparedSection>(track, track.audioURL(), start, end, 44100, 44100.0, std::nullopt);
    }
    // The sheet is deleted once it is dismissed.
    bool closed() const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return sheet.isNull();
    }
    void settle() const
    {
        QCoreApplication::sendPostedEvents();
        if (sheet)
            sheet->refresh();
    }

    QLocale previous = QLocale();
    QString source;
    AudioTrack track;
    QWidget window;
    QPointer<AudioExportView> sheet;
    std::shared_ptr<FakePanels> panels = std::make_shared<FakePanels>();
    std::shared_ptr<HeldExporter> exporter = std::make_shared<HeldExporter>();
    std::shared_ptr<HeldRenderer> renderer = std::make_shared<HeldRenderer>();
    std::shared_ptr<SilentPlayer> player = std::make_shared<SilentPlayer>();
};

void choose(TaggedComboBox *picker, const QString &tag)
{
    ASSERT_GE(picker->findData(tag), 0) << tag.toStdString();
    Q_EMIT picker->activated(picker->findData(tag));
}

void type(QWidget *widget, const QString &text)
{
    widget->setFocus();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &press);
    }
}

void pressEscape(QWidget *widget)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
}

QStringList itemsOf(const TaggedComboBox *picker)
{
    QStringList items;
    for (int i = 0; i < picker->count(); ++i)
        items << picker->itemText(i);
    return items;
}

} // namespace

TEST(AudioExportView, AStaleRateAfterAFormatChangeBlocksTheDestinationUntilAValidOne)
{
    SheetScene scene;
    ExportDefaults wav;
    wav.sampleRate = 96000;
    AudioExportView &sheet = scene.open(wav);
    EXPECT_EQ(sheet.size(), QSize(500, 690));
    EXPECT_EQ(sheet.nameLine()->text(), "Take 3.wav");
    EXPECT_TRUE(sheet.recoveryLine()->isHidden());
    EXPECT_TRUE(sheet.pairOutputPicker()->isHidden() || !sheet.pairOutputPicker()->isVisibleTo(&sheet));
    EXPECT_TRUE(sheet.defaultButton()->isEnabled());
    EXPECT_EQ(sheet.defaultButton()->text(), "Choose Destination…");
    EXPECT_EQ(sheet.closeButton()->text(), "Cancel");
    EXPECT_TRUE(sheet.restoreAccessButton()->isVisibleTo(&sheet));
    EXPECT_FALSE(sheet.showInFolderButton()->isVisibleTo(&sheet));

    ExportFormatControls &form = *sheet.formatControls();
    choose(form.format(), "m4aAAC");
    scene.settle();
    form.refresh();
    EXPECT_EQ(sheet.session().draft().sampleRate, 96000);
    EXPECT_EQ(itemsOf(form.sampleRate()), (QStringList{"96 kHz — choose a valid rate", "44.1 kHz", "48 kHz"}));
    EXPECT_EQ(form.sampleRate()->currentIndex(), 0);
    EXPECT_FALSE(sheet.issueList()->issues().isEmpty());
    EXPECT_EQ(sheet.issueList()->issues(), sheet.session().issues());
    EXPECT_TRUE(sheet.issueList()->isVisibleTo(&sheet));
    EXPECT_FALSE(sheet.defaultButton()->isEnabled());
    EXPECT_EQ(sheet.bpmLine()->text(), "BPM unknown — no tempo tag");

    choose(form.sampleRate(), "48000");
    scene.settle();
    EXPECT_TRUE(sheet.issueList()->issues().isEmpty());
    EXPECT_FALSE(sheet.issueList()->isVisibleTo(&sheet));
    EXPECT_TRUE(sheet.defaultButton()->isEnabled());
}

TEST(AudioExportView, WhatKeepsTheExportBackIsInSightBesideTheDisabledButtons)
{
    // A long form (M4A's rows and a loop's), refused for a choice near its end.
    SheetScene scene;
    ExportDefaults he;
    he.format = ExportFormat::m4aAAC;
    EncodingOptions options = EncodingOptions::initial(ExportFormat::m4aAAC);
    options.aacProfile = AACProfile::he;
    he.encodingByFormat["m4aAAC"] = options;
    AudioExportView &sheet = scene.open(he, scene.loopOf(0, 22050));
    scene.settle();
    ASSERT_TRUE(pumpUntil([&] { return sheet.loopControls()->repeatStepper()->isVisible(); }));
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(sheet.defaultButton()->isEnabled());
    EXPECT_EQ(sheet.issueList()->issues(), QStringList("AAC export currently supports AAC-LC with average bitrate. "
                                                        "Select those options."));
    EXPECT_TRUE(wholeInSight(sheet.issueList()));
    EXPECT_LT(sheet.issueList()->mapTo(&sheet, QPoint(0, sheet.issueList()->height())).y(),
              sheet.defaultButton()->mapTo(&sheet, QPoint(0, 0)).y());

    choose(sheet.formatControls()->encodingOptions()->aacProfile(), "AAC-LC");
    scene.settle();
    EXPECT_FALSE(sheet.issueList()->isVisible());
    EXPECT_TRUE(sheet.defaultButton()->isEnabled());
}

TEST(AudioExportView, ALongNameKeepsItsStartAndExtensionWithinTwoLines)
{
    const QString words = QString("Bass Groove ").repeated(16) + "final mix.wav";
    const QString letters = QString(200, 'x') + ".wav";
    const QString breaks = QString("Bass\nGroove ").repeated(16) + "final mix.wav"; // shown as spaces
    for (const QString &name : {words, letters, breaks}) {
        SCOPED_TRACE(name.toStdString());
        SheetScene scene;
        writeAudio(scene.file(name), 2, 44100, tone(4410, 2));
        scene.track = trackOf(scene.file(name));
        AudioExportView &sheet = scene.open();
        scene.settle();
        const QLabel &line = *sheet.nameLine();
        const QStringList lines = line.text().split('\n');
        ASSERT_EQ(lines.size(), 2);
        for (const QString &part : lines)
            EXPECT_LE(line.fontMetrics().horizontalAdvance(part), line.contentsRect().width()) << part.toStdString();
        EXPECT_TRUE(lines[0].startsWith(QString(name.left(12)).replace('\n', ' ')));
        EXPECT_TRUE(line.text().contains(QChar(0x2026)));
        EXPECT_TRUE(lines[1].endsWith(name.right(9)));
        EXPECT_GE(line.height(), 2 * line.fontMetrics().lineSpacing()); // neither line cut
        EXPECT_EQ(line.accessibleName(), name);
    }
}

TEST(AudioExportView, TheLoopShowsItsLengthsAndAnOutOfRangeCountBlocksTheExport)
{
    SheetScene scene;
    AudioExportView &sheet = scene.open({}, scene.loopOf(22050, 44100)); // 0.5 s
    LoopExportControls &loop = *sheet.loopControls();
    EXPECT_EQ(loop.exportPicker()->currentText(), "Selected loop");
    EXPECT_EQ(sheet.defaultButton()->text(), "Save Loop…");

    loop.quickChoice(8)->click();
    scene.settle();
    loop.refresh();
    EXPECT_EQ(sheet.session().repeatText(), "8");
    EXPECT_EQ(accessibleValue(loop.quickChoice(8)), "Selected");
    EXPECT_EQ(accessibleValue(loop.quickChoice(4)), "");
    EXPECT_EQ(loop.quickChoice(8)->accessibleName(), "Repeat loop 8 times");
    EXPECT_EQ(loop.sectionLine()->text(), "Selected section: 0.500 seconds – 1.000 seconds");
    EXPECT_EQ(loop.loopLengthLine()->text(), "Selected loop length: 0.500 seconds");
    EXPECT_EQ(loop.exportedLengthLine()->text(), "Exported audio length: 4.000 seconds");
    EXPECT_EQ(loop.summaryLine()->text(), "One audio file containing the selected loop played 8 times.");
    EXPECT_EQ(loop.repeatField()->text(), "8");
    EXPECT_TRUE(sheet.defaultButton()->isEnabled());

    loop.repeatField()->selectAll();
    type(loop.repeatField(), "1000");
    scene.settle();
    loop.refresh();
    EXPECT_EQ(sheet.session().repeatText(), "1000");
    EXPECT_EQ(loop.repeatField()->text(), "1000"); // stays as typed
    EXPECT_EQ(accessibleValue(loop.quickChoice(8)), "");
    EXPECT_EQ(loop.exportedLengthLine()->text(), "Exported audio length: —");
    EXPECT_TRUE(sheet.issueList()->issues().contains("Enter a repeat count from 1 to 999."));
    EXPECT_EQ(sheet.defaultButton()->text(), "Save Loop…");
    EXPECT_FALSE(sheet.defaultButton()->isEnabled());

    // The stepper steps from the typed count and writes only counts in range; the entire file
    // hides the loop part.
    loop.repeatStepper()->stepDown();
    scene.settle();
    EXPECT_EQ(sheet.session().repeatText(), "999");
    EXPECT_TRUE(sheet.defaultButton()->isEnabled());
    loop.repeatField()->selectAll();
    type(loop.repeatField(), "0");
    scene.settle();
    loop.refresh();
    EXPECT_FALSE(sheet.defaultButton()->isEnabled());
    loop.repeatStepper()->stepUp();
    scene.settle();
    EXPECT_EQ(sheet.session().repeatText(), "1");
    choose(loop.exportPicker(), "entire");
    scene.settle();
    loop.refresh();
    EXPECT_FALSE(loop.repeatPart()->isVisibleTo(&sheet));
    EXPECT_EQ(loop.summaryLine()->text(), "One audio file containing the entire recording.");
    EXPECT_EQ(loop.exportedLengthLine()->text(), "Exported audio length: 1.000 seconds");
    EXPECT_EQ(sheet.defaultButton()->text(), "Choose Destination…");
}

TEST(AudioExportView, ReturnPressesTheDefaultButton)
{
    SheetScene scene;
    AudioExportView &sheet = scene.open();
    ASSERT_TRUE(sheet.defaultButton()->isEnabled());
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&sheet, &press);
    EXPECT_EQ(scene.panels->completions.size(), 1);
    EXPECT_TRUE(sheet.session().isChoosingDestination());
}

TEST(AudioExportView, APairHasNoRestoreButtonAndItsSeparateFilesAskForAFolderAndABaseName)
{
    SheetScene scene;
    makeFolder(scene.file("takes"));
    scene.track = linkedPair(scene.store(), scene.file("takes"));
    AudioExportView &sheet = scene.open(settingsFor(ExportFormat::sd2), scene.loopOf(0, 1500));
    scene.settle();
    EXPECT_FALSE(sheet.restoreAccessButton()->isVisibleTo(&sheet));
    EXPECT_TRUE(sheet.pairOutputPicker()->isVisibleTo(&sheet));
    EXPECT_FALSE(sheet.baseNameField()->isVisibleTo(&sheet));
    EXPECT_EQ(sheet.defaultButton()->text(), "Save Loop…");

    choose(sheet.pairOutputPicker(), RawValue::text(SD2PairOutput::separateMono));
    scene.settle();
    ASSERT_EQ(sheet.session().pairOutput(), SD2PairOutput::separateMono);
    EXPECT_TRUE(sheet.baseNameField()->isVisibleTo(&sheet));
    EXPECT_EQ(sheet.baseNameField()->text(), sheet.session().pairBaseName());
    EXPECT_EQ(sheet.defaultButton()->text(), "Choose Folder…");
    EXPECT_FALSE(sheet.restoreAccessButton()->isVisibleTo(&sheet));
}

// What a reader, a dictation tool or an on-screen keyboard enters through a field's element is
// the session's, as typing is: the pair's base name and the loop's repeat count.
TEST(AudioExportView, WhatAReaderEntersInTheFieldsIsTheSessions)
{
    installAccessibleFactory();
    SheetScene scene;
    makeFolder(scene.file("takes"));
    scene.track = linkedPair(scene.store(), scene.file("takes"));
    AudioExportView &sheet = scene.open(settingsFor(ExportFormat::sd2), scene.loopOf(0, 1500));
    choose(sheet.pairOutputPicker(), RawValue::text(SD2PairOutput::separateMono));
    scene.settle();
    QAccessibleInterface *name = QAccessible::queryAccessibleInterface(sheet.baseNameField());
    name->setText(QAccessible::Value, QStringLiteral("Reader"));
    EXPECT_EQ(sheet.session().pairBaseName(), "Reader");
    name->editableTextInterface()->insertText(6, QStringLiteral(" take"));
    EXPECT_EQ(sheet.session().pairBaseName(), "Reader take");

    QAccessibleInterface *repeats = QAccessible::queryAccessibleInterface(sheet.loopControls()->repeatField());
    repeats->setText(QAccessible::Value, QStringLiteral("3"));
    EXPECT_EQ(sheet.session().repeatText(), "3");
    repeats->editableTextInterface()->insertText(1, QStringLiteral("2"));
    EXPECT_EQ(sheet.session().repeatText(), "32");
    repeats->editableTextInterface()->deleteText(0, 2);
    scene.settle();
    sheet.loopControls()->refresh();
    EXPECT_EQ(sheet.session().repeatText(), "");
    EXPECT_FALSE(sheet.defaultButton()->isEnabled());
}

TEST(AudioExportView, TheAdvisoryLineShowsTheComparisonsOwnAdvice)
{
    SheetScene scene;
    AudioExportView &sheet = scene.open(settingsFor(ExportFormat::wav, 24, 44100)); // from a 16-bit source
    ASSERT_TRUE(pumpUntil([&] { return !sheet.session().previewEligibility().isChecking(); }));
    scene.settle();
    sheet.previewControls()->refresh();
    EXPECT_TRUE(sheet.previewControls()->advisoryLine()->isVisibleTo(&sheet));
    EXPECT_EQ(sheet.previewControls()->advisoryLine()->text(), "Any audible difference may be very subtle.");
}

TEST(AudioExportView, AnExportRunsToItsResultOrIsCancelledAndClosingCancelsOnce)
{
    SheetScene scene;
    {
        AudioExportView &sheet = scene.open();
        sheet.defaultButton()->click();
        ASSERT_EQ(scene.panels->completions.size(), 1);
        scene.settle();
        EXPECT_FALSE(sheet.defaultButton()->isEnabled());
        EXPECT_FALSE(sheet.closeButton()->isEnabled());
        EXPECT_FALSE(sheet.dismiss()); // refused while busy
        scene.panels->completions.last()({QUrl::fromLocalFile(scene.file("out.wav"))});
        scene.settle();
        ASSERT_TRUE(sheet.session().isExporting());
        EXPECT_TRUE(sheet.cancelExportButton()->isVisibleTo(&sheet));
        EXPECT_FALSE(sheet.closeButton()->isVisibleTo(&sheet));
        EXPECT_FALSE(sheet.defaultButton()->isVisibleTo(&sheet));
        EXPECT_TRUE(sheet.progressBar()->isVisibleTo(&sheet));
        EXPECT_EQ(sheet.progressLine()->accessibleName(), "Export progress");
        scene.exporter->progress(0.999);
        ASSERT_TRUE(pumpUntil([&] { return sheet.progressLine()->text() == "Exporting… 99%"; }));
        scene.exporter->release = true;
        ASSERT_TRUE(pumpUntil([&] { return sheet.session().result().has_value(); }));
        scene.settle();
        EXPECT_EQ(sheet.messageLine()->text(), "Exported out.wav — 2.000 seconds each");
        EXPECT_TRUE(sheet.messageLine()->textInteractionFlags() & Qt::TextSelectableByMouse);
        EXPECT_EQ(sheet.closeButton()->text(), "Done");
        EXPECT_TRUE(sheet.showInFolderButton()->isVisibleTo(&sheet));
        EXPECT_EQ(sheet.showInFolderButton()->text(), "Show in Folder");
        EXPECT_FALSE(sheet.defaultButton()->isVisibleTo(&sheet));
        EXPECT_FALSE(sheet.restoreAccessButton()->isVisibleTo(&sheet));
        EXPECT_FALSE(sheet.formatControls()->isEnabled());
        EXPECT_FALSE(sheet.loopControls()->isEnabled());
        sheet.showInFolderButton()->click();
        EXPECT_EQ(scene.panels->shown.size(), 1);
        pressEscape(&sheet); // "Done"
        ASSERT_TRUE(pumpUntil([&] { return scene.closed(); }));
    }
    {
        // Escape while exporting cancels and keeps the sheet.
        scene.exporter->release = false;
        AudioExportView &sheet = scene.open();
        sheet.defaultButton()->click();
        scene.panels->completions.last()({QUrl::fromLocalFile(scene.file("second.wav"))});
        scene.settle();
        pressEscape(&sheet);
        scene.settle();
        EXPECT_EQ(sheet.progressLine()->text(), "Cancelling…");
        EXPECT_FALSE(sheet.cancelExportButton()->isEnabled());
        ASSERT_TRUE(pumpUntil([&] { return !sheet.session().isExporting(); }));
        scene.settle();
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_EQ(sheet.messageLine()->text(), "Export cancelled. No destination file was created.");
        EXPECT_EQ(sheet.closeButton()->text(), "Cancel");
        EXPECT_EQ(scene.exporter->cancelled, 1);
        EXPECT_TRUE(sheet.dismiss());
        ASSERT_TRUE(pumpUntil([&] { return scene.closed(); }));
    }
    {
        // The window takes the sheet away mid-export: the export is cancelled, once.
        scene.exporter->cancelled = 0;
        AudioExportView &sheet = scene.open();
        sheet.defaultButton()->click();
        scene.panels->completions.last()({QUrl::fromLocalFile(scene.file("third.wav"))});
        ASSERT_TRUE(sheet.session().isExporting());
        delete &sheet;
        ASSERT_TRUE(pumpUntil([&] { return scene.exporter->cancelled == 1; }));
        // The run's task lets go of the exporter once it has ended on the main thread too.
        EXPECT_TRUE(pumpUntil([&] { return scene.exporter.use_count() == 1; }));
    }
}

TEST(AudioExportView, AuditionButtonsStartAndStopTheirPreviewsAndClosingSilencesThem)
{
    SheetScene scene;
    AudioExportView &sheet = scene.open();
    ExportPreviewControls &controls = *sheet.previewControls();
    PreviewModeButton *original = controls.button(ExportPreviewMode::original);
    PreviewModeButton *processed = controls.button(ExportPreviewMode::processed);
    ASSERT_TRUE(pumpUntil([&] { return !sheet.session().previewEligibility().isChecking(); }));
    scene.settle();
    controls.refresh();
    EXPECT_EQ(original->accessibleName(), "Play original preview from the beginning");
    EXPECT_EQ(original->toolTip(), "Loop original from the beginning until stopped");
    const auto advisory = sheet.session().previewAdvisory();
    EXPECT_EQ(controls.advisoryLine()->isVisibleTo(&sheet), advisory.has_value());
    if (advisory) {
        EXPECT_EQ(controls.advisoryLine()->text(), *advisory);
    }
    ASSERT_TRUE(processed->isEnabled());

    processed->click();
    EXPECT_EQ(processed->accessibleName(), "Cancel preview — Processed");
    EXPECT_EQ(processed->toolTip(), "Stop the current preview");
    EXPECT_TRUE(processed->isPlaying());
    EXPECT_TRUE(controls.preparingIndicator()->isVisibleTo(&sheet));
    EXPECT_EQ(controls.preparingIndicator()->accessibleName(), "Preparing preview");
    EXPECT_TRUE(original->isEnabled());
    EXPECT_FALSE(original->isPlaying());
    processed->click();
    scene.settle();
    controls.refresh();
    EXPECT_EQ(controls.statusLine()->text(), "Preview stopped.");
    EXPECT_EQ(processed->accessibleName(), "Play processed preview from the beginning");
    EXPECT_FALSE(controls.preparingIndicator()->isVisibleTo(&sheet));

    // Blocking issues: the reason replaces the status; the buttons wait.
    ExportDefaults stale = sheet.session().draft();
    stale.sampleRate = 12345;
    sheet.session().setDraft(stale);
    scene.settle();
    controls.refresh();
    EXPECT_EQ(controls.statusLine()->text(), "Choose valid export settings and a playable source to preview.");
    EXPECT_FALSE(original->isEnabled());
    EXPECT_FALSE(controls.advisoryLine()->isVisibleTo(&sheet));
    stale.sampleRate = 44100;
    sheet.session().setDraft(stale);
    scene.settle();
    controls.refresh();

    original->click();
    ASSERT_TRUE(pumpUntil([&] { return scene.player->playing.load(); }));
    scene.settle();
    controls.refresh();
    EXPECT_EQ(original->accessibleName(), "Stop preview — Original");
    // Closing stops the audible preview.
    sheet.closeButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return !scene.player->playing.load() && scene.closed(); }));
}
