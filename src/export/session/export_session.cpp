#include "export/session/export_session.h"

#include "core/native_path.h"
#include "export/session/internal/export_failure_text.h"

#include "concurrency/detached.h"
#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "core/error.h"
#include "core/observable.h"
#include "export/engine/audio_file_exporter.h"
#include "export/preview_audio_focus.h"
#include "files/access/file_access_lease.h"
#include "files/access/missing_audio_source.h"
#include "files/journal/audio_export_error.h"
#include "library/audio_file_extensions.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <limits>

namespace tampod {

namespace {

const QString selectLoopText = QStringLiteral("Select a loop before exporting it.");
const QString recoveryPendingText = QStringLiteral("Choose SD2 recovery parameters before exporting.");
const QString pairNameText = QStringLiteral("Enter a base filename without slashes, colons or control characters.");
const QString cancelledText = QStringLiteral("Export cancelled. No destination file was created.");
const QString restoredText =
    QStringLiteral("File access restored. Your export settings are unchanged. Choose preview or export to continue.");

// An extension that names audio: one of the extensions always taken as audio or one of
// ours. A fixed list, so that a word after a dot (Vocals.it) is never taken for a type.
bool isAudioExtension(const QString &extension)
{
    if (audioFileExtensions().contains(extension.toLower()))
        return true;
    const auto formats = ExportFormats::allCases();
    return std::any_of(formats.begin(), formats.end(), [&](ExportFormat format) {
        return extension.compare(ExportFormats::fileExtension(format), Qt::CaseInsensitive) == 0;
    });
}

} // namespace

ExportSession::ExportSession(AudioTrack track, ExportDefaults defaults, std::shared_ptr<const PreparedSection> selectedLoop,
                             std::shared_ptr<AudioExportServing> exporter, ExportPreviewCoordinator *preview,
                             PauseMainPlayback pauseMainPlayback, std::shared_ptr<FilePanels> panels, Warn warn,
                             QObject *parent)
    : QObject(parent), track_(std::move(track)), selectedLoop_(std::move(selectedLoop)), draft_(std::move(defaults)),
      exportsLoop_(selectedLoop_ != nullptr),
      pairBaseName_(displayedPath(track_.exportStem()) + QStringLiteral("-export")),
      preview_(preview ? preview : new ExportPreviewCoordinator(nullptr, nullptr, this)),
      eligibility_(new ExportPreviewEligibility(this)),
      exporter_(exporter ? std::move(exporter) : std::make_shared<AudioFileExporter>()), panels_(std::move(panels)),
      pauseMainPlayback_(std::move(pauseMainPlayback)), warn_(warn ? std::move(warn) : [](const QString &) {})
{
    preview_->setParent(this);
    eligibility_->refresh(track_);
}

ExportSession::~ExportSession() = default;

void ExportSession::setDraft(const ExportDefaults &draft)
{
    if (setObservable(this, draft_, draft, &ExportSession::draftChanged))
        preview_->stop(QString());
}

void ExportSession::setExportsLoop(bool exportsLoop)
{
    if (setObservable(this, exportsLoop_, exportsLoop, &ExportSession::exportsLoopChanged))
        preview_->stop(QString());
}

void ExportSession::setRepeatText(const QString &text)
{
    if (setObservable(this, repeatText_, text, &ExportSession::repeatTextChanged))
        preview_->stop(QString());
}

void ExportSession::setPairOutput(SD2PairOutput output)
{
    if (setObservable(this, pairOutput_, output, &ExportSession::pairOutputChanged))
        preview_->stop(QString());
}

void ExportSession::setPairBaseName(const QString &name)
{
    setObservable(this, pairBaseName_, name, &ExportSession::pairBaseNameChanged);
}

void ExportSession::setProgress(double progress)
{
    setObservable(this, progress_, progress, &ExportSession::progressChanged);
}

void ExportSession::setResult(std::optional<AudioExportResult> result)
{
    const auto same = [](const AudioExportResult &a, const AudioExportResult &b) {
        return a.destination == b.destination && a.frames == b.frames && a.channels == b.channels &&
               a.sampleRate == b.sampleRate && a.additionalDestinations == b.additionalDestinations;
    };
    if (result_.has_value() == result.has_value() && (!result || same(*result_, *result)))
        return;
    result_ = std::move(result);
    Q_EMIT resultChanged();
}

void ExportSession::setMessage(const QString &message)
{
    setObservable(this, message_, message, &ExportSession::messageChanged);
}

void ExportSession::setChoosing(bool choosing)
{
    setObservable(this, isChoosingDestination_, choosing, &ExportSession::isChoosingDestinationChanged);
}

void ExportSession::setRestoring(bool restoring)
{
    setObservable(this, isRestoringAccess_, restoring, &ExportSession::isRestoringAccessChanged);
}

void ExportSession::setExporting(bool exporting)
{
    setObservable(this, isExporting_, exporting, &ExportSession::isExportingChanged);
}

void ExportSession::setCancelling(bool cancelling)
{
    setObservable(this, isCancelling_, cancelling, &ExportSession::isCancellingChanged);
}

std::int64_t ExportSession::repeatCount(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype at = 0;
    bool negative = false;
    if (at < trimmed.size() && (trimmed[at] == QLatin1Char('+') || trimmed[at] == QLatin1Char('-')))
        negative = trimmed[at++] == QLatin1Char('-');
    if (at == trimmed.size())
        return 0;
    // Accumulated negative, so that the lowest value still fits.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (; at < trimmed.size(); ++at) {
        const char16_t c = trimmed[at].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return 0;
        value = value * 10 - digit;
    }
    if (!negative && value == lowest)
        return 0;
    return negative ? value : -value;
}

bool ExportSession::isValidPairName(const QString &name)
{
    if (name.trimmed().isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const char32_t c : name.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Other_Control || category == QChar::Other_Format || c == U'/' || c == U':')
            return false;
    }
    return true;
}

QString ExportSession::nameWithExtension(const QString &name, const QString &extension)
{
    const QString suffix = QLatin1Char('.') + extension;
    if (name.endsWith(suffix, Qt::CaseInsensitive))
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A bare trailing dot is an extension left empty: the format's takes its place.
    if (dot > 0 && (dot == name.size() - 1 || isAudioExtension(name.mid(dot + 1))))
        return name.left(dot) + suffix;
    return name + suffix;
}

std::optional<LoopExportOptions> ExportSession::loopOptions() const
{
    if (!exportsLoop_ || !selectedLoop_)
        return std::nullopt;
    return LoopExportOptions{selectedLoop_, repeatCount(repeatText_)};
}

QStringList ExportSession::issues() const
{
    AudioExportRequest request;
    request.track = track_;
    request.settings = draft_;
    request.destination = track_.projectedURL(); // the destination plays no part in the check
    request.loop = loopOptions();
    request.pairOutput = pairOutput_;
    QStringList sentences = request.issues();
    if (exportsLoop_ && !request.loop)
        sentences << selectLoopText;
    if (track_.waitsForRecovery())
        sentences << recoveryPendingText;
    if (pairOutput_ == SD2PairOutput::separateMono && !isValidPairName(pairBaseName_))
        sentences << pairNameText;
    sentences.removeDuplicates();
    return sentences;
}

std::optional<double> ExportSession::outputDuration() const
{
    if (result_)
        return double(result_->frames) / double(result_->sampleRate);
    if (!exportsLoop_)
        return track_.duration;
    const auto loop = loopOptions();
    if (!loop || !loop->issues(track_).isEmpty())
        return std::nullopt;
    const PreparedSection &section = *loop->section;
    return (double(section.endFrame()) / section.sampleRate() - double(section.startFrame()) / section.sampleRate()) *
           double(loop->repeatCount);
}

QString ExportSession::outputSummary() const
{
    const QString subject = pairOutput_ == SD2PairOutput::separateMono ? QStringLiteral("Two mono files, each")
                                                                        : QStringLiteral("One audio file");
    if (!exportsLoop_)
        return subject + QStringLiteral(" containing the entire recording.");
    const auto loop = loopOptions();
    if (!loop || !loop->issues(track_).isEmpty())
        return QStringLiteral("Enter a valid repeat count to calculate the exported length.");
    return subject + QStringLiteral(" containing the selected loop played ") + QString::number(loop->repeatCount) +
           (loop->repeatCount == 1 ? QStringLiteral(" time.") : QStringLiteral(" times."));
}

std::optional<QString> ExportSession::previewUnavailableReason() const
{
    if (isBusy())
        return QStringLiteral("Preview is unavailable while choosing a destination or exporting.");
    if (result_)
        return QStringLiteral("Export complete. Close this window to start another comparison.");
    if (!issues().isEmpty())
        return QStringLiteral("Choose valid export settings and a playable source to preview.");
    return eligibility_->unavailableReason(draft_);
}

std::optional<QString> ExportSession::previewAdvisory() const
{
    if (previewUnavailableReason() || !eligibility_->source())
        return std::nullopt;
    const auto comparison = eligibility_->source()->comparison(draft_);
    return comparison ? comparison->advisory : std::nullopt;
}

bool ExportSession::isPreviewActive(ExportPreviewMode mode) const
{
    return preview_->phase() != ExportPreviewCoordinator::Phase::idle && preview_->mode() == mode;
}

void ExportSession::startPreview(ExportPreviewMode mode)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (previewUnavailableReason())
        return;
    preview_->start({track_, draft_, loopOptions(), mode, pairOutput_}, pauseMainPlayback_);
}

void ExportSession::stopFocusedPreview()
{
    if (AudiblePreview *focused = PreviewAudioFocus::shared().current())
        focused->stop(QString());
}

void ExportSession::restoreFileAccess()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (isBusy() || result_ || track_.pair || !panels_)
        return;
    preview_->stop(QString());
    stopFocusedPreview();
    setRestoring(true);
    const FilePanelText text{
        QStringLiteral("Restore File Access"), QStringLiteral("Restore Access"),
        QStringLiteral("Select the original file loaded as ") + displayedPath(track_.projectedURL().fileName()) +
            QStringLiteral(". Its name or folder may have changed. Copies and replacements will not be substituted.")};
    QPointer<ExportSession> self(this);
    panels_->restore(text, [self, source = track_._url.source()](const QList<QUrl> &urls) {
        if (!self)
            return;
        if (urls.isEmpty()) {
            self->setRestoring(false);
            return;
        }
        const QUrl chosen = urls.first();
        // The check takes the source's lock and touches the file system: off the main thread.
        TaskHandle::start([self, source, chosen](CancellationToken) -> QCoro::Task<> {
            QString failure;
            try {
                auto checking = runDetached(TaskPriority::UserInitiated, [source, chosen] {
                    const FileAccessLease lease(chosen);
                    source->restoreAccess(chosen);
                });
                co_await checking;
            } catch (const Error &error) {
                failure = error.message();
            } catch (...) {
                failure = AudioExportError(AudioExportError::Case::storage).message();
            }
            if (!self)
                co_return;
            self->setRestoring(false);
            if (!failure.isEmpty()) {
                self->setMessage(failure);
                co_return;
            }
            self->setMessage(restoredText);
            self->eligibility_->refresh(self->track_);
        });
    });
}

void ExportSession::showInFolder()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!result_ || !panels_)
        return;
    panels_->showItems(QList<QUrl>{result_->destination} + result_->additionalDestinations);
}

void ExportSession::chooseDestination()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (isBusy() || result_ || !issues().isEmpty() || !panels_)
        return;
    stopFocusedPreview();
    preview_->stop(QString());
    const ExportDefaults settings = draft_;
    const std::optional<LoopExportOptions> loop = loopOptions();
    if (pairOutput_ == SD2PairOutput::separateMono) {
        choosePairDirectory(settings, loop);
        return;
    }
    const QString extension = ExportFormats::fileExtension(settings.format);
    SavePanelOptions options;
    options.text = {loop ? QStringLiteral("Save Loop") : QStringLiteral("Export Entire Audio File"),
                    QStringLiteral("Export"),
                    QStringLiteral("Choose a new filename. Existing files and your source audio will not be replaced.")};
    options.proposedName = displayedPath(track_.exportStem()) +
                           (loop ? QStringLiteral("-loop-x") + QString::number(loop->repeatCount) + QLatin1Char('.')
                                 : QStringLiteral("-export.")) +
                           extension;
    options.fileExtension = extension;
    options.canCreateFolders = true;
    setChoosing(true);
    QPointer<ExportSession> self(this);
    const SD2PairOutput pairOutput = pairOutput_;
    panels_->save(options, [self, settings, loop, pairOutput](const QList<QUrl> &urls) {
        if (!self)
            return;
        self->setChoosing(false);
        if (urls.isEmpty())
            return;
        const QFileInfo chosen(urls.first().toLocalFile());
        const QUrl destination = QUrl::fromLocalFile(
            chosen.path() + QLatin1Char('/') +
            nameWithExtension(chosen.fileName(), ExportFormats::fileExtension(settings.format)));
        self->start({self->track_, settings, destination, loop, pairOutput, nullptr});
    });
}

void ExportSession::choosePairDirectory(const ExportDefaults &settings, const std::optional<LoopExportOptions> &loop)
{
    const QString extension = ExportFormats::fileExtension(settings.format);
    const QString name = nameWithExtension(pairBaseName_, extension);
    const QString stem = name.chopped(extension.size() + 1);
    const QString suffix = name.right(extension.size() + 1); // as the files will carry it
    OpenPanelOptions options;
    options.text = {QStringLiteral("Export Left and Right Mono Files"), QStringLiteral("Export Here"),
                    QStringLiteral("Save ") + stem + QStringLiteral(".L") + suffix + QStringLiteral(" and ") + stem +
                        QStringLiteral(".R") + suffix + QStringLiteral(". Existing files are never replaced.")};
    options.canChooseFiles = false;
    options.canChooseFolders = true;
    options.canCreateFolders = true;
    options.allowsMultipleSelection = false;
    setChoosing(true);
    QPointer<ExportSession> self(this);
    panels_->chooseFolder(options, [self, settings, loop, name](const QList<QUrl> &urls) {
        if (!self)
            return;
        self->setChoosing(false);
        if (urls.isEmpty())
            return;
        const QUrl folder = urls.first();
        auto lease = std::make_shared<const FileAccessLease>(folder);
        QString path = folder.toLocalFile();
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        const QUrl destination = QUrl::fromLocalFile(path + name);
        self->start({self->track_, settings, destination, loop, SD2PairOutput::separateMono, std::move(lease)});
    });
}

void ExportSession::start(const AudioExportRequest &request)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // A second guard: the request carries what chooseDestination() checked before its panel.
    if (isBusy() || result_)
        return;
    if (track_.waitsForRecovery()) {
        setMessage(recoveryPendingText);
        return;
    }
    if (const QStringList requestIssues = request.issues(); !requestIssues.isEmpty()) {
        setMessage(requestIssues.join(QLatin1Char('\n')));
        return;
    }
    stopFocusedPreview();
    const TaskHandle cleanup = PreviewAudioFocus::shared().cleanup();
    preview_->stop(QString());
    const TaskHandle previewTask = preview_->runningTask();

    const QUuid operation = QUuid::createUuid();
    operationID_ = operation;
    setProgress(0);
    setMessage(QString());
    setExporting(true);
    setCancelling(false);

    QPointer<ExportSession> self(this);
    runs_.enqueue([self, operation, request, exporter = exporter_, previewTask,
                   cleanup](SerialJobQueue::Job job) -> QCoro::Task<> {
        std::optional<AudioExportResult> result;
        std::exception_ptr error;
        try {
            // The stopped auditions wind down before the export reads or writes anything.
            auto previewEnded = previewTask.finished();
            co_await previewEnded;
            auto cleanedUp = cleanup.finished();
            co_await cleanedUp;
            job.token().throwIfCancelled();
            auto progress = [self, operation](double value) {
                postToMainThread([self, operation, value] {
                    if (self)
                        self->updateProgress(value, operation);
                });
            };
            auto exporting = exporter->exportAudio(request, progress, job.token());
            result = co_await exporting;
        } catch (...) {
            error = std::current_exception();
        }
        if (self)
            self->finishRun(operation, std::move(result), error);
    });
}

void ExportSession::updateProgress(double value, const QUuid &operation)
{
    if (operationID_ == operation)
        setProgress(value);
}

void ExportSession::finishRun(const QUuid &operation, std::optional<AudioExportResult> result,
                              std::exception_ptr error)
{
    if (operationID_ != operation)
        return;
    QString failure;
    if (result) {
        QStringList names{displayedPath(result->destination.fileName())};
        for (const QUrl &url : std::as_const(result->additionalDestinations))
            names << displayedPath(url.fileName());
        const double seconds = double(result->frames) / double(result->sampleRate);
        setResult(std::move(result));
        setProgress(1);
        setMessage(QStringLiteral("Exported ") + names.join(QStringLiteral(", ")) + QStringLiteral(" — ") +
                   LoopExportOptions::durationText(seconds) + QStringLiteral(" each"));
    } else if (isCancellation(error)) {
        setMessage(cancelledText);
    } else {
        failure = exportFailureText(error);
        setMessage(failure);
    }
    setExporting(false);
    setCancelling(false);
    operationID_.reset();
    // Last: the alert runs a modal loop, after which this session may be gone.
    if (!failure.isEmpty())
        warn_(failure);
}

void ExportSession::cancel()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!isExporting_ || isCancelling_)
        return;
    setCancelling(true);
    runs_.cancelAll();
}

} // namespace tampod
