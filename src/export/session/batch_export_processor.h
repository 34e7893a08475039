#pragma once

#include "concurrency/cancellation.h"
#include "concurrency/serial_executor.h"
#include "export/audio_export_serving.h"
#include "export/export_defaults.h"
#include "export/sd2_pair_output.h"
#include "export/session/batch_export_item.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace tampod {

// Exports tracks strictly one after another into one folder with one settings record: a free
// name per track, then the single-file exporter, reporting the track's row after every step.
// A failed file never stops the batch; cancellation ends the current file and leaves every
// later one not exported. It writes nothing itself.
class BatchExportProcessor {
public:
    // Called on the main thread, in order, one report at a time.
    using Update = std::function<void(int index, const BatchExportItem &item)>;

    // Candidate names tried per track, the stem alone included.
    static constexpr int candidateLimit = 100000;

    explicit BatchExportProcessor(std::shared_ptr<AudioExportServing> exporter);

    // A main-thread task that reports every track exactly once as final (saved, failed,
    // cancelled or not exported) and throws nothing. The processor must outlive it.
    QCoro::Task<> run(QList<AudioTrack> tracks, ExportDefaults settings, QUrl directory, SD2PairOutput pairOutput,
                      Update update, CancellationToken token);

    // The key under which a file name is reserved for a run: precomposed, case folded.
    static QString nameKey(const QString &fileName);
    // The keys of every entry in the folder, hidden ones and links included; none when it
    // cannot be listed.
    static QSet<QString> existingKeys(const QUrl &directory);

    struct Destination {
        QUrl candidate;          // what the request gets: for a split pair, the base
        QStringList reservedKeys;
    };
    // The first candidate stem.ext, stem-2.ext, … whose names (both channel files for a split
    // pair) are neither reserved nor existing keys nor taken by any entry, a dangling link
    // included. Throws destinationExists after the last candidate, Cancelled between candidates.
    static Destination chooseDestination(const QUrl &directory, const QString &stem, const QString &extension,
                                         bool split, const QSet<QString> &reserved, const QSet<QString> &existing,
                                         const CancellationToken &token);

private:
    const std::shared_ptr<AudioExportServing> exporter_;
    SerialExecutor executor_; // last: the naming runs here
};

} // namespace tampod
