#include "player/sd2_recovery_queue.h"

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
    jobs_.onActiveKeyChanged([this] { Q_EMIT activeIDChanged(); });
    jobs_.onStarted([this](const QUuid &id) {
        if (const auto found = states_.find(id); found != states_.end() && found->queued) {
            found->queued = false;
            Q_EMIT statesChanged();
        }
    });
}

void SD2RecoveryQueue::submit(const AudioTrack &track, int rate, bool priority)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    cancel(track.id, false);
    const QUuid token = QUuid::createUuid();
    states_.insert(track.id, Status{track.id, track.displayName(), parametersFor(track, rate),
                                    token, 0, true});
    Q_EMIT statesChanged();
    QPointer<SD2RecoveryQueue> self(this);
    auto job = [self, service = service_, track, rate, token](CancellationToken cancel) -> QCoro::Task<> {
        SD2RecoveredCopyPointer copy;
        std::exception_ptr error;
        try {
            auto progress = mainThreadProgress(self, [self, id = track.id, token](double fraction) {
                self->update(id, token, fraction);
            });
            // Awaited from a local: g++ 12 can release temporaries of a co_await operand twice.
            auto recovery = service->recover(track, rate, std::move(progress), cancel);
            copy = co_await recovery;
        } catch (...) {
            error = std::current_exception();
        }
        if (self)
            self->deliver(track, token, cancel, copy, error);
    };
    jobs_.enqueue(track.id, std::move(job), priority ? KeyedJobQueue::Place::front : KeyedJobQueue::Place::back);
}

void SD2RecoveryQueue::cancel(const QUuid &id, bool forgetTrialVolume)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (forgetTrialVolume)
        trialVolumes_.remove(id);
    if (states_.remove(id) > 0)
        Q_EMIT statesChanged();
    // A running recovery stays active until it has ended, and only then does the next job start.
    jobs_.cancel(id);
}

void SD2RecoveryQueue::cancelAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    trialVolumes_.clear();
    jobs_.cancelAll();
    if (!states_.isEmpty()) {
        states_.clear();
        Q_EMIT statesChanged();
    }
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

void SD2RecoveryQueue::deliver(const AudioTrack &track, const QUuid &token, const CancellationToken &cancel,
                               const SD2RecoveredCopyPointer &copy, const std::exception_ptr &error)
{
    const auto found = states_.constFind(track.id);
    if (cancel.isCancelled() || found == states_.constEnd() || found->token != token)
        return;
    const Status status = states_.take(track.id);
    Q_EMIT statesChanged();
    if (copy && !error) {
        completed(track.id, copy);
    } else {
        std::optional<SD2Metadata> previous;
        if (track.recovery && track.recovery->copy)
            previous = shapeOf(*track.recovery->copy);
        failed(track.id, SD2RecoveryFailure(error, status.parameters, previous));
    }
}

void SD2RecoveryQueue::update(const QUuid &id, const QUuid &token, double fraction)
{
    const auto found = states_.find(id);
    if (found == states_.end() || found->token != token || !std::isfinite(fraction) || found->progress == fraction)
        return;
    found->progress = fraction;
    Q_EMIT statesChanged();
}

} // namespace tampod
