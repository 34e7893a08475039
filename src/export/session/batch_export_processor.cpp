#include "export/session/batch_export_processor.h"

#include "export/session/internal/export_failure_text.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "core/error.h"
#include "core/file_handle.h"
#include "core/folder.h"
#include "files/access/file_access_lease.h"
#include "files/access/missing_audio_source.h"
#include "files/journal/audio_export_error.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tampod {

namespace {

const QString stoppedText = QStringLiteral("Batch stopped before this file.");
const QString cancelledText = QStringLiteral("Cancelled before saving.");

double clampedProgress(double value)
{
    return std::isfinite(value) ? std::min(std::max(value, 0.0), 1.0) : 0.0;
}

QString folderPath(const QUrl &directory)
{
    QString path = directory.toLocalFile();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

} // namespace

BatchExportProcessor::BatchExportProcessor(std::shared_ptr<AudioExportServing> exporter)
    : exporter_(std::move(exporter)), executor_(QStringLiteral("batch export"))
{
}

QString BatchExportProcessor::nameKey(const QString &fileName)
{
    // Folding can leave a decomposed sequence behind; composing again keeps one key per name.
    return fileName.normalized(QString::NormalizationForm_C)
        .toCaseFolded()
        .normalized(QString::NormalizationForm_C);
}

QSet<QString> BatchExportProcessor::existingKeys(const QUrl &directory)
{
    QSet<QString> keys;
    try {
        const Folder folder = Folder::open(directory.toLocalFile());
        folder.visitEntries(std::numeric_limits<int>::max(), [&](const Folder::Entry &entry) {
            keys.insert(nameKey(decodedPath(entry.name)));
            return false;
        });
    } catch (const SystemError &) {
        // A folder that may be written but not listed: each name is still looked up by itself,
        // and the exclusive rename never replaces anything.
    }
    return keys;
}

BatchExportProcessor::Destination BatchExportProcessor::chooseDestination(const QUrl &directory, const QString &stem,
                                                                          const QString &extension, bool split,
                                                                          const QSet<QString> &reserved,
                                                                          const QSet<QString> &existing,
                                                                          const CancellationToken &token)
{
    const QString folder = folderPath(directory);
    for (int n = 1;; ++n) {
        const QString name =
            stem + (n >= 2 ? QLatin1Char('-') + QString::number(n) : QString()) + QLatin1Char('.') + extension;
        const QUrl candidate = QUrl::fromLocalFile(folder + name);
        const QList<QUrl> destinations = split ? SD2PairOutputs::destinations(candidate) : QList<QUrl>{candidate};
        Destination chosen{candidate, {}};
        bool free = true;
        for (const QUrl &destination : destinations) {
            const QString key = nameKey(destination.fileName());
            free = free && !reserved.contains(key) && !existing.contains(key);
            chosen.reservedKeys << key;
        }
        // Also by path, for what came after the listing, and without following links: a
        // dangling link takes its name too.
        for (qsizetype i = 0; free && i < destinations.size(); ++i)
            free = !statusOf(destinations[i].toLocalFile(), LinkPolicy::NoFollow);
        if (free)
            return chosen;
        if (n == candidateLimit)
            throw AudioExportError(AudioExportError::Case::destinationExists);
        token.throwIfCancelled();
    }
}

namespace {

void conclude(BatchExportItem &row, const std::exception_ptr &error)
{
    row.progress = 0;
    if (isCancellation(error)) {
        row.state = BatchExportItem::State::cancelled;
        row.detail = cancelledText;
    } else {
        row.state = BatchExportItem::State::failed;
        row.detail = exportFailureText(error);
    }
}

void conclude(BatchExportItem &row, AudioExportResult result)
{
    QStringList names{displayedPath(result.destination.fileName())};
    for (const QUrl &url : std::as_const(result.additionalDestinations))
        names << displayedPath(url.fileName());
    row.state = BatchExportItem::State::saved;
    row.progress = 1;
    row.detail = names.join(QStringLiteral(", "));
    row.result = std::move(result);
}

} // namespace

QCoro::Task<> BatchExportProcessor::run(QList<AudioTrack> tracks, ExportDefaults settings, QUrl directory,
                                        SD2PairOutput pairOutput, Update update, CancellationToken token)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // One folder access for the whole batch; no request carries one of its own.
    auto access = std::make_unique<FileAccessLease>(directory);
    const QString extension = ExportFormats::fileExtension(settings.format);
    const auto staging = std::make_shared<SharedExportStaging>();
    // The folder is listed once: what is there takes its names under the run's own keys.
    auto listing = executor_.submit([directory] { return existingKeys(directory); });
    const QSet<QString> existing = co_await listing;
    QSet<QString> reserved;

    // Strictly one file after another: a file's export starts only once the row before it is
    // final, so exactly one row is ever exporting and nothing of a later file is on disk when
    // a cancel arrives, whatever room the disk has.
    for (int i = 0; i < tracks.size(); ++i) {
        const AudioTrack &track = tracks[i];
        BatchExportItem row = BatchExportItem::waiting(track);
        if (token.isCancelled()) {
            row.state = BatchExportItem::State::notExported;
            row.detail = stoppedText;
            update(i, row);
            continue;
        }
        std::optional<AudioExportResult> result;
        std::exception_ptr error;
        std::shared_ptr<bool> live; // progress of this row may still be shown
        try {
            if (track.waitsForRecovery())
                throw AudioExportError(AudioExportError::Case::unsupportedSource);
            const QString stem = track.exportStem() + QStringLiteral("-export");
            const bool split = track.pair && pairOutput == SD2PairOutput::separateMono;
            token.throwIfCancelled();
            auto naming = executor_.submit([directory, stem, extension, split, reserved, existing, token] {
                return chooseDestination(directory, stem, extension, split, reserved, existing, token);
            });
            const Destination destination = co_await naming;
            // Reserved even when this file then fails: no later row takes the name.
            for (const QString &key : destination.reservedKeys)
                reserved.insert(key);

            row.state = BatchExportItem::State::exporting;
            row.detail = displayedPath(destination.candidate.fileName());
            update(i, row);

            AudioExportRequest request;
            request.track = track;
            request.settings = settings;
            request.destination = destination.candidate;
            request.pairOutput = track.pair ? pairOutput : SD2PairOutput::stereo;
            request.sharedStaging = staging;

            live = std::make_shared<bool>(true);
            auto progress = [live, update, i, row](double value) {
                postToMainThread([live, update, i, row, value]() mutable {
                    if (!*live)
                        return;
                    row.progress = clampedProgress(value);
                    update(i, row);
                });
            };
            auto exporting = exporter_->exportAudio(std::move(request), progress, token);
            result = co_await exporting;
        } catch (...) {
            error = std::current_exception();
        }
        if (live) {
            // Progress hops to the main thread in posting order; one more turn after the result
            // (taken at once when the export ended before it was awaited) lets every report
            // posted before it land first. The flag drops anything later.
            co_await NextMainThreadTurn{};
            *live = false;
        }
        if (error)
            conclude(row, error);
        else
            conclude(row, std::move(*result));
        update(i, row);
    }
    // Every export has ended; its folder goes off the main thread, before the run returns.
    // Named, not awaited as a temporary: GCC destroys a temporary's captures twice when the
    // await suspends.
    auto closing = executor_.submit([staging] { staging->close(); });
    co_await closing;
    access.reset();
}

} // namespace tampod
