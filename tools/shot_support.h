#pragma once

// What the picture tools share: a scratch home for the real application on the null output,
// generated audio files, waiting on the event loop, and drawing a widget at a pixel ratio.

#include "views/kit/dialogs/alert_presenting.h"

#include <QDir>
#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QScrollArea;
class QWidget;

namespace tampod {
class Application;
class ExportSession;
class AudioExportView;
class SheetDialog;
} // namespace tampod

namespace tampod::shots {

// To standard error, at once.
void print(const QString &text);
// A failure, prefixed with the tool's name.
void complain(const QString &text);

// Alerts are printed, questions answered without a modal loop.
class PrintedAlerts : public AlertPresenting {
public:
    void show(const QString &title, const QString &message, const QStringList &details) override;
    bool confirmQuit() override { return true; }
    bool confirmRecoveryDepth(int) override { return false; }
    void showRecovery(const SD2RecoveryFailure &failure) override;
};

// Runs the event loop until condition holds; false, with a complaint, after seconds.
bool waitFor(const QString &what, const std::function<bool()> &condition, int seconds = 120);
// Delivers what is posted and lets pending refreshes and layouts run.
void settle();

// The first count (up to five) of a fixed set of recordings in several formats, written to
// folder; the first, a stereo WAV, lasts firstSeconds.
QList<QUrl> writeLibrary(const QDir &folder, int count, double firstSeconds);
// An SD2 data fork without its resources: headerless big-endian 16-bit frames at 44.1 kHz.
QString writeBareSD2(const QDir &folder, const QString &name, double seconds = 6, int channels = 2,
                     double root = 110);

// The widget drawn at ratio, with overlay (a sheet) centred over it when given.
QImage grab(QWidget &widget, double ratio, QWidget *overlay = nullptr);
// Scrolls area so that the given widgets, some of which may lie below its fold, show; where
// they cannot all fit, later ones win.
void reveal(QScrollArea &area, const QList<QWidget *> &widgets);

// Presents the export sheet of session over window, lets prepare set its state, lets use draw
// from it once its audition check is done, and takes it away again. False when the sheet could
// not be shown or prepare or use failed.
bool withAudioExportView(QWidget &window, std::unique_ptr<ExportSession> session,
                     const std::function<bool(AudioExportView &)> &use,
                     const std::function<bool(AudioExportView &)> &prepare = {});
// Dismisses sheet and waits until it is gone.
void closeSheet(SheetDialog *sheet);

// Starts app and waits for its main window to show.
bool startShown(Application &app);
// Opens files in app and waits until each is in the library and the selection can play.
bool openLibrary(Application &app, const QList<QUrl> &files);

// The frame of a tool: settings, cache and data in a scratch folder, an offscreen dark
// application on the null output, and OUT_DIR made. run gets OUT_DIR and a scratch folder for
// audio; its result is the exit code.
int runTool(int argc, char *argv[], const QString &tool,
            const std::function<int(const QDir &out, const QDir &audio)> &run);

} // namespace tampod::shots
