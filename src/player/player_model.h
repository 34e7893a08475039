#pragma once

#include "player/audio_import_coordinator.h"
#include "player/bpm_detection_queue.h"
#include "player/playback_command_coordinator.h"

#include "bpm/bpm_analyzing.h"
#include "import/audio_import_serving.h"
#include "library/audio_track.h"
#include "library/export_check_selection.h"
#include "library/library_selection.h"
#include "playback/playback_serving.h"
#include "playback/playback_snapshot.h"
#include "sd2/sd2_recovery_failure.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace tampod {

// The main window's model: the library list, the current track, the transport's state and
// the coordinators and queues doing the background work. Every view, menu command and the
// SD2 and export code act through it. Operations change the observed state at once and queue
// the engine work as one command holding copies of the values it needs.
// thread: main only, like every property, operation, hook and callback.
class PlayerModel : public QObject {
    Q_OBJECT

public:
    using Levels = std::array<double, 2>;

    static constexpr double defaultVolume = 0.7;

    PlayerModel(std::shared_ptr<PlaybackServing> engine, std::shared_ptr<AudioImportServing> importer,
                std::shared_ptr<BPMAnalyzing> bpmService, QObject *parent = nullptr);
    ~PlayerModel() override;

    // Stored state. tracksChanged fires on every assignment; the others only on a change.
    // position and levels change up to 30 times a second and share positionOrLevelsChanged.
    const QList<AudioTrack> &tracks() const { return tracks_; }
    const std::optional<QUuid> &selectedID() const { return selectedID_; }
    const std::optional<QUuid> &repeatID() const { return repeatID_; }
    bool isPlaying() const { return isPlaying_; }
    double position() const { return position_; }
    double volume() const { return volume_; }
    const Levels &levels() const { return levels_; }
    bool isConfirmingRecoveryDepth() const { return isConfirmingRecoveryDepth_; }
    void setIsConfirmingRecoveryDepth(bool confirming);

    LibrarySelection &librarySelection() { return *librarySelection_; }
    ExportCheckSelection &exportChecks() { return *exportChecks_; }
    AudioImportCoordinator &imports() { return *imports_; }
    PlaybackCommandCoordinator &commands() { return *commands_; }
    BPMDetectionQueue &bpmDetection() { return *bpmDetection_; }

    // Hooks to the interface, installed by the application; each does nothing until then.
    // warn: every modal warning (title, message, detail lines). recoveryWarning: a failed SD2
    // recovery. chooseFilesToOpen: the Open panel (files and folders, several at once) under
    // the given title; the chosen URLs, none when cancelled.
    std::function<void(const QString &title, const QString &message, const QStringList &details)> warn =
        [](const QString &, const QString &, const QStringList &) {};
    std::function<void(const SD2RecoveryFailure &)> recoveryWarning = [](const SD2RecoveryFailure &) {};
    std::function<QList<QUrl>(const QString &title)> chooseFilesToOpen = [](const QString &) { return QList<QUrl>(); };

    // Status, derived from the state above on every read.
    std::optional<AudioTrack> selectedTrack() const;
    bool canPlaySelection() const;
    bool isRepeating() const;
    double progress() const;
    // hh:mm:ss of the whole seconds of position; hours grow past 99.
    QString timeText() const;
    // Where the section starts and playback ends, in seconds on the current track's timeline.
    double sectionStart() const;
    double playbackEnd() const;

    // Transport.
    void select(const QUuid &id, bool preservingLibrarySelection);
    void playTrack(const QUuid &id);
    void play();
    void pause();
    void seek(double seconds);
    void setVolume(double value);
    void toggleRepeat();
    // Reinstalls the current track after its audio or loop changed.
    void reloadSelection();
    // A monitor snapshot: position, meters and the end of playback.
    void receive(const PlaybackSnapshot &snapshot);

    // Library list changes.
    TaskHandle importFiles(const QList<QUrl> &urls, bool selectFirstImported);
    void openFiles();
    void append(const QList<AudioTrack> &tracks);
    void removeSelected();
    void clearAll();
    void replaceLibraryTracks(const QList<AudioTrack> &old, const QList<AudioTrack> &replacements);

Q_SIGNALS:
    void tracksChanged();
    void selectedIDChanged();
    void repeatIDChanged();
    void isPlayingChanged();
    void volumeChanged();
    void isConfirmingRecoveryDepthChanged();
    // High rate, for the transport's clock, progress and meters only.
    void positionOrLevelsChanged();

private:
    int indexOf(const QUuid &id) const;
    const AudioTrack *findTrack(const QUuid &id) const;
    const AudioTrack *currentTrack() const;
    void setTracks(QList<AudioTrack> tracks);
    void setSelectedID(const std::optional<QUuid> &id);
    void setRepeatID(const std::optional<QUuid> &id);
    void setIsPlaying(bool playing);
    void setPosition(double position);
    void setLevels(const Levels &levels);
    void stopLocally();
    void resetPlayback();
    void forgetTrackWork(const QUuid &id, bool forgetTrialVolume);

    void wireCallbacks();
    void bpmCompleted(const AudioTrack &track, double bpm);
    void bpmFailed(const QUuid &id, const QString &message);
    void updated(const PlaybackSnapshot &snapshot, bool positionOnly);
    void playbackFailed(const std::exception_ptr &error);
    void importCompleted(const AudioImportResult &result, bool selectFirstImported);

    QList<AudioTrack> tracks_;                 // thread: main
    std::optional<QUuid> selectedID_;          // thread: main
    LibrarySelection *const librarySelection_; // children of this model
    ExportCheckSelection *const exportChecks_;
    std::optional<QUuid> repeatID_;            // thread: main
    bool isPlaying_ = false;                   // thread: main
    double position_ = 0;                      // thread: main
    double volume_ = defaultVolume;            // thread: main
    Levels levels_{};                          // thread: main
    bool isConfirmingRecoveryDepth_ = false;   // thread: main
    PlaybackCommandCoordinator *const commands_;
    AudioImportCoordinator *const imports_;
    BPMDetectionQueue *const bpmDetection_;
};

} // namespace tampod
