#pragma once

#include "bpm/bpm_analyzing.h"
#include "concurrency/keyed_job_queue.h"
#include "library/audio_track.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tampod {

// Runs tempo analyses one at a time in request order and keeps a state per track for the
// library's BPM column. Results and failures leave only through completed and failed; the
// queue never changes a track. A cancelled or superseded request reports nothing.
// thread: main only.
class BPMDetectionQueue : public QObject {
    Q_OBJECT

public:
    struct Status {
        QUuid token;         // identifies one request
        double progress = 0; // 0 ... 1, never moves backwards
        bool queued = true;  // false once running

        bool operator==(const Status &) const = default;
    };

    explicit BPMDetectionQueue(std::shared_ptr<BPMAnalyzing> service, QObject *parent = nullptr);

    // One entry per track that is queued or running, by track id.
    const QHash<QUuid, Status> &states() const { return states_; }
    // The track whose analysis runs; it stays set after a cancel until that analysis has ended.
    const std::optional<QUuid> &activeID() const { return jobs_.activeKey(); }

    // Queues a detection unless the track waits for SD2 recovery, already has a tempo, or
    // is queued or running; starts it at once when idle.
    void submit(const AudioTrack &track);
    void cancel(const QUuid &id);
    void cancelAll();

    // The player model replaces both; each holds the model weakly.
    std::function<void(const AudioTrack &, double)> completed = [](const AudioTrack &, double) {};
    std::function<void(const QUuid &, const QString &)> failed = [](const QUuid &, const QString &) {};

    // What the user is told of a failed analysis: any pipeline error is "no usable beat".
    static QString message(const std::exception_ptr &error);

Q_SIGNALS:
    // A track's entry came, started running or was cancelled.
    void statesChanged();
    // One track's detection ended, found or failed, and its entry went; nothing else changed.
    void ended(const QUuid &id);
    // High rate: the progress of one track's detection moved, and nothing else.
    void progressChanged(const QUuid &id);
    void activeIDChanged();

private:
    void deliver(const AudioTrack &track, const QUuid &token, const CancellationToken &cancel,
                 std::optional<double> tempo, const std::exception_ptr &error);
    void updateProgress(const QUuid &id, const QUuid &token, double value);

    QHash<QUuid, Status> states_; // thread: main
    const std::shared_ptr<BPMAnalyzing> service_;
    KeyedJobQueue jobs_;          // thread: main; by track id
};

} // namespace tampod
