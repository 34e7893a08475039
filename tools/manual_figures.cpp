// Developer tool: drives the real application on generated audio files, played on the null
// output, into the states the manual's figures show, and writes each as OUT_DIR/<name>.png at
// device pixel ratio 2. Each image is twice the size of the window or block it shows; a line
// "<name>.png <width>x<height>" on standard output gives that size.
//
//   manual_figures OUT_DIR
//
// The committed figures in resources/manual/figures are made by this tool.

#include "shot_support.h"

#include "app/application.h"
#include "windows/main_window.h"

#include "views/export/export_preview_controls.h"
#include "views/export/audio_export_view.h"
#include "views/export/loop_export_controls.h"
#include "views/export_form/encoding_options_view.h"
#include "views/export_form/export_format_controls.h"
#include "views/export_form/vinyl_controls.h"
#include "views/settings/export_settings_view.h"
#include "views/waveform/linked_waveform_view.h"
#include "views/waveform/section_loop_overlay.h"

#include "export/session/export_session.h"
#include "help/help_illustration.h"
#include "player/player_model.h"
#include "windows/window_registry.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>

#include <cstdio>
#include <optional>

using namespace tampod;
using namespace tampod::shots;

namespace {

using S = HelpFigureSection;

// The first recording is long enough for the section the loop figures show.
constexpr int longSeconds = 72;
constexpr std::int64_t longFrames = std::int64_t(longSeconds) * S::sampleRate;
constexpr SectionRange figureSection{double(S::startFrame) / longFrames,
                                     double(S::startFrame + S::lengthFrames) / longFrames};
// 16× around the section: it fills about a third of the waveform.
constexpr double figureZoom = 4.0 / 6;

struct Stage {
    Application &app;
    PlayerModel &player;
    MainWindow &window;
    QDir audio;
    QList<QUuid> recordings; // the five first imported, in library order
};

struct Shot {
    QImage image;
    QSize designSize;
};

using Figure = std::optional<Shot> (*)(Stage &);

QWidget &content(Stage &stage)
{
    return *stage.window.centralWidget();
}

// Waits for the background work the main window shows: imports, overview, loop, zoom detail.
bool idle(Stage &stage)
{
    PlayerModel &player = stage.player;
    return waitFor(QStringLiteral("the window to settle"), [&] {
        return player.imports().pendingCount() == 0 && !player.waveforms().isLoading()
               && !player.sectionLoop().isPreparing() && !player.waveformZoom().isLoading()
               && !player.pairing().isPreparing() && !player.recoveryStatus();
    });
}

std::optional<Shot> shotOf(QWidget &widget)
{
    settle();
    return Shot{grab(widget, 2), widget.size()};
}

std::optional<Shot> windowShot(Stage &stage)
{
    if (!idle(stage))
        return std::nullopt;
    return shotOf(content(stage));
}

// The export sheet of the current recording, drawn by draw once it is up.
std::optional<Shot> sheetShot(Stage &stage, const ExportDefaults &defaults,
                              const std::function<std::optional<Shot>(AudioExportView &)> &draw)
{
    std::optional<Shot> shot;
    withAudioExportView(stage.window, stage.player.primaryExportSession(defaults), [&](AudioExportView &sheet) {
        shot = draw(sheet);
        return shot.has_value();
    });
    return shot;
}

std::optional<Shot> mainGui(Stage &stage)
{
    return windowShot(stage);
}

std::optional<Shot> loopSong(Stage &stage)
{
    stage.player.toggleRepeat();
    if (!waitFor(QStringLiteral("repeat"), [&] { return stage.player.isRepeating(); }))
        return std::nullopt;
    auto shot = windowShot(stage);
    stage.player.toggleRepeat();
    return shot;
}

// Leaves the section on and zoomed, for the export of the next figure.
std::optional<Shot> loopSelection(Stage &stage)
{
    PlayerModel &player = stage.player;
    player.toggleSectionLoop();
    if (!waitFor(QStringLiteral("section mode"), [&] { return player.sectionLoop().range().has_value(); }))
        return std::nullopt;
    player.setSectionRange(figureSection);
    if (!waitFor(QStringLiteral("the figure's section"), [&] {
            const auto &prepared = player.sectionLoop().prepared();
            return prepared && prepared->startFrame() == S::startFrame
                   && prepared->endFrame() == S::startFrame + S::lengthFrames;
        }))
        return std::nullopt;
    player.waveformZoom().setAmount(figureZoom, figureSection);
    // The pane asks for the zoomed detail on its next refresh.
    if (!waitFor(QStringLiteral("the zoomed waveform"), [&] {
            return player.waveformZoom().ready() && !player.waveformZoom().peaks().isEmpty();
        }))
        return std::nullopt;
    auto *overlay = stage.window.findChild<SectionLoopOverlay *>();
    if (!overlay || !idle(stage))
        return std::nullopt;
    stage.window.activateWindow();
    overlay->marker(true)->setFocus(Qt::TabFocusReason);
    if (!waitFor(QStringLiteral("the focused marker"), [&] { return overlay->focusedBoundary() == true; }))
        return std::nullopt;
    return windowShot(stage);
}

// Ends section mode and its zoom.
std::optional<Shot> loopExporting(Stage &stage)
{
    auto shot = sheetShot(stage, {}, [](AudioExportView &sheet) -> std::optional<Shot> {
        LoopExportControls &loop = *sheet.loopControls();
        loop.quickChoice(S::plays)->click();
        sheet.refresh();
        return shotOf(loop);
    });
    stage.player.toggleSectionLoop();
    stage.player.waveformZoom().reset();
    stage.player.seek(0);
    return shot;
}

std::optional<Shot> exportOptions(Stage &stage)
{
    return sheetShot(stage, {}, [](AudioExportView &sheet) { return shotOf(sheet); });
}

std::optional<Shot> formatOptions(Stage &stage)
{
    return sheetShot(stage, {}, [](AudioExportView &sheet) { return shotOf(*sheet.formatControls()->encodingOptions()); });
}

std::optional<Shot> auditionOptions(Stage &stage)
{
    return sheetShot(stage, {}, [](AudioExportView &sheet) { return shotOf(*sheet.previewControls()); });
}

// The export sheet's Vinyl block with both layers on at their usual levels.
std::optional<Shot> vinylSettings(Stage &stage)
{
    ExportDefaults layers;
    layers.vinyl.enabled = true;
    layers.vinyl.sample = VinylSample::one;
    layers.vinyl.amount = 30;
    layers.vinyl.humEnabled = true;
    layers.vinyl.humAmount = 15;
    return sheetShot(stage, layers, [](AudioExportView &sheet) -> std::optional<Shot> {
        QWidget *block = sheet.formatControls()->vinyl().textureToggle()->parentWidget();
        if (!block)
            return std::nullopt;
        return shotOf(*block);
    });
}

// The settings window with edits waiting for Apply Settings; the values are only an example.
std::optional<Shot> tamPODSettings(Stage &stage)
{
    QPointer<QWidget> window = stage.app.windows().open(QStringLiteral("settings"));
    auto *view = window ? window->findChild<ExportSettingsView *>() : nullptr;
    if (!view) {
        complain(QStringLiteral("no settings window"));
        return std::nullopt;
    }
    ExportDefaults example = view->draft();
    example.format = ExportFormat::aiff;
    example.sampleRate = 44100;
    example.bitDepth = 16;
    view->setDraft(example);
    view->refresh();
    auto shot = shotOf(*view);
    window->close();
    waitFor(QStringLiteral("the settings window to close"), [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    });
    return shot;
}

std::optional<Shot> exportChecked(Stage &stage)
{
    PlayerModel &player = stage.player;
    const QList<QUuid> checked = {stage.recordings[1], stage.recordings[3]};
    for (const QUuid &id : checked)
        player.setExportChecked(id, true);
    auto shot = windowShot(stage);
    for (const QUuid &id : checked)
        player.setExportChecked(id, false);
    return shot;
}

std::optional<Shot> exportSelected(Stage &stage)
{
    PlayerModel &player = stage.player;
    player.selectLibraryRows({stage.recordings[0], stage.recordings[2], stage.recordings[4]});
    auto shot = windowShot(stage);
    player.selectLibraryRows({stage.recordings[0]});
    return shot;
}

std::optional<AudioTrack> trackNamed(const PlayerModel &player, const QString &name)
{
    for (const AudioTrack &track : player.tracks()) {
        if (track.projectedURL().fileName() == name)
            return track;
    }
    return std::nullopt;
}

// Adds the two channel files of an old split stereo recording, recovered with assumed values
// and linked; the pair stays current.
std::optional<Shot> linkedSD2(Stage &stage)
{
    PlayerModel &player = stage.player;
    const QStringList names = {QStringLiteral("Old Session.L"), QStringLiteral("Old Session.R")};
    stage.app.openDocuments({QUrl::fromLocalFile(writeBareSD2(stage.audio, names[0], 6, 1, 110)),
                             QUrl::fromLocalFile(writeBareSD2(stage.audio, names[1], 6, 1, 165))});
    if (!waitFor(QStringLiteral("the SD2 channel files"), [&] {
            return trackNamed(player, names[0]) && trackNamed(player, names[1])
                   && player.imports().pendingCount() == 0;
        }))
        return std::nullopt;
    QSet<QUuid> channels;
    for (const QString &name : names) {
        const AudioTrack track = *trackNamed(player, name);
        channels.insert(track.id);
        if (!track.waitsForRecovery())
            continue;
        player.selectLibraryRows({track.id});
        player.recoverSelected(SD2Metadata{2, S::sampleRate, 1, std::nullopt, std::nullopt});
        if (!waitFor(QStringLiteral("the recovery of ") + name, [&] {
                const auto now = trackNamed(player, name);
                return now && now->recovery && now->recovery->copy && !player.recoveryStatus();
            }))
            return std::nullopt;
    }
    player.selectLibraryRows(channels);
    const auto pair = player.namedLinkSelection();
    if (!pair) {
        complain(QStringLiteral("the channel files cannot be linked"));
        return std::nullopt;
    }
    player.pairSD2(pair->first, pair->second);
    const auto linked = [&]() -> std::optional<AudioTrack> {
        for (const AudioTrack &track : player.tracks()) {
            if (track.pair)
                return track;
        }
        return std::nullopt;
    };
    if (!waitFor(QStringLiteral("the linked pair"), [&] { return linked().has_value(); }))
        return std::nullopt;
    player.selectVisibleLibraryRows(player.visibleLibraryIDs({linked()->id}));
    if (!waitFor(QStringLiteral("the pair's waveforms"), [&] {
            const auto *lanes = stage.window.findChild<LinkedWaveformView *>();
            return player.selectedTrack() && player.selectedTrack()->pair && lanes && lanes->ready();
        }))
        return std::nullopt;
    return windowShot(stage);
}

std::optional<Shot> sd2PairExportOptions(Stage &stage)
{
    ExportDefaults wav48k24;
    wav48k24.format = ExportFormat::wav;
    wav48k24.sampleRate = 48000;
    wav48k24.bitDepth = 24;
    return sheetShot(stage, wav48k24, [](AudioExportView &sheet) { return shotOf(sheet); });
}

// In the order their states build on each other: the loop figures share one section, and the
// linked pair joins the five recordings last.
const std::pair<const char *, Figure> figures[] = {
    {"Manual_main_gui", mainGui},
    {"Manual_loop_song", loopSong},
    {"Manual_loop_selection", loopSelection},
    {"Manual_loop_exporting", loopExporting},
    {"Manual_export_options", exportOptions},
    {"Manual_format_options", formatOptions},
    {"Manual_audition_options", auditionOptions},
    {"Manual_vinyl_settings", vinylSettings},
    {"Manual_tamPOD_settings", tamPODSettings},
    {"Manual_export_checked", exportChecked},
    {"Manual_export_selected", exportSelected},
    {"Manual_linked_sd2", linkedSD2},
    {"Manual_sd2pair_export_options", sd2PairExportOptions},
};

int run(const QDir &out, const QDir &audio)
{
    const QList<QUrl> library = writeLibrary(audio, 5, longSeconds);

    Application tamPOD(std::make_unique<PrintedAlerts>());
    PlayerModel &player = tamPOD.player();
    if (!startShown(tamPOD) || !openLibrary(tamPOD, library))
        return 1;
    Stage stage{tamPOD, player, *tamPOD.mainWindow(), audio, {}};
    for (const AudioTrack &track : player.tracks())
        stage.recordings.append(track.id);

    bool failed = false;
    for (const auto &[name, figure] : figures) {
        const QString file = QString::fromLatin1(name) + QStringLiteral(".png");
        const auto shot = figure(stage);
        if (!shot || shot->image.isNull()) {
            complain(QStringLiteral("no figure ") + file);
            failed = true;
            continue;
        }
        // Quality 0: the smallest file Qt's writer makes.
        if (!shot->image.save(out.filePath(file), "PNG", 0)) {
            complain(QStringLiteral("cannot write ") + out.filePath(file));
            failed = true;
            continue;
        }
        const QString line = file + u' ' + QString::number(shot->designSize.width()) + u'x'
                             + QString::number(shot->designSize.height()) + u'\n';
        std::fputs(line.toUtf8().constData(), stdout);
    }
    std::fflush(stdout);

    tamPOD.quit();
    return tamPOD.shutdown() && !failed ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    return runTool(argc, argv, QStringLiteral("manual_figures"), run);
}
