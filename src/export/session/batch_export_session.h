#pragma once

#include "concurrency/task_handle.h"
#include "export/audio_export_serving.h"
#include "export/export_defaults.h"
#include "export/sd2_pair_output.h"
#include "export/session/batch_export_item.h"
#include "export/session/batch_export_processor.h"
#include "export/session/file_panels.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>

namespace tampod {

// The model behind the batch export sheet: the tracks, one settings draft for all of them, the
// output of linked pairs, one row per track, the folder panel and the one run. Once finished
// it never starts again. Going away while a batch runs cancels the run; later reports are
// dropped.
// thread: main only, like its task and panel completion.
class BatchExportSession : public QObject {
    Q_OBJECT

public:
    // Without an exporter, a new AudioFileExporter.
    BatchExportSession(QList<AudioTrack> tracks, ExportDefaults defaults, std::shared_ptr<AudioExportServing> exporter,
                       std::shared_ptr<FilePanels> panels, QObject *parent = nullptr);
    ~BatchExportSession() override;

    const QUuid &id() const { return id_; }
    const QList<AudioTrack> &tracks() const { return tracks_; }
    const ExportDefaults &draft() const { return draft_; }
    void setDraft(const ExportDefaults &draft);
    SD2PairOutput pairOutput() const { return pairOutput_; }
    void setPairOutput(SD2PairOutput output);
    const QList<BatchExportItem> &items() const { return items_; }
    bool isChoosingDestination() const { return isChoosingDestination_; }
    bool isExporting() const { return isExporting_; }
    bool isCancelling() const { return isCancelling_; }
    bool isFinished() const { return isFinished_; }
    const std::optional<QUrl> &directory() const { return directory_; }
    const std::optional<ExportDefaults> &capturedSettings() const { return capturedSettings_; }

    // Derived on every read.
    QString title() const;
    QStringList issues() const;
    double progress() const; // saved and failed rows count whole
    QString summary() const;

    void chooseDestination();
    // What the folder panel's confirmation calls; refuses unless configuring.
    void start(const QUrl &directory, const ExportDefaults &settings);
    void cancel();
    // Opens the batch's folder in the file manager; nothing before a batch started.
    void showFolder();

Q_SIGNALS:
    void draftChanged();
    void pairOutputChanged();
    void itemsChanged(); // on every report
    void isChoosingDestinationChanged();
    void isExportingChanged();
    void isCancellingChanged();
    void isFinishedChanged();
    void directoryChanged();
    void capturedSettingsChanged();

private:
    friend struct BatchExportSessionProbe; // tests hand in reports the processor never makes
    void update(int index, const BatchExportItem &item);
    void finishRun();
    void setChoosing(bool choosing);
    void setExporting(bool exporting);
    void setCancelling(bool cancelling);
    void setFinished(bool finished);

    const QUuid id_ = QUuid::createUuid();
    const QList<AudioTrack> tracks_;
    ExportDefaults draft_;
    SD2PairOutput pairOutput_ = SD2PairOutput::stereo;
    QList<BatchExportItem> items_;
    bool isChoosingDestination_ = false;
    bool isExporting_ = false;
    bool isCancelling_ = false;
    bool isFinished_ = false;
    std::optional<QUrl> directory_;
    std::optional<ExportDefaults> capturedSettings_;
    const std::shared_ptr<FilePanels> panels_;
    const std::shared_ptr<BatchExportProcessor> processor_; // shared with its running task
    TaskHandle task_;
};

} // namespace tampod
