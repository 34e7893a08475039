#include "export/preview/export_preview_coordinator.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "core/observable.h"
#include "files/access/missing_audio_source.h"
#include "files/journal/audio_export_error.h"

#include <QPointer>

#include <chrono>

namespace tampod {

namespace {

QString modeText(ExportPreviewMode mode)
{
    return RawValue::text(mode);
}

} // namespace

ExportPreviewCoordinator::ExportPreviewCoordinator(std::shared_ptr<ExportPreviewPreparing> renderer,
                                                   std::shared_ptr<ExportPreviewPlaying> player, QObject *parent)
    : AudiblePreview(parent),
      renderer_(renderer ? std::move(renderer) : std::make_shared<ExportPreviewRenderer>()),
      player_(player ? std::move(player) : std::make_shared<ExportPreviewPlayer>())
{
}

ExportPreviewCoordinator::~ExportPreviewCoordinator()
{
    // Whoever sounds next still waits for this audition's player to stop.
    PreviewAudioFocus::shared().release(this);
}

void ExportPreviewCoordinator::start(const ExportPreviewRequest &request, PauseMainPlayback pauseMainPlayback)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    stop(QString());
    if (const QStringList issues = request.issues(); !issues.isEmpty()) {
        setMessage(issues.join(QLatin1Char('\n')));
        return;
    }
    PreviewAudioFocus &focus = PreviewAudioFocus::shared();
    if (AudiblePreview *other = focus.current())
        other->stop(QString());
    focus.take(this);
    const TaskHandle cleanup = focus.cleanup();

    setPhase(Phase::preparing);
    setMode(request.mode);
    setProgress(0);
    setMessage(QStringLiteral("Preparing ") + modeText(request.mode).toLower() + QStringLiteral(" preview…"));

    QPointer<ExportPreviewCoordinator> self(this);
    // Temporaries of a co_await operand are kept in locals (see the job queue).
    jobs_.enqueue([self, cleanup, request, pause = std::move(pauseMainPlayback), renderer = renderer_,
                   player = player_](Job job) -> QCoro::Task<> {
        const CancellationToken &cancel = job.token();
        std::shared_ptr<const PreparedExportPreview> prepared;
        std::exception_ptr error;
        try {
            auto stopped = cleanup.finished();
            co_await stopped;
            cancel.throwIfCancelled();
            double volume = 1.0;
            if (pause) {
                auto pausing = pause();
                volume = co_await pausing;
            }
            cancel.throwIfCancelled();
            auto progress = [self, job](double value) {
                postToMainThread([self, job, value] {
                    if (self)
                        self->updateProgress(value, job);
                });
            };
            auto preparing = renderer->prepare(request, progress, cancel);
            prepared = co_await preparing;
            cancel.throwIfCancelled();
            auto playing = player->play(prepared, volume, cancel);
            co_await playing;
            cancel.throwIfCancelled();
            if (self)
                self->beganPlayback(job);
            for (;;) {
                auto asking = player->isPlaying();
                if (!co_await asking)
                    break;
                co_await sleepFor(std::chrono::milliseconds(100));
                cancel.throwIfCancelled();
            }
            cancel.throwIfCancelled();
            if (self)
                self->finish(modeText(request.mode) + QStringLiteral(" preview finished."), job);
        } catch (...) {
            error = std::current_exception();
        }
        if (error && self)
            self->finish(failureText(error), job);
        auto stopping = player->stop();
        co_await stopping;
        prepared.reset(); // its job folder goes with it
    });
}

void ExportPreviewCoordinator::stop(const QString &message)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    PreviewAudioFocus::shared().release(this);
    // The running audition stops its player in its last step; nobody waits for it here, but
    // the next audition of this coordinator does.
    jobs_.cancelAllInOrder();
    setPhase(Phase::idle);
    setMode(std::nullopt);
    setProgress(0);
    setMessage(message);
}

QString ExportPreviewCoordinator::failureText(const std::exception_ptr &error)
{
    if (const auto text = MissingAudioSource::message(error))
        return *text;
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const AudioExportError &exportError) {
        return exportError.message();
    } catch (...) {
    }
    return failureFallback;
}

void ExportPreviewCoordinator::beganPlayback(const Job &job)
{
    if (!job.isCurrent())
        return;
    setPhase(Phase::playing);
    setProgress(1);
    const QString mode = mode_ ? modeText(*mode_).toLower() : QStringLiteral("audio");
    setMessage(QStringLiteral("Playing ") + mode + QStringLiteral(" preview"));
}

// Applies only while the job is current: a stopped or cancelled audition shows nothing.
void ExportPreviewCoordinator::finish(const QString &text, const Job &job)
{
    if (!job.isCurrent())
        return;
    setPhase(Phase::idle);
    setMessage(text);
    PreviewAudioFocus::shared().release(this);
}

// A render's report can land after playback began (it is posted; the render's result may be
// taken at once): only a preparing audition shows it.
void ExportPreviewCoordinator::updateProgress(double value, const Job &job)
{
    if (job.isCurrent() && phase_ == Phase::preparing)
        setProgress(value);
}

void ExportPreviewCoordinator::setPhase(Phase phase)
{
    setObservable(this, phase_, phase, &ExportPreviewCoordinator::phaseChanged);
}

void ExportPreviewCoordinator::setMode(std::optional<ExportPreviewMode> mode)
{
    setObservable(this, mode_, mode, &ExportPreviewCoordinator::modeChanged);
}

void ExportPreviewCoordinator::setProgress(double progress)
{
    setObservable(this, progress_, progress, &ExportPreviewCoordinator::progressChanged);
}

void ExportPreviewCoordinator::setMessage(const QString &message)
{
    setObservable(this, message_, message, &ExportPreviewCoordinator::messageChanged);
}

} // namespace tampod
