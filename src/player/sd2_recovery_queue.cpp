#include "player/sd2_recovery_queue.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"

#include <QPointer>

#include <cmath>

namespace tampod {

namespace {

SD2Metadata shapeOf(const SD2RecoveredCopy &copy)
{
    return {copy.sampleBytes(), copy.sampleRate(), copy.channels(), std::nullopt, std::nullopt};
}

// The interpretation a job prepares, as the service will choose it.
SD2Metadata parametersFor(const AudioTrack &track, int rate)
{
    SD2Metadata parameters{2, rate, 2, std::nullopt, std::nullopt};
    if (!track.recovery)
        return parameters;
    if (const auto &requested = track.recovery->requested) {
        parameters.sampleBytes = requested->sampleBytes;
        parameters.channels = requested->channels;
    } else if (const auto &copy = track.recovery->copy) {
        parameters.sampleBytes = copy->sampleBytes();
        parameters.channels = copy->channels();
    }
    return parameters;
}

} // namespace

SD2RecoveryQueue::SD2RecoveryQueue(std::shared_ptr<SD2RecoveryServing> service, QObject *parent)
    : QObject(parent), service_(std::move(service))
{
}

SD2RecoveryQueue::~SD2RecoveryQueue()
{
    // Nothing could be delivered any more; the worker stops at its next check.
    task_.cancel();
}

void SD2RecoveryQueue::submit(const AudioTrack &track, int rate, bool priority)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    cancel(track.id, false);
    Job job{track, rate, QUuid::createUuid()};
    states_.insert(track.id, Status{track.id, SD2RecoveryService::displayName(track), parametersFor(track, rate),
                                    job.token, 0, true});
    Q_EMIT statesChanged();
    if (priority)
        pending_.push_front(std::move(job));
    else
        pending_.push_back(std::move(job));
    startNext();
}

void SD2RecoveryQueue::cancel(const QUuid &id, bool forgetTrialVolume)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (forgetTrialVolume)
        trialVolumes_.remove(id);
    if (states_.remove(id) > 0)
        Q_EMIT statesChanged();
    std::erase_if(pending_, [&id](const Job &job) { return job.track.id == id; });
    // The task clears itself once its recovery has ended, and only then starts the next job.
    if (activeID_ == id)
        task_.cancel();
}

void SD2RecoveryQueue::cancelAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    trialVolumes_.clear();
    pending_.clear();
    if (!states_.isEmpty()) {
        states_.clear();
        Q_EMIT statesChanged();
    }
    task_.cancel();
}

void SD2RecoveryQueue::rememberTrialVolume(const QUuid &id, double volume)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!trialVolumes_.contains(id))
        trialVolumes_.insert(id, volume);
}

std::optional<double> SD2RecoveryQueue::takeTrialVolume(const QUuid &id)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const auto found = trialVolumes_.constFind(id);
    if (found == trialVolumes_.constEnd())
        return std::nullopt;
    const double volume = *found;
    trialVolumes_.erase(found);
    return volume;
}

void SD2RecoveryQueue::startNext()
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

    QPointer<SD2RecoveryQueue> self(this);
    task_ = TaskHandle::start([self, service = service_, job](CancellationToken token) -> QCoro::Task<> {
        co_await NextMainThreadTurn{};
        SD2RecoveredCopyPointer copy;
        std::exception_ptr error;
        try {
            token.throwIfCancelled();
            auto progress = mainThreadProgress(self, [self, job](double fraction) { self->update(job, fraction); });
            // Awaited from a local: g++ 12 can release temporaries of a co_await operand twice.
            auto recovery = service->recover(job.track, job.rate, std::move(progress), token);
            copy = co_await recovery;
        } catch (...) {
            error = std::current_exception();
        }
        if (self)
            self->finish(job, token, copy, error);
    });
}

void SD2RecoveryQueue::finish(const Job &job, const CancellationToken &token, const SD2RecoveredCopyPointer &copy,
                              const std::exception_ptr &error)
{
    if (!token.isCancelled() && isCurrent(job)) {
        const Status status = states_.take(job.track.id);
        Q_EMIT statesChanged();
        if (copy && !error) {
            completed(job.track.id, copy);
        } else {
            std::optional<SD2Metadata> previous;
            if (job.track.recovery && job.track.recovery->copy)
                previous = shapeOf(*job.track.recovery->copy);
            failed(job.track.id, SD2RecoveryFailure(error, status.parameters, previous));
        }
    }
    task_ = TaskHandle();
    setActiveID(std::nullopt);
    startNext();
}

void SD2RecoveryQueue::update(const Job &job, double fraction)
{
    const auto found = states_.find(job.track.id);
    if (found == states_.end() || found->token != job.token || !std::isfinite(fraction) || found->progress == fraction)
        return;
    found->progress = fraction;
    Q_EMIT statesChanged();
}

bool SD2RecoveryQueue::isCurrent(const Job &job) const
{
    const auto found = states_.constFind(job.track.id);
    return found != states_.constEnd() && found->token == job.token;
}

void SD2RecoveryQueue::setActiveID(std::optional<QUuid> id)
{
    if (activeID_ == id)
        return;
    activeID_ = id;
    Q_EMIT activeIDChanged();
}

} // namespace tampod
