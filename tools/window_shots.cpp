// Developer tool: drives the real application on generated audio files, played on the null
// output, and writes PNGs of the main window in named states at device pixel ratios 1 and 2,
// for looking at.
//
//   window_shots OUT_DIR
//
// Writes NAME@1x.png and NAME@2x.png for: empty-library, playing-loop (several files, the
// first playing inside a loop section), the export sheet on that file (export-sheet: as
// opened; export-sheet-vinyl: with Vinyl and Hum on, scrolled to their rows;
// export-sheet-m4a: a WAV draft at 96 kHz switched to M4A; export-sheet-loop: the
// loop repeated 8 times; export-sheet-exporting: an export held at 42 %;
// export-sheet-long-name: a copy of it whose name is longer than two lines), the batch export
// sheet on the four files (batch-sheet: as opened; batch-sheet-finished: after their run),
// sd2-recovery (an SD2 file waiting for recovery), sd2-recovery-progress (a long SD2 file
// being prepared at 48 kHz), sd2-tools (the Advanced SD2 Recovery sheet over the window,
// as it shows on it) and the settings window (settings: as opened; settings-flac: FLAC
// chosen, its details disclosed); then the manual window: manual-welcome (as opened),
// manual-glossary (after the link "Frame" of "SD2 recovery") and manual-figure (the main
// window's figure enlarged).
// Nothing of the user's is touched: settings, cache and data go to a scratch folder.

#include "shot_support.h"

#include "app/application.h"

#include "windows/main_window.h"

#include "views/export/batch_export_view.h"
#include "views/export/audio_export_view.h"
#include "views/export/loop_export_controls.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/issue_list.h"
#include "views/export_form/vinyl_controls.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/settings/export_settings_view.h"
#include "views/manual/article_page.h"
#include "views/manual/glossary_link.h"
#include "views/manual/help_illustration_view.h"
#include "views/manual/help_section_view.h"
#include "views/manual/user_manual_view.h"
#include "windows/secondary_windows.h"

#include "concurrency/serial_executor.h"
#include "export/session/batch_export_session.h"
#include "export/session/export_session.h"
#include "player/player_model.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using namespace tampod;
using namespace tampod::shots;

namespace {

// The window, and a sheet centred over it as the window shows it.
bool shoot(QWidget &window, const QDir &out, const QString &name, QWidget *sheet = nullptr)
{
    for (const double ratio : {1.0, 2.0}) {
        const QString path = out.filePath(name + QStringLiteral("@") + QString::number(ratio) + QStringLiteral("x.png"));
        if (!grab(window, ratio, sheet).save(path)) {
            complain(QStringLiteral("cannot write ") + path);
            return false;
        }
        print(path + QStringLiteral("\n"));
    }
    return true;
}

// A save panel the user confirms at once, with a name in the scratch folder.
class ConfirmingPanels final : public FilePanels {
public:
    explicit ConfirmingPanels(QDir folder) : folder_(std::move(folder)) {}
    void open(const OpenPanelOptions &, Chosen completion) override { answer(completion, {}); }
    void save(const SavePanelOptions &options, Chosen completion) override
    {
        answer(completion, {QUrl::fromLocalFile(folder_.filePath(options.proposedName))});
    }
    void chooseFolder(const OpenPanelOptions &, Chosen completion) override { answer(completion, {}); }
    void restore(const FilePanelText &, Chosen completion) override { answer(completion, {}); }
    void showItems(const QList<QUrl> &) override {}
    void openFolder(const QUrl &) override {}

private:
    static void answer(Chosen completion, QList<QUrl> urls)
    {
        QTimer::singleShot(0, [completion, urls] { completion(urls); });
    }
    QDir folder_;
};

// An export that reaches 42 % and stays there until cancelled.
class HeldExporter final : public AudioExportServing {
public:
    Async<AudioExportResult> exportAudio(AudioExportRequest, ExportProgress progress, CancellationToken token) override
    {
        return executor_.submit([progress, token]() -> AudioExportResult {
            progress(0.42);
            for (;;) {
                token.throwIfCancelled();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }

private:
    SerialExecutor executor_{QStringLiteral("held exporter")};
};

// Shows the export sheet on session in window, lets prepare set its state, shoots it, scrolled
// to what show names, and takes it away.
bool shootSheet(QWidget &window, std::unique_ptr<ExportSession> session, const QDir &out, const QString &name,
                const std::function<bool(AudioExportView &)> &prepare,
                const std::function<QList<QWidget *>(AudioExportView &)> &show = {})
{
    return withAudioExportView(
        window, std::move(session),
        [&](AudioExportView &sheet) {
            if (show) {
                if (auto *scroll = sheet.findChild<QScrollArea *>())
                    reveal(*scroll, show(sheet));
            }
            return shoot(sheet, out, name);
        },
        prepare);
}

// Shows the batch sheet on every track of the library, shoots it as opened, then runs it into a
// folder of the scratch space and shoots it finished.
bool shootBatchSheet(PlayerModel &player, QWidget &window, const QDir &out, const QDir &scratch)
{
    auto session = std::make_unique<BatchExportSession>(player.tracks(), ExportDefaults{}, nullptr,
                                                        std::make_shared<ConfirmingPanels>(scratch));
    QPointer<BatchExportView> sheet = BatchExportView::make(std::move(session), &window);
    if (!SheetHost::of(&window).present(sheet))
        return false;
    QCoreApplication::sendPostedEvents();
    sheet->refresh();
    if (!shoot(*sheet, out, QStringLiteral("batch-sheet")))
        return false;
    const QString folder = scratch.filePath(QStringLiteral("batch"));
    QDir().mkpath(folder);
    sheet->session().start(QUrl::fromLocalFile(folder), sheet->session().draft());
    if (!waitFor(QStringLiteral("the batch"), [&] { return sheet->session().isFinished(); }, 120))
        return false;
    QCoreApplication::sendPostedEvents();
    sheet->refresh();
    QCoreApplication::sendPostedEvents();
    const bool shot = shoot(*sheet, out, QStringLiteral("batch-sheet-finished"));
    closeSheet(sheet);
    return shot;
}

bool shootSheets(PlayerModel &player, QWidget &window, const QDir &out, const QDir &scratch)
{
    ExportDefaults wav96;
    wav96.sampleRate = 96000;
    ExportDefaults vinyl;
    vinyl.vinyl.enabled = true;
    vinyl.vinyl.humEnabled = true;
    const auto choose = [](TaggedComboBox *picker, const QString &tag) {
        Q_EMIT picker->activated(picker->findData(tag));
    };
    return shootSheet(window, player.primaryExportSession({}), out, QStringLiteral("export-sheet"),
                      [](AudioExportView &sheet) {
                          sheet.session().setExportsLoop(false);
                          return true;
                      }) &&
           shootSheet(window, player.primaryExportSession(vinyl), out, QStringLiteral("export-sheet-vinyl"),
                      [](AudioExportView &sheet) {
                          sheet.session().setExportsLoop(false);
                          return true;
                      },
                      [](AudioExportView &sheet) {
                          const VinylControls &rows = sheet.formatControls()->vinyl();
                          return QList<QWidget *>{rows.textureToggle(), rows.newPatternButton()};
                      }) &&
           shootSheet(window, player.primaryExportSession(wav96), out, QStringLiteral("export-sheet-m4a"),
                      [&](AudioExportView &sheet) {
                          sheet.session().setExportsLoop(false);
                          choose(sheet.formatControls()->format(), QStringLiteral("m4aAAC"));
                          return true;
                      },
                      [](AudioExportView &sheet) { return QList<QWidget *>{sheet.issueList()}; }) &&
           shootSheet(window, player.primaryExportSession({}), out, QStringLiteral("export-sheet-loop"),
                      [](AudioExportView &sheet) {
                          sheet.loopControls()->quickChoice(8)->click();
                          return true;
                      },
                      [](AudioExportView &sheet) {
                          const LoopExportControls &loop = *sheet.loopControls();
                          return QList<QWidget *>{loop.summaryLine(), loop.repeatStepper(), loop.exportPicker()};
                      }) &&
           shootSheet(window,
                      std::make_unique<ExportSession>(*player.primaryExportTrack(), ExportDefaults{}, nullptr,
                                                      std::make_shared<HeldExporter>(), nullptr, nullptr,
                                                      std::make_shared<ConfirmingPanels>(scratch),
                                                      [](const QString &) {}),
                      out, QStringLiteral("export-sheet-exporting"), [](AudioExportView &sheet) {
                          sheet.defaultButton()->click();
                          return waitFor(QStringLiteral("the export"), [&] {
                              return sheet.session().isExporting() && sheet.session().progress() == 0.42;
                          });
                      });
}

// The export sheet on a copy of source whose name does not fit in the sheet's two name lines.
bool shootLongNameSheet(Application &app, QWidget &window, const QDir &out, const QDir &audio, const QUrl &source)
{
    const QString name = QStringLiteral("Bass Groove ").repeated(16) + QStringLiteral("final mix.wav");
    if (!QFile::copy(source.toLocalFile(), audio.filePath(name))) {
        complain(QStringLiteral("could not copy ") + source.toLocalFile());
        return false;
    }
    PlayerModel &player = app.player();
    app.openDocuments({QUrl::fromLocalFile(audio.filePath(name))});
    if (!waitFor(QStringLiteral("the long-named file"), [&] {
            const auto track = player.selectedTrack();
            return track && track->projectedURL().fileName() == name && player.imports().pendingCount() == 0 &&
                   player.canPlaySelection();
        }))
        return false;
    return shootSheet(window, player.primaryExportSession({}), out, QStringLiteral("export-sheet-long-name"),
                      [](AudioExportView &sheet) {
                          sheet.session().setExportsLoop(false);
                          return true;
                      });
}

// The manual on "Welcome", after a glossary link, and with its first figure enlarged.
bool shootManual(const QDir &out)
{
    const std::unique_ptr<QWidget> window(makeManualWindow());
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    auto *view = window->findChild<UserManualView *>();
    if (!view || !waitFor(QStringLiteral("the manual"), [&] { return view->page() && view->page()->isVisible(); }))
        return false;
    if (!shoot(*window, out, QStringLiteral("manual-welcome")))
        return false;

    view->articleList()->setCurrentRow(2);
    auto *section = qobject_cast<HelpSectionView *>(view->page()->anchorView(QStringLiteral("link")));
    if (!section || !section->glossaryLinks())
        return false;
    Q_EMIT section->glossaryLinks()->linkActivated(glossaryLink(QStringLiteral("Frame")));
    if (!waitFor(QStringLiteral("the glossary"), [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QWidget *frame = view->page() ? view->page()->anchorView(QStringLiteral("Frame")) : nullptr;
            return frame && frame->isVisible() && view->page()->verticalScrollBar()->value() > 0;
        }))
        return false;
    if (!shoot(*window, out, QStringLiteral("manual-glossary")))
        return false;

    // Large enough for the sheet to show whole over it.
    window->resize(960, 720);
    view->articleList()->setCurrentRow(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto *card = view->page()->findChild<HelpIllustrationView *>();
    if (!card)
        return false;
    card->enlarge();
    if (!waitFor(QStringLiteral("the enlarged figure"), [&] { return card->sheet() && card->sheet()->isVisible(); }))
        return false;
    QCoreApplication::processEvents();
    const bool shot = shoot(*window, out, QStringLiteral("manual-figure"), card->sheet());
    card->sheet()->dismiss();
    return shot;
}

int run(const QDir &out, const QDir &audio)
{
    const QList<QUrl> library = writeLibrary(audio, 4, 64);
    const QUrl sd2 = QUrl::fromLocalFile(writeBareSD2(audio, QStringLiteral("Old Session.sd2")));

    Application tamPOD(std::make_unique<PrintedAlerts>());
    PlayerModel &player = tamPOD.player();
    if (!startShown(tamPOD))
        return 1;
    MainWindow &window = *tamPOD.mainWindow();
    QCoreApplication::sendPostedEvents();
    if (!shoot(window, out, QStringLiteral("empty-library")))
        return 1;

    if (!openLibrary(tamPOD, library))
        return 1;
    player.toggleSectionLoop();
    if (!waitFor(QStringLiteral("the loop section"), [&] { return bool(player.sectionLoop().prepared()); }))
        return 1;
    player.play();
    if (!waitFor(QStringLiteral("playback"), [&] {
            return player.position() > player.sectionStart() + 1.2 && player.levels()[0] > 0.2;
        }))
        return 1;
    if (!shoot(window, out, QStringLiteral("playing-loop")))
        return 1;

    player.pause();
    if (!shootSheets(player, window, out, audio) || !shootBatchSheet(player, window, out, audio) ||
        !shootLongNameSheet(tamPOD, window, out, audio, library.front()))
        return 1;

    tamPOD.openDocuments({sd2});
    if (!waitFor(QStringLiteral("the SD2 file"), [&] {
            const auto track = player.selectedTrack();
            return track && track->recovery && player.imports().pendingCount() == 0;
        }))
        return 1;
    QCoreApplication::sendPostedEvents();
    if (!shoot(window, out, QStringLiteral("sd2-recovery")))
        return 1;

    // Long enough that its preparation is seen running.
    const QUrl longSD2 = QUrl::fromLocalFile(writeBareSD2(audio, QStringLiteral("Long Session.sd2"), 240));
    tamPOD.openDocuments({longSD2});
    const auto longReady = [&] {
        const auto track = player.selectedTrack();
        return track && track->projectedURL() == longSD2 && track->recovery && track->recovery->copy &&
               !player.recoveryStatus() && player.imports().pendingCount() == 0;
    };
    if (!waitFor(QStringLiteral("the long SD2 file"), longReady, 120))
        return 1;
    player.recoverSelected({2, 48000, 2, std::nullopt, std::nullopt});
    if (!waitFor(QStringLiteral("the 48 kHz recovery"), [&] {
            const auto status = player.recoveryStatus();
            return status && !status->queued && status->progress > 0.1;
        }))
        return 1;
    if (!shoot(window, out, QStringLiteral("sd2-recovery-progress")))
        return 1;
    if (!waitFor(QStringLiteral("the 48 kHz copy"), [&] { return !player.recoveryStatus(); }, 120))
        return 1;

    tamPOD.showsAdvancedSD2().setValue(true);
    if (!waitFor(QStringLiteral("the SD2 tools"), [&] { return window.sd2ToolsSheet() && window.sd2ToolsSheet()->isVisible(); }))
        return 1;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    if (!shoot(window, out, QStringLiteral("sd2-tools"), window.sd2ToolsSheet()))
        return 1;
    tamPOD.showsAdvancedSD2().setValue(false);

    QWidget *settings = tamPOD.windows().open(QStringLiteral("settings"));
    auto *view = settings ? settings->findChild<ExportSettingsView *>() : nullptr;
    if (!view)
        return 1;
    QCoreApplication::sendPostedEvents();
    if (!shoot(*settings, out, QStringLiteral("settings")))
        return 1;
    Q_EMIT view->format()->activated(view->format()->findData(QStringLiteral("flac")));
    view->formatDetailsToggle()->click();
    view->refresh();
    QCoreApplication::sendPostedEvents();
    if (!shoot(*settings, out, QStringLiteral("settings-flac")))
        return 1;
    settings->close();

    if (!shootManual(out))
        return 1;

    tamPOD.quit();
    return tamPOD.shutdown() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    return runTool(argc, argv, QStringLiteral("window_shots"), run);
}
