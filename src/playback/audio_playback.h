#pragma once

#include "playback/playback_serving.h"

#include "concurrency/serial_executor.h"

#include <QUuid>

#include <memory>
#include <optional>

namespace tampod {

class AudioFilePlayer;

// The playback engine: one file at a time through an AudioFilePlayer on the shared output,
// either a record's playable file or a rendered loop section (which always loops). An
// actor: operations run one at a time on its own executor and never wait inside.
class AudioPlayback final : public PlaybackServing {
public:
    AudioPlayback();
    ~AudioPlayback() override;
    AudioPlayback(const AudioPlayback &) = delete;
    AudioPlayback &operator=(const AudioPlayback &) = delete;

    Async<void> load(AudioTrack track, double volume, bool repeating) override;
    // Refuses (cannotPrepare, nothing changed) a section cut from another record or from
    // another playable file than the track's.
    Async<void> loadSection(AudioTrack track, std::shared_ptr<const PreparedSection> section,
                            double volume) override;
    Async<void> play() override;
    Async<void> pause() override;
    Async<void> unload() override;
    // Seconds on the whole track's time line, limited to the loaded file.
    Async<void> seek(double seconds) override;
    Async<void> setVolume(double volume) override;
    Async<void> setRepeat(bool repeating) override;
    Async<PlaybackSnapshot> snapshot() override;

private:
    friend class AudioPlaybackProbe; // tests deliver a late end-of-playback report

    struct ReportGate;

    void install(const AudioTrack &track, const QUrl &url, double volume, bool repeating,
                 std::shared_ptr<const PreparedSection> section);
    void unloadPlayer();
    void finished(const QUuid &generation, bool successfully);
    double sectionStart() const;
    double level(int index) const;

    std::unique_ptr<AudioFilePlayer> player_;              // thread: actor
    // Keeps the record's working copies and access alive while their file plays.
    std::optional<AudioTrack> loadedTrack_;                // thread: actor
    std::shared_ptr<const PreparedSection> section_;       // thread: actor
    std::optional<QUuid> trackID_;                         // thread: actor
    std::optional<bool> completion_;                       // thread: actor
    QUuid generation_ = QUuid::createUuid();               // thread: actor
    const std::shared_ptr<ReportGate> gate_;               // thread: any; see ReportGate
    SerialExecutor executor_; // last: drained and joined before the state above goes
};

} // namespace tampod
