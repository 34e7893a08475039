// Developer tool: drives the real application on generated audio files, played on the null
// output, and writes PNGs of the main window in named states at device pixel ratios 1 and 2,
// for looking at and for the manual's figures.
//
//   window_shots OUT_DIR
//
// Writes NAME@1x.png and NAME@2x.png for: empty-library, playing-loop (several files, the
// first playing inside a loop section), the export sheet on that file (export-sheet: as
// opened; export-sheet-vinyl: with Vinyl and Hum on, scrolled to their rows;
// export-sheet-m4a: a WAV draft at 96 kHz switched to M4A; export-sheet-loop: the
// loop repeated 8 times; export-sheet-exporting: an export held at 42 %), the batch export
// sheet on the four files (batch-sheet: as opened; batch-sheet-finished: after their run),
// sd2-recovery (an SD2 file waiting for recovery), sd2-recovery-progress (a long SD2 file
// being prepared at 48 kHz), sd2-tools (the Advanced SD2 Recovery sheet over the window,
// as it shows on it) and the settings window (settings: as opened; settings-flac: FLAC
// chosen, its details disclosed); then the manual window: manual-welcome (as opened),
// manual-glossary (after the link "Frame" of "SD2 recovery") and manual-figure (the main
// window's figure enlarged, shown with the playing-loop shot until the figures have images of
// their own).
// Nothing of the user's is touched: settings, cache and data go to a scratch folder.

#include "app/application.h"

#include "windows/main_window.h"

#include "views/export/batch_export_view.h"
#include "views/export/export_sheet.h"
#include "views/export/loop_export_controls.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/issue_list.h"
#include "views/export_form/vinyl_controls.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/dialogs/alert_presenting.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/theme.h"
#include "views/settings/export_settings_view.h"
#include "views/manual/article_page.h"
#include "views/manual/glossary_link.h"
#include "views/manual/help_illustration_view.h"
#include "views/manual/help_section_view.h"
#include "views/manual/user_manual_view.h"
#include "windows/secondary_windows.h"

#include "platform/encode/audio_file_writer.h"
#include "platform/output/audio_output.h"
#include "platform/output/null_audio_output.h"
#include "concurrency/serial_executor.h"
#include "export/session/batch_export_session.h"
#include "export/session/export_session.h"
#include "player/player_model.h"
#include "sd2/sd2_recovery_failure.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QToolButton>
#include <QPointer>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

using namespace tampod;

namespace {

void print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// Alerts are printed, questions answered without a modal loop.
class PrintedAlerts : public AlertPresenting {
public:
    void show(const QString &title, const QString &message, const QStringList &details) override
    {
        print(QStringLiteral("alert: ") + title + QStringLiteral(" — ") + message + QStringLiteral("\n")
              + details.join(QStringLiteral("\n")));
    }
    bool confirmQuit() override { return true; }
    bool confirmRecoveryDepth(int) override { return false; }
    void showRecovery(const SD2RecoveryFailure &failure) override { show(failure.title, failure.message, {}); }
};

bool waitFor(const QString &what, const std::function<bool()> &condition, int seconds = 30)
{
    QDeadlineTimer deadline(seconds * 1000);
    while (!condition()) {
        if (deadline.hasExpired()) {
            print(QStringLiteral("window_shots: gave up waiting for ") + what + QStringLiteral("\n"));
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(5);
    }
    return true;
}

// A few seconds of music-like sound: a chord with a pulse, so that the meters move.
std::vector<float> tones(double seconds, int rate, int channels, double root, double beat)
{
    const auto frames = std::size_t(seconds * rate);
    std::vector<float> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double pulse = 0.35 + 0.65 * std::exp(-6 * std::fmod(t, beat));
        for (int c = 0; c < channels; ++c) {
            double value = 0;
            for (const double ratio : {1.0, 1.25, 1.5, 2.0})
                value += std::sin(2 * std::numbers::pi * root * ratio * t + c * 0.7) / 4;
            samples[i * channels + c] = float(0.8 * pulse * value * (c == 1 ? 0.8 : 1.0));
        }
    }
    return samples;
}

QString writeAudio(const QDir &folder, const QString &name, AudioWriteFormat format, double seconds, double root)
{
    const QString path = folder.filePath(name);
    AudioFileWriter writer(path, format);
    const auto samples = tones(seconds, format.sampleRate, format.channels, root, 60.0 / 120);
    writer.writeInterleaved(samples.data(), int64_t(samples.size() / format.channels));
    writer.finish();
    return path;
}

// An SD2 data fork without its resources: headerless big-endian 16-bit stereo.
QString writeBareSD2(const QDir &folder, const QString &name, double seconds = 6)
{
    const auto samples = tones(seconds, 44100, 2, 110, 0.5);
    QByteArray bytes;
    bytes.reserve(qsizetype(samples.size() * 2));
    for (const float sample : samples) {
        const auto value = std::int16_t(std::lround(sample * 32767));
        bytes.append(char((value >> 8) & 0xFF));
        bytes.append(char(value & 0xFF));
    }
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

// The window, and a sheet centred over it as the window shows it.
bool shoot(QWidget &window, const QDir &out, const QString &name, QWidget *sheet = nullptr)
{
    for (const double ratio : {1.0, 2.0}) {
        QImage image((QSizeF(window.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        window.render(&image);
        if (sheet) {
            QPainter painter(&image);
            sheet->render(&painter, QPoint((window.width() - sheet->width()) / 2, (window.height() - sheet->height()) / 2));
        }
        const QString path = out.filePath(name + QStringLiteral("@") + QString::number(ratio) + QStringLiteral("x.png"));
        if (!image.save(path)) {
            print(QStringLiteral("window_shots: cannot write ") + path + QStringLiteral("\n"));
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

// Scrolls the sheet's scroll area so that the given widgets, some of which may lie below its
// fold, show; where they cannot all fit, later ones win.
void revealInSheet(ExportSheet &sheet, const QList<QWidget *> &widgets)
{
    auto *scroll = sheet.findChild<QScrollArea *>();
    if (!scroll)
        return;
    // The inner widget must have its final geometry before the area can scroll within it.
    sheet.layout()->activate();
    scroll->widget()->layout()->activate();
    QCoreApplication::sendPostedEvents();
    for (QWidget *widget : widgets) {
        if (widget && widget->isVisibleTo(scroll->widget()))
            scroll->ensureWidgetVisible(widget, 0, 12);
    }
}

// Shows the export sheet on session in window, lets prepare set its state, shoots it, scrolled
// to what reveal names, and takes it away.
bool shootSheet(QWidget &window, std::unique_ptr<ExportSession> session, const QDir &out, const QString &name,
                const std::function<bool(ExportSheet &)> &prepare,
                const std::function<QList<QWidget *>(ExportSheet &)> &reveal = {})
{
    if (!session) {
        print(QStringLiteral("window_shots: no export session for ") + name + QStringLiteral("\n"));
        return false;
    }
    QPointer<ExportSheet> sheet = ExportSheet::make(std::move(session), &window);
    if (!SheetHost::of(&window).present(sheet))
        return false;
    if (!prepare(*sheet))
        return false;
    waitFor(QStringLiteral("the preview check"), [&] { return !sheet->session().previewEligibility().isChecking(); });
    QCoreApplication::sendPostedEvents();
    sheet->refresh();
    if (reveal)
        revealInSheet(*sheet, reveal(*sheet));
    const bool shot = shoot(*sheet, out, name);
    sheet->session().cancel();
    waitFor(QStringLiteral("the sheet to be idle"), [&] { return !sheet->session().isBusy(); });
    sheet->dismiss();
    waitFor(QStringLiteral("the sheet to close"), [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return sheet.isNull();
    });
    return shot;
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
    sheet->dismiss();
    waitFor(QStringLiteral("the batch sheet to close"), [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return sheet.isNull();
    });
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
                      [](ExportSheet &sheet) {
                          sheet.session().setExportsLoop(false);
                          return true;
                      }) &&
           shootSheet(window, player.primaryExportSession(vinyl), out, QStringLiteral("export-sheet-vinyl"),
                      [](ExportSheet &sheet) {
                          sheet.session().setExportsLoop(false);
                          return true;
                      },
                      [](ExportSheet &sheet) {
                          const VinylControls &rows = sheet.formatControls()->vinyl();
                          return QList<QWidget *>{rows.textureToggle(), rows.newPatternButton()};
                      }) &&
           shootSheet(window, player.primaryExportSession(wav96), out, QStringLiteral("export-sheet-m4a"),
                      [&](ExportSheet &sheet) {
                          sheet.session().setExportsLoop(false);
                          choose(sheet.formatControls()->format(), QStringLiteral("m4aAAC"));
                          return true;
                      },
                      [](ExportSheet &sheet) { return QList<QWidget *>{sheet.issueList()}; }) &&
           shootSheet(window, player.primaryExportSession({}), out, QStringLiteral("export-sheet-loop"),
                      [](ExportSheet &sheet) {
                          sheet.loopControls()->quickChoice(8)->click();
                          return true;
                      },
                      [](ExportSheet &sheet) {
                          const LoopExportControls &loop = *sheet.loopControls();
                          return QList<QWidget *>{loop.summaryLine(), loop.repeatStepper(), loop.exportPicker()};
                      }) &&
           shootSheet(window,
                      std::make_unique<ExportSession>(*player.primaryExportTrack(), ExportDefaults{}, nullptr,
                                                      std::make_shared<HeldExporter>(), nullptr, nullptr,
                                                      std::make_shared<ConfirmingPanels>(scratch),
                                                      [](const QString &) {}),
                      out, QStringLiteral("export-sheet-exporting"), [](ExportSheet &sheet) {
                          sheet.defaultButton()->click();
                          return waitFor(QStringLiteral("the export"), [&] {
                              return sheet.session().isExporting() && sheet.session().progress() == 0.42;
                          });
                      });
}

// The manual on "Welcome", after a glossary link, and with its first figure enlarged.
bool shootManual(const QDir &out, const QDir &scratch)
{
    const QDir figures(scratch.filePath(QStringLiteral("figures")));
    QDir().mkpath(figures.path());
    QFile::copy(out.filePath(QStringLiteral("playing-loop@2x.png")), figures.filePath(QStringLiteral("Manual_main_gui.png")));
    const std::unique_ptr<QWidget> window(makeManualWindow(figures.path()));
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
    const QList<QUrl> library = {
        QUrl::fromLocalFile(writeAudio(audio, QStringLiteral("Bass Groove.wav"), {}, 64, 55)),
        QUrl::fromLocalFile(writeAudio(audio, QStringLiteral("Drum Break.aiff"),
                                       {.type = AudioFileType::aiff, .sampleRate = 48000, .bitsPerChannel = 24}, 8,
                                       82.4)),
        QUrl::fromLocalFile(writeAudio(audio, QStringLiteral("Pad Swell.flac"),
                                       {.type = AudioFileType::flac, .bitsPerChannel = 24}, 12, 130.8)),
        QUrl::fromLocalFile(writeAudio(audio, QStringLiteral("Vocal Take.wav"), {.channels = 1}, 10, 196)),
    };
    const QUrl sd2 = QUrl::fromLocalFile(writeBareSD2(audio, QStringLiteral("Old Session.sd2")));

    Application tamPOD(std::make_unique<PrintedAlerts>());
    PlayerModel &player = tamPOD.player();
    tamPOD.start({});
    if (!waitFor(QStringLiteral("the main window"),
                 [&] { return tamPOD.mainWindow() && tamPOD.mainWindow()->isVisible(); }))
        return 1;
    MainWindow &window = *tamPOD.mainWindow();
    QCoreApplication::sendPostedEvents();
    if (!shoot(window, out, QStringLiteral("empty-library")))
        return 1;

    tamPOD.openDocuments(library);
    if (!waitFor(QStringLiteral("the import"), [&] {
            return player.tracks().size() == library.size() && player.imports().pendingCount() == 0
                   && player.canPlaySelection();
        }))
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
    if (!shootSheets(player, window, out, audio) || !shootBatchSheet(player, window, out, audio))
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

    if (!shootManual(out, audio))
        return 1;

    tamPOD.quit();
    return tamPOD.shutdown() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        print(QStringLiteral("usage: window_shots OUT_DIR\n"));
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/tampod-shots-XXXXXX"));
    if (!scratch.isValid()) {
        print(QStringLiteral("window_shots: no scratch folder\n"));
        return 1;
    }
    const QDir root(scratch.path());
    for (const char *name : {"config", "cache", "data", "audio"})
        root.mkpath(QString::fromLatin1(name));
    qputenv("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", root.filePath(QStringLiteral("cache")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("data")).toLocal8Bit());

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("tamPOD"));
    QApplication::setApplicationName(QStringLiteral("tamPOD"));
    Theme::applyDarkAppearance(application);
    AudioOutput::setShared(std::make_shared<NullAudioOutput>());

    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        print(QStringLiteral("window_shots: cannot make ") + out.path() + QStringLiteral("\n"));
        return 1;
    }
    try {
        return run(out, QDir(root.filePath(QStringLiteral("audio"))));
    } catch (const std::exception &error) {
        print(QStringLiteral("window_shots: ") + QString::fromLocal8Bit(error.what()) + QStringLiteral("\n"));
        return 1;
    }
}
