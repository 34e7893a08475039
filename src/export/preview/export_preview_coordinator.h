#pragma once

#include "concurrency/serial_job_queue.h"
#include "export/preview/export_preview_player.h"
#include "export/preview/export_preview_renderer.h"
#include "export/preview_audio_focus.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tampod {

// The auditions of one export sheet: one at a time, from preparing through playing to its
// end, with the sheet's status text. Starting one takes the process-wide audio focus from
// whichever audition holds it, and waits until that audition's player has stopped before
// main playback is paused and the new file is prepared. Results of a stopped or replaced
// audition change nothing.
// thread: main only, like its task.
class ExportPreviewCoordinator final : public AudiblePreview {
    Q_OBJECT

public:
    enum class Phase { idle, preparing, playing };

    // Pauses main playback and gives the listening volume 0...1 the audition plays at.
    using PauseMainPlayback = std::function<QCoro::Task<double>()>;

    static inline const QString failureFallback = QStringLiteral(
        "Preview could not be prepared or played. Check the source and available disk space, then try again.");

    // Without a renderer or a player, the default ones (a new exporter behind the renderer).
    explicit ExportPreviewCoordinator(std::shared_ptr<ExportPreviewPreparing> renderer = nullptr,
                                      std::shared_ptr<ExportPreviewPlaying> player = nullptr,
                                      QObject *parent = nullptr);
    ~ExportPreviewCoordinator() override;

    Phase phase() const { return phase_; }
    // The mode of the current or last audition; none after stop().
    const std::optional<ExportPreviewMode> &mode() const { return mode_; }
    double progress() const { return progress_; }
    const QString &message() const { return message_; }

    void start(const ExportPreviewRequest &request, PauseMainPlayback pauseMainPlayback);
    void stop(const QString &message) override;
    TaskHandle runningTask() const override { return jobs_.tail(); }

    // The status text of an audition that failed.
    static QString failureText(const std::exception_ptr &error);

Q_SIGNALS:
    void phaseChanged();
    void modeChanged();
    void progressChanged();
    void messageChanged();

private:
    using Job = SerialJobQueue::Job;
    void beganPlayback(const Job &job);
    void finish(const QString &text, const Job &job);
    void updateProgress(double value, const Job &job);

    void setPhase(Phase phase);
    void setMode(std::optional<ExportPreviewMode> mode);
    void setProgress(double progress);
    void setMessage(const QString &message);

    Phase phase_ = Phase::idle;
    std::optional<ExportPreviewMode> mode_;
    double progress_ = 0;
    QString message_;
    const std::shared_ptr<ExportPreviewPreparing> renderer_;
    const std::shared_ptr<ExportPreviewPlaying> player_;
    // One audition at a time: a new one waits for the one before to stop its player.
    SerialJobQueue jobs_;
};

} // namespace tampod
