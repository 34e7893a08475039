#include "player/bpm_detection_queue.h"

#include "bpm/bpm_analysis_error.h"
#include "bpm/bpm_detection_error.h"
#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"
#include "core/error.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace tampod {

BPMDetectionQueue::BPMDetectionQueue(std::shared_ptr<BPMAnalyzing> service, QObject *parent)
    : QObject(parent), service_(std::move(service))
{
    jobs_.onActiveKeyChanged([this] { Q_EMIT activeIDChanged(); });
    jobs_.onStarted([this](const QUuid &id) {
        if (const auto found = states_.find(id); found != states_.end() && found->queued) {
            found->queued = false;
            Q_EMIT statesChanged();
        }
    });
}

void BPMDetectionQueue::submit(const AudioTrack &track)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (track.waitsForRecovery())
        return; // waits for its SD2 recovery
    if (track.effectiveBPM())
        return;
    if (states_.contains(track.id))
        return;
    const QUuid token = QUuid::createUuid();
    states_.insert(track.id, Status{token, 0, true});
    Q_EMIT statesChanged();
    QPointer<BPMDetectionQueue> self(this);
    jobs_.enqueue(track.id, [self, service = service_, track, token](CancellationToken cancel) -> QCoro::Task<> {
        const auto progress = [self, id = track.id, token](double value) {
            postToMainThread([self, id, token, value] {
                if (self)
                    self->updateProgress(id, token, value);
            });
        };
        std::optional<double> tempo;
        std::exception_ptr error;
        try {
            tempo = co_await service->detect(track, progress, cancel);
        } catch (...) {
            error = std::current_exception();
        }
        if (self)
            self->deliver(track, token, cancel, tempo, error);
    });
}

void BPMDetectionQueue::cancel(const QUuid &id)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (states_.remove(id) > 0)
        Q_EMIT statesChanged();
    // A running analysis stays active until it has really ended, and only then does the next
    // job start: two analyses never overlap.
    jobs_.cancel(id);
}

void BPMDetectionQueue::cancelAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const QList<QUuid> ids = states_.keys();
    for (const QUuid &id : ids)
        cancel(id);
}

QString BPMDetectionQueue::message(const std::exception_ptr &error)
{
    if (errorIs<BPMDetectionError>(error))
        return BPMAnalysisError::errorDescription(BPMAnalysisError::Kind::noPulse);
    return errorText(error);
}

void BPMDetectionQueue::deliver(const AudioTrack &track, const QUuid &token, const CancellationToken &cancel,
                                std::optional<double> tempo, const std::exception_ptr &error)
{
    const auto found = states_.constFind(track.id);
    if (cancel.isCancelled() || found == states_.constEnd() || found->token != token)
        return;
    states_.remove(track.id);
    Q_EMIT ended(track.id);
    if (tempo)
        completed(track, *tempo);
    else
        failed(track.id, message(error));
}

void BPMDetectionQueue::updateProgress(const QUuid &id, const QUuid &token, double value)
{
    const auto found = states_.find(id);
    if (found == states_.end() || found->token != token || !std::isfinite(value))
        return;
    // Reports come from separate hops to the main thread and may arrive out of order.
    const double shown = std::max(found->progress, std::clamp(value, 0.0, 1.0));
    if (shown != found->progress) {
        found->progress = shown;
        Q_EMIT progressChanged(id);
    }
}

} // namespace tampod
