#pragma once

#include "concurrency/task_handle.h"

#include <QUuid>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace tampod {

// Jobs by key that run one at a time from an ordered pending list: the front starts once the
// running job has really ended, also when that one was cancelled, so two never overlap. A job
// starts on the event loop's turn after it was taken, never inside the call that queued it.
// thread: main only, like its jobs and hooks.
class KeyedJobQueue {
    struct State;

public:
    using Body = TaskHandle::Body;
    enum class Place { back, front };

    KeyedJobQueue();
    ~KeyedJobQueue(); // cancels the running job; pending ones never run
    KeyedJobQueue(const KeyedJobQueue &) = delete;
    KeyedJobQueue &operator=(const KeyedJobQueue &) = delete;

    // Starts body at once when idle, else queues it at place.
    void enqueue(const QUuid &key, Body body, Place place = Place::back);
    // Drops the key's pending jobs and cancels its running one, which stays active until it ends.
    void cancel(const QUuid &key);
    // Drops every pending job and cancels the running one.
    void cancelAll();

    // The key of the running job; set from its start until it has ended.
    const std::optional<QUuid> &activeKey() const;
    // started: a job leaves the pending list (after activeKey changed to its key).
    void onStarted(std::function<void(const QUuid &key)> hook);
    void onActiveKeyChanged(std::function<void()> hook);

private:
    std::shared_ptr<State> state_;
};

} // namespace tampod
