#include "export/session/batch_export_session.h"

#include "concurrency/thread_role.h"
#include "core/observable.h"
#include "export/engine/audio_file_exporter.h"
#include "export/preview_audio_focus.h"

#include <QPointer>

#include <algorithm>

namespace tampod {

namespace {

const QString noTracksText = QStringLiteral("Select audio files to export.");
const QString monoPairText = QStringLiteral(
    "For SD2 pairs, choose Keep source layout or Stereo; use SD2 pair output for separate mono files.");

void stopFocusedPreview()
{
    if (AudiblePreview *focused = PreviewAudioFocus::shared().current())
        focused->stop(QString());
}

} // namespace

BatchExportSession::BatchExportSession(QList<AudioTrack> tracks, ExportDefaults defaults,
                                       std::shared_ptr<AudioExportServing> exporter,
                                       std::shared_ptr<FilePanels> panels, QObject *parent)
    : QObject(parent), tracks_(std::move(tracks)), draft_(std::move(defaults)), panels_(std::move(panels)),
      processor_(std::make_shared<BatchExportProcessor>(exporter ? std::move(exporter)
                                                                 : std::make_shared<AudioFileExporter>()))
{
    for (const AudioTrack &track : tracks_)
        items_ << BatchExportItem::waiting(track);
}

BatchExportSession::~BatchExportSession()
{
    task_.cancel();
}

void BatchExportSession::setDraft(const ExportDefaults &draft)
{
    setObservable(this, draft_, draft, &BatchExportSession::draftChanged);
}

void BatchExportSession::setPairOutput(SD2PairOutput output)
{
    setObservable(this, pairOutput_, output, &BatchExportSession::pairOutputChanged);
}

void BatchExportSession::setChoosing(bool choosing)
{
    setObservable(this, isChoosingDestination_, choosing, &BatchExportSession::isChoosingDestinationChanged);
}

void BatchExportSession::setExporting(bool exporting)
{
    setObservable(this, isExporting_, exporting, &BatchExportSession::isExportingChanged);
}

void BatchExportSession::setCancelling(bool cancelling)
{
    setObservable(this, isCancelling_, cancelling, &BatchExportSession::isCancellingChanged);
}

void BatchExportSession::setFinished(bool finished)
{
    setObservable(this, isFinished_, finished, &BatchExportSession::isFinishedChanged);
}

QString BatchExportSession::title() const
{
    if (tracks_.size() == 1)
        return QStringLiteral("Export 1 File");
    return QStringLiteral("Export ") + QString::number(tracks_.size()) + QStringLiteral(" Files");
}

QStringList BatchExportSession::issues() const
{
    QStringList sentences = draft_.validationIssues();
    if (tracks_.isEmpty())
        sentences << noTracksText;
    const bool hasPair = std::any_of(tracks_.begin(), tracks_.end(), [](const AudioTrack &t) { return t.pair; });
    if (hasPair && draft_.options().channels == ExportChannels::mono)
        sentences << monoPairText;
    return sentences;
}

double BatchExportSession::progress() const
{
    if (items_.isEmpty())
        return 0;
    double sum = 0;
    for (const BatchExportItem &item : items_) {
        const bool done = item.state == BatchExportItem::State::saved || item.state == BatchExportItem::State::failed;
        sum += done ? 1.0 : item.progress;
    }
    return sum / double(items_.size());
}

QString BatchExportSession::summary() const
{
    qsizetype saved = 0;
    qsizetype failed = 0;
    for (const BatchExportItem &item : items_) {
        saved += item.state == BatchExportItem::State::saved;
        failed += item.state == BatchExportItem::State::failed;
    }
    const qsizetype others = items_.size() - saved - failed;
    if (isFinished_)
        return QString::number(saved) + QStringLiteral(" saved · ") + QString::number(failed) +
               QStringLiteral(" failed · ") + QString::number(others) + QStringLiteral(" not exported");
    if (isCancelling_)
        return QStringLiteral("Cancelling… Saved files will be kept.");
    return QString::number(saved + failed) + QStringLiteral(" of ") + QString::number(items_.size()) +
           QStringLiteral(" files finished");
}

void BatchExportSession::chooseDestination()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (isChoosingDestination_ || isExporting_ || isFinished_ || !issues().isEmpty() || !panels_)
        return;
    stopFocusedPreview();
    const ExportDefaults settings = draft_;
    OpenPanelOptions options;
    options.text = {title(), QStringLiteral("Export Here"), QString()};
    options.canChooseFiles = false;
    options.canChooseFolders = true;
    options.canCreateFolders = true;
    options.allowsMultipleSelection = false;
    setChoosing(true);
    QPointer<BatchExportSession> self(this);
    panels_->chooseFolder(options, [self, settings](const QList<QUrl> &urls) {
        if (!self)
            return;
        self->setChoosing(false);
        if (!urls.isEmpty())
            self->start(urls.first(), settings);
    });
}

void BatchExportSession::start(const QUrl &directory, const ExportDefaults &settings)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // The linked-pair sentence is the sheet's check only: it is not asked again here.
    if (isChoosingDestination_ || isExporting_ || isFinished_ || tracks_.isEmpty() ||
        !settings.validationIssues().isEmpty())
        return;
    setDraft(settings);
    if (capturedSettings_ != settings) {
        capturedSettings_ = settings;
        Q_EMIT capturedSettingsChanged();
    }
    if (directory_ != directory) {
        directory_ = directory;
        Q_EMIT directoryChanged();
    }
    setExporting(true);
    const SD2PairOutput pairOutput = pairOutput_;
    stopFocusedPreview();
    const TaskHandle cleanup = PreviewAudioFocus::shared().cleanup();

    QPointer<BatchExportSession> self(this);
    BatchExportProcessor::Update update = [self](int index, const BatchExportItem &item) {
        if (self)
            self->update(index, item);
    };
    task_ = TaskHandle::start([self, processor = processor_, tracks = tracks_, settings, directory, pairOutput, update,
                               cleanup](CancellationToken token) -> QCoro::Task<> {
        // A stopping audition ends before any file is read.
        auto previewEnded = cleanup.finished();
        co_await previewEnded;
        auto running = processor->run(tracks, settings, directory, pairOutput, update, token);
        co_await running;
        if (self)
            self->finishRun();
    });
}

void BatchExportSession::finishRun()
{
    setExporting(false);
    setCancelling(false);
    setFinished(true);
    task_ = TaskHandle();
}

void BatchExportSession::cancel()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!isExporting_ || isCancelling_)
        return;
    setCancelling(true);
    task_.cancel();
}

void BatchExportSession::showFolder()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (directory_ && panels_)
        panels_->openFolder(*directory_);
}

void BatchExportSession::update(int index, const BatchExportItem &item)
{
    if (!isExporting_ || index < 0 || index >= items_.size())
        return;
    items_[index] = item;
    Q_EMIT itemsChanged();
}

} // namespace tampod
