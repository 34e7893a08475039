#pragma once

#include "concurrency/serial_job_queue.h"
#include "concurrency/task_handle.h"
#include "export/audio_export_request.h"
#include "export/audio_export_serving.h"
#include "export/preview/export_preview_coordinator.h"
#include "export/preview/export_preview_eligibility.h"
#include "export/session/file_panels.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace tampod {

// The model behind the single-file export sheet: the settings draft, the whole recording or
// the selected loop repeated, the output of a linked pair, the sheet's own audition and its
// eligibility check, then the destination panel, the one export run and its result line.
// A run whose token was replaced changes nothing.
// thread: main only, like its tasks and panel completions.
class ExportSession : public QObject {
    Q_OBJECT

public:
    using PauseMainPlayback = ExportPreviewCoordinator::PauseMainPlayback;
    using Warn = std::function<void(const QString &message)>;

    static inline const QString warningTitle = QStringLiteral("Could Not Export Audio");

    // Without an exporter, a new AudioFileExporter; without a preview coordinator, a new one
    // with the default renderer and player.
    ExportSession(AudioTrack track, ExportDefaults defaults, std::shared_ptr<const PreparedSection> selectedLoop,
                  std::shared_ptr<AudioExportServing> exporter, ExportPreviewCoordinator *preview,
                  PauseMainPlayback pauseMainPlayback, std::shared_ptr<FilePanels> panels, Warn warn,
                  QObject *parent = nullptr);
    ~ExportSession() override;

    const QUuid &id() const { return id_; }
    const AudioTrack &track() const { return track_; }
    const std::shared_ptr<const PreparedSection> &selectedLoop() const { return selectedLoop_; }
    ExportPreviewCoordinator &preview() const { return *preview_; }
    ExportPreviewEligibility &previewEligibility() const { return *eligibility_; }

    // What the sheet edits; a change of any but the base name silences the sheet's audition.
    const ExportDefaults &draft() const { return draft_; }
    void setDraft(const ExportDefaults &draft);
    bool exportsLoop() const { return exportsLoop_; }
    void setExportsLoop(bool exportsLoop);
    const QString &repeatText() const { return repeatText_; }
    void setRepeatText(const QString &text);
    SD2PairOutput pairOutput() const { return pairOutput_; }
    void setPairOutput(SD2PairOutput output);
    const QString &pairBaseName() const { return pairBaseName_; }
    void setPairBaseName(const QString &name);

    bool isChoosingDestination() const { return isChoosingDestination_; }
    bool isRestoringAccess() const { return isRestoringAccess_; }
    bool isExporting() const { return isExporting_; }
    bool isCancelling() const { return isCancelling_; }
    bool isBusy() const { return isChoosingDestination_ || isExporting_ || isRestoringAccess_; }
    double progress() const { return progress_; }
    void setProgress(double progress);
    const std::optional<AudioExportResult> &result() const { return result_; }
    void setResult(std::optional<AudioExportResult> result); // none returns the sheet to editing
    const QString &message() const { return message_; }
    void setMessage(const QString &message);

    // Derived on every read.
    std::optional<LoopExportOptions> loopOptions() const;
    QStringList issues() const;
    std::optional<double> outputDuration() const;
    QString outputSummary() const;
    std::optional<QString> previewUnavailableReason() const;
    std::optional<QString> previewAdvisory() const;
    bool isPreviewActive(ExportPreviewMode mode) const;

    void startPreview(ExportPreviewMode mode);
    void restoreFileAccess();
    void showInFolder();
    void chooseDestination();
    void cancel();

    // A typed repeat count: a whole decimal number with an optional sign; 0 when unreadable.
    static std::int64_t repeatCount(const QString &text);
    // A base name the two mono files can carry.
    static bool isValidPairName(const QString &name);
    // The file name written for a chosen name: the format's extension replaces a typed
    // extension of another audio format (one of the importer's fixed list or an export
    // format's) or a bare trailing dot, and follows any other name; a name that already ends
    // with it, in any case, is kept.
    static QString nameWithExtension(const QString &name, const QString &extension);

Q_SIGNALS:
    void draftChanged();
    void exportsLoopChanged();
    void repeatTextChanged();
    void pairOutputChanged();
    void pairBaseNameChanged();
    void isChoosingDestinationChanged();
    void isRestoringAccessChanged();
    void isExportingChanged();
    void isCancellingChanged();
    void progressChanged();
    void resultChanged();
    void messageChanged();

private:
    void choosePairDirectory(const ExportDefaults &settings, const std::optional<LoopExportOptions> &loop);
    void start(const AudioExportRequest &request);
    void updateProgress(double value, const QUuid &operation);
    void finishRun(const QUuid &operation, std::optional<AudioExportResult> result, std::exception_ptr error);
    void stopFocusedPreview();
    void setChoosing(bool choosing);
    void setRestoring(bool restoring);
    void setExporting(bool exporting);
    void setCancelling(bool cancelling);

    const QUuid id_ = QUuid::createUuid();
    const AudioTrack track_;
    const std::shared_ptr<const PreparedSection> selectedLoop_;
    ExportDefaults draft_;
    bool exportsLoop_;
    QString repeatText_ = QStringLiteral("1");
    SD2PairOutput pairOutput_ = SD2PairOutput::stereo;
    QString pairBaseName_;
    ExportPreviewCoordinator *const preview_;         // child of this session
    ExportPreviewEligibility *const eligibility_;     // child of this session
    bool isChoosingDestination_ = false;
    bool isRestoringAccess_ = false;
    bool isExporting_ = false;
    bool isCancelling_ = false;
    double progress_ = 0;
    std::optional<AudioExportResult> result_;
    QString message_;
    const std::shared_ptr<AudioExportServing> exporter_;
    const std::shared_ptr<FilePanels> panels_;
    // The one export at a time; a cancelled run still winds down before the next would start.
    SerialJobQueue runs_;
    std::optional<QUuid> operationID_;
    const PauseMainPlayback pauseMainPlayback_;
    const Warn warn_;
};

} // namespace tampod
