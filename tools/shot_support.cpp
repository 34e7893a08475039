#include "shot_support.h"

#include "app/application.h"
#include "export/session/export_session.h"
#include "platform/encode/audio_file_writer.h"
#include "platform/output/audio_output.h"
#include "platform/output/null_audio_output.h"
#include "player/player_model.h"
#include "sd2/sd2_recovery_failure.h"
#include "views/export/audio_export_view.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/theme.h"
#include "windows/main_window.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace tampod::shots {

namespace {

QString toolName = QStringLiteral("shots");

} // namespace

void print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void complain(const QString &text)
{
    print(toolName + QStringLiteral(": ") + text + QStringLiteral("\n"));
}

void PrintedAlerts::show(const QString &title, const QString &message, const QStringList &details)
{
    print(QStringLiteral("alert: ") + title + QStringLiteral(" — ") + message + QStringLiteral("\n")
          + details.join(QStringLiteral("\n")));
}

void PrintedAlerts::showRecovery(const SD2RecoveryFailure &failure)
{
    show(failure.title, failure.message, {});
}

bool waitFor(const QString &what, const std::function<bool()> &condition, int seconds)
{
    // Woken by the work it waits for (every result reaches this thread as an event), and by a
    // tick for conditions that change without one.
    QDeadlineTimer deadline(seconds * 1000);
    QTimer tick;
    tick.start(5);
    while (!condition()) {
        if (deadline.hasExpired()) {
            complain(QStringLiteral("gave up waiting for ") + what);
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

void settle()
{
    // Two turns: a refresh scheduled by the first may post layout requests of its own.
    for (int turn = 0; turn < 2; ++turn) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

namespace {

// Music-like sound: a chord with a pulse every beat seconds, interleaved.
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

// A new audio file of tones in folder; its path.
QString writeAudio(const QDir &folder, const QString &name, AudioWriteFormat format, double seconds, double root)
{
    const QString path = folder.filePath(name);
    AudioFileWriter writer(path, format);
    const auto samples = tones(seconds, format.sampleRate, format.channels, root, 60.0 / 120);
    writer.writeInterleaved(samples.data(), int64_t(samples.size() / format.channels));
    writer.finish();
    return path;
}

} // namespace

QList<QUrl> writeLibrary(const QDir &folder, int count, double firstSeconds)
{
    struct Recording {
        const char *name;
        AudioWriteFormat format;
        double seconds;
        double root;
    };
    const Recording recordings[] = {
        {"Bass Groove.wav", {}, firstSeconds, 55},
        {"Drum Break.aiff", {.type = AudioFileType::aiff, .sampleRate = 48000, .bitsPerChannel = 24}, 8, 82.4},
        {"Pad Swell.flac", {.type = AudioFileType::flac, .bitsPerChannel = 24}, 12, 130.8},
        {"Vocal Take.wav", {.channels = 1}, 10, 196},
        {"Guitar Riff.aiff", {.type = AudioFileType::aiff}, 9, 98},
    };
    QList<QUrl> files;
    for (int i = 0; i < count && i < int(std::size(recordings)); ++i) {
        const Recording &recording = recordings[i];
        files.append(QUrl::fromLocalFile(writeAudio(folder, QString::fromLatin1(recording.name), recording.format,
                                                    recording.seconds, recording.root)));
    }
    return files;
}

QString writeBareSD2(const QDir &folder, const QString &name, double seconds, int channels, double root)
{
    const auto samples = tones(seconds, 44100, channels, root, 0.5);
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

QImage grab(QWidget &widget, double ratio, QWidget *overlay)
{
    QImage image((QSizeF(widget.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    // A block of a sheet paints no background of its own.
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    if (overlay) {
        QPainter painter(&image);
        overlay->render(&painter, QPoint((widget.width() - overlay->width()) / 2,
                                         (widget.height() - overlay->height()) / 2));
    }
    return image;
}

void reveal(QScrollArea &area, const QList<QWidget *> &widgets)
{
    QWidget *inner = area.widget();
    if (!inner)
        return;
    // The inner widget must have its final geometry before the area can scroll within it.
    if (QWidget *holder = area.parentWidget(); holder && holder->layout())
        holder->layout()->activate();
    if (inner->layout())
        inner->layout()->activate();
    QCoreApplication::sendPostedEvents();
    for (QWidget *widget : widgets) {
        if (widget && widget->isVisibleTo(inner))
            area.ensureWidgetVisible(widget, 0, 12);
    }
}

bool withAudioExportView(QWidget &window, std::unique_ptr<ExportSession> session,
                     const std::function<bool(AudioExportView &)> &use,
                     const std::function<bool(AudioExportView &)> &prepare)
{
    if (!session) {
        complain(QStringLiteral("no export session"));
        return false;
    }
    QPointer<AudioExportView> sheet = AudioExportView::make(std::move(session), &window);
    if (!SheetHost::of(&window).present(sheet))
        return false;
    bool used = !prepare || prepare(*sheet);
    if (used) {
        waitFor(QStringLiteral("the preview check"),
                [&] { return !sheet->session().previewEligibility().isChecking(); });
        settle();
        sheet->refresh();
        used = use(*sheet);
    }
    sheet->session().cancel();
    waitFor(QStringLiteral("the sheet to be idle"), [&] { return !sheet->session().isBusy(); });
    closeSheet(sheet);
    return used;
}

void closeSheet(SheetDialog *sheet)
{
    QPointer<SheetDialog> open(sheet);
    if (!open)
        return;
    open->dismiss();
    waitFor(QStringLiteral("the sheet to close"), [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return open.isNull();
    });
}

bool startShown(Application &app)
{
    app.start({});
    return waitFor(QStringLiteral("the main window"), [&] { return app.mainWindow() && app.mainWindow()->isVisible(); });
}

bool openLibrary(Application &app, const QList<QUrl> &files)
{
    PlayerModel &player = app.player();
    app.openDocuments(files);
    return waitFor(QStringLiteral("the import"), [&] {
        return player.tracks().size() == files.size() && player.imports().pendingCount() == 0
               && player.canPlaySelection();
    });
}

int runTool(int argc, char *argv[], const QString &tool,
            const std::function<int(const QDir &out, const QDir &audio)> &run)
{
    toolName = tool;
    if (argc != 2) {
        print(QStringLiteral("usage: ") + tool + QStringLiteral(" OUT_DIR\n"));
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nothing of the user's is read or touched.
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/tampod-") + tool + QStringLiteral("-XXXXXX"));
    if (!scratch.isValid()) {
        complain(QStringLiteral("no scratch folder"));
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
        complain(QStringLiteral("cannot make ") + out.path());
        return 1;
    }
    try {
        return run(out, QDir(root.filePath(QStringLiteral("audio"))));
    } catch (const std::exception &error) {
        complain(QString::fromLocal8Bit(error.what()));
        return 1;
    }
}

} // namespace tampod::shots
