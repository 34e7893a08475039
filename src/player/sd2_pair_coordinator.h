#pragma once

#include "concurrency/serial_job_queue.h"
#include "library/audio_track.h"
#include "sd2/sd2_pair_service.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

#include <functional>

namespace tampod {

// Links .L/.R channel tracks for the interface, one preparation at a time: a new preparation
// supersedes the running one and starts only once that one (even if cancelled before) has
// really ended. Publishes progress and a status message and hands the finished pair track to
// its caller; a cancelled or superseded run reports nothing and its pair, with its working
// copy, is dropped. thread: main only.
class SD2PairCoordinator : public QObject {
    Q_OBJECT

public:
    // One preparation's work: the standard one runs a new SD2PairService per call.
    using Preparation =
        std::function<QCoro::Task<AudioTrack>(AudioTrack left, AudioTrack right, SD2PairProgress, CancellationToken)>;
    static Preparation servicePreparation(SD2PairService::StoreProvider store = &TemporaryAudioStore::shared);

    static constexpr char readyMessage[] = "Stereo pair ready. Original files are unchanged.";
    static constexpr char fallbackMessage[] = "Could not prepare the stereo pair. Check source access and free disk space.";

    explicit SD2PairCoordinator(Preparation preparation = servicePreparation(), QObject *parent = nullptr);

    bool isPreparing() const { return isPreparing_; }
    double progress() const { return progress_; } // of the join, 0...1
    const QString &message() const { return message_; } // the last status or failure text
    void setMessage(const QString &message);

    // Starts linking left and right and returns at once; completed gets the pair track.
    void prepare(const AudioTrack &left, const AudioTrack &right, std::function<void(const AudioTrack &)> completed);
    // Abandons the running preparation; message and progress stay as they are.
    void cancel();

Q_SIGNALS:
    void isPreparingChanged();
    void progressChanged();
    void messageChanged();

private:
    void setIsPreparing(bool value);
    void setProgress(double value);

    bool isPreparing_ = false;          // thread: main
    double progress_ = 0;               // thread: main
    QString message_;                   // thread: main
    const Preparation preparation_;
    SerialJobQueue preparations_;       // thread: main; a cancelled run is still awaited
};

} // namespace tampod
