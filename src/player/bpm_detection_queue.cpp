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
}

BPMDetectionQueue::~BPMDetectionQueue()
{
    task_.cancel();
}

void BPMDetectionQueue::submit(const AudioTrack &track)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (track.recovery && !track.recovery->copy)
        return; // waits for its SD2 recovery
    if (track.effectiveBPM())
        return;
    if (states_.contains(track.id))
        return;
    const QUuid token = QUuid::createUuid();
    states_.insert(track.id, Status{token, 0, true});
    Q_EMIT statesChanged();
    pending_.push_back(Job{track, token});
    startNext();
}

void BPMDetectionQueue::cancel(const QUuid &id)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (states_.remove(id) > 0)
        Q_EMIT statesChanged();
    std::erase_if(pending_, [&id](const Job &job) { return job.track.id == id; });
    // The running task clears itself once its analysis has really ended, and only then starts
    // the next job: two analyses never overlap.
    if (activeID_ == id)
        task_.cancel();
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

void BPMDetectionQueue::startNext()
{
    if (!task_.isEmpty() || pending_.empty())
        return;
    Job job = std::move(pending_.front());
    pending_.pop_front();
    setActiveID(job.track.id);
    if (const auto found = states_.find(job.track.id); found != states_.end() && found->queued) {
        found->queued = false;
        Q_EMIT statesChanged();
    }

    QPointer<BPMDetectionQueue> self(this);
    task_ = TaskHandle::start([self, service = service_, job](CancellationToken token) -> QCoro::Task<> {
        co_await NextMainThreadTurn{};
        const auto progress = [self, id = job.track.id, jobToken = job.token](double value) {
            postToMainThread([self, id, jobToken, value] {
                if (self)
                    self->updateProgress(id, jobToken, value);
            });
        };
        std::optional<double> tempo;
        std::exception_ptr error;
        try {
            tempo = co_await service->detect(job.track, progress, token);
        } catch (...) {
            error = std::current_exception();
        }
        if (self)
            self->finish(job, token, tempo, error);
    });
}

void BPMDetectionQueue::finish(const Job &job, const CancellationToken &token,
                               std::optional<double> tempo, const std::exception_ptr &error)
{
    if (!token.isCancelled() && isCurrent(job)) {
        states_.remove(job.track.id);
        Q_EMIT statesChanged();
        if (tempo)
            completed(job.track, *tempo);
        else
            failed(job.track.id, message(error));
    }
    task_ = TaskHandle();
    setActiveID(std::nullopt);
    startNext();
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
        Q_EMIT statesChanged();
    }
}

bool BPMDetectionQueue::isCurrent(const Job &job) const
{
    const auto found = states_.constFind(job.track.id);
    return found != states_.constEnd() && found->token == job.token;
}

void BPMDetectionQueue::setActiveID(std::optional<QUuid> id)
{
    if (activeID_ == id)
        return;
    activeID_ = id;
    Q_EMIT activeIDChanged();
}

} // namespace tampod
