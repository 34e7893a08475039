#pragma once

#include "playback/waveform_reader.h"

#include "concurrency/serial_job_queue.h"
#include "library/audio_track.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QUuid>

namespace tampod {

// The overview peaks of the current track. Peaks of recovered SD2 working copies are cached
// by the copy's PCM digest, so switching back to such a track reads nothing.
// thread: main only, like its load task.
class WaveformCoordinator : public QObject {
    Q_OBJECT

public:
    static constexpr int cacheLimit = 16;

    explicit WaveformCoordinator(WaveformReading read, QObject *parent = nullptr);

    const WaveformPeaks &peaks() const { return peaks_; }
    bool isLoading() const { return isLoading_; }

    // Drops the peaks and any load in progress.
    void reset();
    // Starts loading the track's peaks and returns the load task; an empty handle when nothing
    // is read (recovery pending, or the cache holds the peaks of its working copy).
    TaskHandle prepare(const AudioTrack &track);

Q_SIGNALS:
    void peaksChanged();
    void isLoadingChanged();

private:
    struct CachedPeaks {
        QString digest;
        WaveformPeaks peaks;
    };

    void setPeaks(const WaveformPeaks &peaks);
    void setIsLoading(bool loading);

    WaveformPeaks peaks_;
    bool isLoading_ = false;
    const WaveformReading read_;
    SerialJobQueue loads_; // at most one current: each reset() cancels the one before
    QHash<QUuid, CachedPeaks> cache_; // never more than cacheLimit entries
};

} // namespace tampod
