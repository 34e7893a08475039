#pragma once

#include "playback/playback_serving.h"

#include "concurrency/generation.h"
#include "concurrency/serial_job_queue.h"

#include <QCoro/QCoroTask>
#include <QObject>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>

namespace tampod {

// The one way the player model reaches the playback engine. Commands run strictly one after
// another in the order they were queued, each after the previous one ended whatever its
// outcome; a failure is reported once and drops the commands behind it, those queued in the
// same call included: no outcome is handed over inside enqueue. While the model says
// playback runs, a monitor polls the engine's snapshot; a new command stops it until that
// command has run. thread: main only, like its callbacks and tasks.
class PlaybackCommandCoordinator : public QObject {
    Q_OBJECT

public:
    // A command's work. It runs on the main thread, awaits engine operations and may await
    // other main-thread work too; its captures stay alive until it ends.
    using Operation = std::function<QCoro::Task<>(PlaybackServing &engine)>;

    static constexpr std::chrono::milliseconds pollInterval{33};

    explicit PlaybackCommandCoordinator(std::shared_ptr<PlaybackServing> engine, QObject *parent = nullptr);
    ~PlaybackCommandCoordinator() override;

    // The model's hooks. updated: a snapshot, flagged true for the one refresh after a command
    // and false for each monitor poll. failed: the error of a command that was still current.
    // shouldMonitor: asked after a command whether the monitor should run.
    std::function<void(const PlaybackSnapshot &snapshot, bool refresh)> updated = [](const PlaybackSnapshot &, bool) {};
    std::function<void(std::exception_ptr error)> failed = [](std::exception_ptr) {};
    std::function<bool()> shouldMonitor = [] { return false; };

    // Queues a command behind every earlier one. With refreshPosition, the engine's snapshot
    // after it is handed to updated (when no newer command was queued meanwhile).
    void enqueue(bool refreshPosition, Operation operation);
    // Drops every command still waiting and stops the monitor; a running one finishes.
    void invalidate();
    // Stops the monitor; queued commands stay.
    void stopMonitoring();
    // The most recently queued command's task, finished once it has ended however it ended
    // (and with it every command before it); empty when none was queued.
    const TaskHandle &lastCommand() const { return commands_.tail(); }

private:
    void cancelMonitor();
    void startMonitoring(QUuid revision);

    const std::shared_ptr<PlaybackServing> engine_;
    SerialJobQueue commands_; // thread: main
    TaskHandle monitor_;      // thread: main
    Generation revision_;     // thread: main; renewed by every enqueue
};

} // namespace tampod
