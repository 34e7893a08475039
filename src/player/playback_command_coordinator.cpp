#include "player/playback_command_coordinator.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"

#include <QPointer>

namespace tampod {

PlaybackCommandCoordinator::PlaybackCommandCoordinator(std::shared_ptr<PlaybackServing> engine, QObject *parent)
    : QObject(parent), engine_(std::move(engine))
{
}

PlaybackCommandCoordinator::~PlaybackCommandCoordinator()
{
    // The tasks hold this object weakly and end at their next step.
    monitor_.cancel();
}

void PlaybackCommandCoordinator::enqueue(bool refreshPosition, Operation operation)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // No poll may overlap the effect of the new command.
    cancelMonitor();
    const QUuid revision = revision_.renew();
    QPointer<PlaybackCommandCoordinator> self(this);
    // The frame keeps the engine alive while an operation of it runs.
    commands_.enqueue([self, engine = engine_, revision, refreshPosition,
                       operation = std::move(operation)](SerialJobQueue::Job job) -> QCoro::Task<> {
        std::exception_ptr error;
        try {
            co_await operation(*engine);
        } catch (...) {
            error = std::current_exception();
        }
        // An operation that fails at once fails inside the enqueue that started it; its failure
        // waits for the next turn, when the commands queued with it in the same call (a play
        // right behind a load) are behind it and it drops them. A success goes on at once, so
        // a command queued as the program shuts down still ends without another turn.
        if (error)
            co_await NextMainThreadTurn{};
        if (!self)
            co_return;
        if (error) {
            if (job.isCurrent()) {
                self->invalidate();
                self->failed(error);
            }
            co_return;
        }
        // Only the newest command refreshes and starts the monitor.
        if (!self->revision_.matches(revision))
            co_return;
        if (refreshPosition) {
            const PlaybackSnapshot snapshot = co_await engine->snapshot();
            if (!self || !self->revision_.matches(revision))
                co_return;
            self->updated(snapshot, true);
            if (!self || !self->revision_.matches(revision))
                co_return;
        }
        if (self->shouldMonitor())
            self->startMonitoring(revision);
    });
}

void PlaybackCommandCoordinator::invalidate()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // A running command still finishes, and the next one waits for it.
    commands_.cancelAllInOrder();
    cancelMonitor();
}

void PlaybackCommandCoordinator::stopMonitoring()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    cancelMonitor();
}

void PlaybackCommandCoordinator::cancelMonitor()
{
    monitor_.cancel();
    monitor_ = {};
}

void PlaybackCommandCoordinator::startMonitoring(QUuid revision)
{
    cancelMonitor();
    QPointer<PlaybackCommandCoordinator> self(this);
    monitor_ = TaskHandle::start([self, engine = engine_, revision](CancellationToken token) -> QCoro::Task<> {
        auto stale = [&] { return token.isCancelled() || !self || !self->revision_.matches(revision); };
        while (!stale()) {
            const PlaybackSnapshot snapshot = co_await engine->snapshot();
            if (stale())
                co_return;
            self->updated(snapshot, false);
            // A cancellation during the sleep ends the loop at the check above.
            co_await sleepFor(pollInterval);
        }
    });
}

} // namespace tampod
