#pragma once

#include "concurrency/keyed_job_queue.h"
#include "library/audio_track.h"
#include "library/sd2_metadata.h"
#include "sd2/sd2_recovery_failure.h"
#include "sd2/sd2_recovery_service.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tampod {

// Runs SD2 recoveries one at a time for the library and keeps a status per track for the
// interface. A priority job (the track the user is looking at) goes to the front; submitting a
// track again supersedes its earlier job. The running task is cleared only once its recovery
// has really ended, so a cancel followed by a new submission never runs two recoveries at
// once. A cancelled or superseded job reports nothing; its copy is dropped with its folder.
// Also remembers, per track, the listening volume in force before a trial of an unusual depth.
// thread: main only.
class SD2RecoveryQueue : public QObject {
    Q_OBJECT

public:
    struct Status {
        QUuid id;
        QString name;           // the pair's name and " (L/R)", else the file name as loaded
        SD2Metadata parameters; // the interpretation being prepared, without tempos
        QUuid token;            // the submission that owns this status
        double progress = 0;    // 0...1
        bool queued = true;     // false once running

        bool operator==(const Status &) const = default;
    };

    // The listening-volume trial: 8-, 24- and 32-bit interpretations are tried at no more than
    // the cap; the remembered volume comes back with a 16-bit copy.
    static constexpr double trialVolumeCap = 0.05;
    static constexpr bool isTrialDepth(int sampleBytes) { return sampleBytes == 1 || sampleBytes == 3 || sampleBytes == 4; }

    explicit SD2RecoveryQueue(std::shared_ptr<SD2RecoveryServing> service, QObject *parent = nullptr);

    // One entry per track with a queued or running job, by track id.
    const QHash<QUuid, Status> &states() const { return states_; }
    // The running job's track; it stays set after a cancel until that job has ended.
    const std::optional<QUuid> &activeID() const { return jobs_.activeKey(); }

    // Queues a recovery of the track (as it is now, its recovery record included) at rate,
    // replacing any earlier job of the track; the remembered trial volume stays.
    void submit(const AudioTrack &track, int rate, bool priority);
    void cancel(const QUuid &id, bool forgetTrialVolume);
    // Withdraws every job and forgets every remembered volume.
    void cancelAll();

    // The first remembered volume of a track wins until it is taken or forgotten.
    void rememberTrialVolume(const QUuid &id, double volume);
    std::optional<double> takeTrialVolume(const QUuid &id);

    // The player model replaces both; each holds the model weakly.
    std::function<void(const QUuid &, const SD2RecoveredCopyPointer &)> completed =
        [](const QUuid &, const SD2RecoveredCopyPointer &) {};
    std::function<void(const QUuid &, const SD2RecoveryFailure &)> failed = [](const QUuid &, const SD2RecoveryFailure &) {};

Q_SIGNALS:
    void statesChanged();
    void activeIDChanged();

private:
    void deliver(const AudioTrack &track, const QUuid &token, const CancellationToken &cancel,
                 const SD2RecoveredCopyPointer &copy, const std::exception_ptr &error);
    void update(const QUuid &id, const QUuid &token, double fraction);

    QHash<QUuid, Status> states_;       // thread: main
    QHash<QUuid, double> trialVolumes_; // thread: main
    const std::shared_ptr<SD2RecoveryServing> service_;
    KeyedJobQueue jobs_;                // thread: main; by track id
};

} // namespace tampod
