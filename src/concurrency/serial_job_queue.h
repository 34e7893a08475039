#pragma once

#include "concurrency/cancellation.h"
#include "concurrency/task_handle.h"

#include <QCoro/QCoroTask>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace tampod {

// The main-thread serial queue of a coordinator: each job starts once the job queued before it
// has ended, whatever its outcome. Cancelling starts a new generation: the results of earlier
// jobs stop counting and jobs still waiting for their turn end without running.
// thread: main only, like its jobs and its hook.
class SerialJobQueue {
    struct State;

public:
    // What a job's body gets: its own token, and the one question to ask after every await.
    class Job {
    public:
        const CancellationToken &token() const { return token_; }
        // False once the job was cancelled or the queue renewed its generation or went away.
        bool isCurrent() const;
        // Settles the job before its body ends (just before it hands its result over): it
        // leaves the count, cancelling leaves it alone, and jobs queued from then on start
        // without waiting for it.
        void finish() const;

    private:
        friend class SerialJobQueue;
        Job(std::weak_ptr<State> queue, std::uint64_t id, std::uint64_t generation, CancellationToken token)
            : queue_(std::move(queue)), id_(id), generation_(generation), token_(std::move(token)) {}

        std::weak_ptr<State> queue_; // looked at on the main thread only
        std::uint64_t id_;
        std::uint64_t generation_;
        CancellationToken token_;
    };
    using Body = std::function<QCoro::Task<>(Job)>;

    SerialJobQueue();
    ~SerialJobQueue(); // cancels every job; none is current any more
    SerialJobQueue(const SerialJobQueue &) = delete;
    SerialJobQueue &operator=(const SerialJobQueue &) = delete;

    // Queues body behind the last job; with none running it starts inside this call and runs
    // up to its first suspension. The handle ends with the body's error, if any.
    TaskHandle enqueue(Body body);
    // Cancels every job; the next one starts at once, even while a cancelled one winds down.
    void cancelAll();
    // Cancels every job, but the next one still waits for the last to end: two never overlap.
    void cancelAllInOrder();

    // Jobs of this generation queued or running and not finished.
    int count() const;
    // The newest job while it has not finished; empty when idle or after cancelAll().
    const TaskHandle &tail() const;
    // Called whenever count() may have changed.
    void onCountChanged(std::function<void()> hook);

private:
    std::shared_ptr<State> state_;
};

} // namespace tampod
