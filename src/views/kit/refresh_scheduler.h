#pragma once

#include <QObject>

#include <functional>

namespace tampod {

// Coalesces every change a view reads into one refresh() per event-loop turn, so that a burst
// of model signals re-lays out a view once. thread: main only.
class RefreshScheduler : public QObject {
    Q_OBJECT

public:
    explicit RefreshScheduler(std::function<void()> refresh, QObject *parent = nullptr);

    // Schedules a refresh whenever sender emits signal.
    template <typename Sender, typename Signal>
    void watch(const Sender *sender, Signal signal)
    {
        connect(sender, signal, this, &RefreshScheduler::schedule);
    }

    // Queues one refresh; further calls before it runs add nothing.
    void schedule();
    // Refreshes at once (and drops a queued refresh).
    void refreshNow();
    bool isScheduled() const { return queued_; }
    // Runs every queued refresh now: before an alert takes over, the views show what it is about.
    static void refreshAllScheduled();

    ~RefreshScheduler() override;

private:
    std::function<void()> refresh_;
    bool queued_ = false; // thread: main
};

} // namespace tampod
