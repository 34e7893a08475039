// Developer tool: exports audio files to 16-bit 44.1 kHz FLAC in one batch, as the batch
// export sheet does, with a temporary-audio store of its own; prints one line per file and
// fails when any file was not saved. The batch benchmark times this whole process against one
// `flac -5` process over the same files.
//
//   batch_to_folder STORE_FOLDER OUTPUT_FOLDER FILE...

#include "export/engine/audio_file_exporter.h"
#include "export/session/batch_export_processor.h"

#include "concurrency/task_handle.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

using namespace tampod;

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: batch_to_folder STORE_FOLDER OUTPUT_FOLDER FILE...\n", stderr);
        return 2;
    }
    // Paths are taken as the shell gives them, relative to the current folder or not.
    const auto absolute = [](const QString &path) { return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()); };
    const auto failed = [](const std::exception_ptr &error) {
        std::fputs((errorText(error).toLocal8Bit() + "\n").constData(), stderr);
        return 1;
    };
    std::shared_ptr<TemporaryAudioStore> store;
    try {
        store = std::make_shared<TemporaryAudioStore>(absolute(arguments[1]));
    } catch (...) {
        return failed(std::current_exception());
    }
    ExportEnvironment environment;
    environment.store = [store]() -> TemporaryAudioStore & { return *store; };
    QList<AudioTrack> tracks;
    for (const QString &path : arguments.mid(3)) {
        AudioTrack track;
        track.id = QUuid::createUuid();
        track._url = TrackedFileURL(absolute(path));
        tracks << track;
    }
    ExportDefaults settings;
    settings.format = ExportFormat::flac;
    settings.bitDepth = 16;
    settings.sampleRate = 44100;

    BatchExportProcessor processor(std::make_shared<AudioFileExporter>(environment));
    int unsaved = 0;
    std::exception_ptr error;
    bool done = false;
    TaskHandle::start([&](CancellationToken token) -> QCoro::Task<> {
        try {
            auto running = processor.run(
                tracks, settings, absolute(arguments[2]), SD2PairOutput::stereo,
                [&](int, const BatchExportItem &item) {
                    if (item.state == BatchExportItem::State::exporting)
                        return;
                    unsaved += item.state != BatchExportItem::State::saved;
                    std::fputs(
                        (RawValue::text(item.state) + ": " + item.name + " " + item.detail + "\n").toLocal8Bit(),
                        stdout);
                },
                token);
            co_await running;
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        QCoreApplication::exit(0);
    });
    if (!done)
        application.exec();
    if (error)
        return failed(error);
    return unsaved == 0 ? 0 : 1;
}
