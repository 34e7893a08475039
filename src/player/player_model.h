#pragma once

#include "player/audio_import_coordinator.h"
#include "player/bpm_detection_queue.h"
#include "player/library_export_selection.h"
#include "player/linked_library_entry.h"
#include "player/playback_command_coordinator.h"
#include "player/sd2_pair_coordinator.h"
#include "player/sd2_recovery_queue.h"
#include "player/section_loop_coordinator.h"
#include "player/waveform_coordinator.h"
#include "player/waveform_zoom.h"

#include "bpm/bpm_analyzing.h"
#include "concurrency/async.h"
#include "export/export_defaults.h"
#include "export/session/batch_export_session.h"
#include "export/session/export_session.h"
#include "export/session/file_panels.h"
#include "import/audio_import_serving.h"
#include "library/audio_track.h"
#include "library/export_check_selection.h"
#include "library/library_selection.h"
#include "playback/playback_serving.h"
#include "playback/playback_snapshot.h"
#include "playback/section_preparing.h"
#include "playback/section_range.h"
#include "playback/waveform_reader.h"
#include "sd2/sd2_recovery_failure.h"
#include "sd2/sd2_recovery_service.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

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
    static constexpr double skipSeconds = 5; // Rewind and Fast Forward
    static constexpr int overviewBins = 1024;

    // waveformReader: the overview of the current track; by default the whole file in
    // overviewBins bins, read detached at utility priority.
    PlayerModel(std::shared_ptr<PlaybackServing> engine, std::shared_ptr<AudioImportServing> importer,
                std::shared_ptr<SD2RecoveryServing> recoveryService, std::shared_ptr<SectionPreparing> sectionService,
                std::shared_ptr<BPMAnalyzing> bpmService,
                WaveformReading waveformReader = WaveformReader::wholeFile(overviewBins), QObject *parent = nullptr);
    ~PlayerModel() override;

    // Stored state. tracksChanged fires on every assignment (trackChanged for a found tempo);
    // the others only on a change.
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
    WaveformCoordinator &waveforms() { return *waveforms_; }
    WaveformZoom &waveformZoom() { return *waveformZoom_; }
    PlaybackCommandCoordinator &commands() { return *commands_; }
    SectionLoopCoordinator &sectionLoop() { return *sectionLoop_; }
    SD2RecoveryQueue &recoveryQueue() { return *recoveryQueue_; }
    SD2PairCoordinator &pairing() { return *pairing_; }
    BPMDetectionQueue &bpmDetection() { return *bpmDetection_; }

    // Hooks to the interface, installed by the application; each does nothing until then.
    // warn: every modal warning (title, message, detail lines). recoveryWarning: a failed SD2
    // recovery. confirmRecoveryDepth: the modal question before trying a bit depth on an SD2
    // file; true only when the user chose to try it. filePanels: the Open, restore and export
    // panels and the file manager.
    std::function<void(const QString &title, const QString &message, const QStringList &details)> warn =
        [](const QString &, const QString &, const QStringList &) {};
    std::function<void(const SD2RecoveryFailure &)> recoveryWarning = [](const SD2RecoveryFailure &) {};
    std::function<bool(int bitDepth)> confirmRecoveryDepth = [](int) { return false; };
    std::shared_ptr<FilePanels> filePanels;

    // Status, derived from the state above on every read.
    std::optional<AudioTrack> selectedTrack() const;
    // The current track's entry in the recovery queue (watch recoveryQueue().statesChanged).
    std::optional<SD2RecoveryQueue::Status> recoveryStatus() const;
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
    void toggleSectionLoop();
    // Reinstalls the current track after its audio or loop changed.
    void reloadSelection();
    // A monitor snapshot: position, meters and the end of playback.
    void receive(const PlaybackSnapshot &snapshot);

    // Section boundaries: each change pauses playback and is one undoable step.
    void setSectionRange(SectionRange range);
    void undoSectionRange();
    void redoSectionRange();

    // The queue's status of the running job when it belongs to another track than the current one.
    std::optional<SD2RecoveryQueue::Status> backgroundRecovery() const;
    // The SD2 interpretation in force or in preparation for the current track.
    std::optional<SD2Metadata> selectedRecoveryParameters() const;

    // The library's "Get": queues a tempo detection of the track owning the row.
    void getBPM(const QUuid &rowID);

    // SD2 tools. recoverSelected prepares the current track with other parameters; a trial
    // depth caps the listening volume until a 16-bit copy is in force again.
    void recoverSelected(const SD2Metadata &parameters);
    // Switches the current track to 16 or 24 bits once the user confirmed it, with playback
    // paused before the question; any other depth, or a question already open, does nothing.
    TaskHandle recoverSelected(int bitDepth);
    void pairSD2(const AudioTrack &left, const AudioTrack &right);
    void unpairSelected();

    // When the current track was just recovered as a 16-bit copy and its recovery is done,
    // brings back the listening volume in force before a trial of another depth.
    void restoreSD2TrialVolume(const QUuid &id);

    // Library rows: a linked pair shows as its L and R channel rows.
    QList<LinkedLibraryEntry> libraryEntries() const;
    // The rows of one library track, as libraryEntries() has them; none for an unknown id.
    QList<LinkedLibraryEntry> libraryEntriesOf(const QUuid &ownerID) const;
    // The library track owning a row; none for an unknown id or a pair track's own id.
    std::optional<QUuid> libraryOwner(const QUuid &rowID) const;
    // The library tracks in the library selection, in library order.
    QList<AudioTrack> selectedTracks() const;
    // The rows showing the given tracks: a pair track shows as its two channel rows.
    QSet<QUuid> visibleLibraryIDs(const QSet<QUuid> &ids) const;
    // Selects the tracks behind the rows: one channel row selects its whole pair.
    void selectVisibleLibraryRows(const QSet<QUuid> &rowIDs);
    // Whether the two selected tracks can be linked into a stereo pair, in either order.
    bool canLinkSelected() const;
    // The two selected tracks as left and right channel when their names and folder say so.
    std::optional<std::pair<AudioTrack, AudioTrack>> namedLinkSelection() const;

    // Row selection and export checks. A table selection keeps the current track when it
    // holds it, else makes its first track current.
    void selectLibraryRows(const QSet<QUuid> &ids);
    QList<AudioTrack> checkedTracks() const;
    void setExportChecked(const QUuid &id, bool checked);
    // The transport Export button's target (the one checked track, else the current one when
    // ready), its highlight and its help.
    std::optional<AudioTrack> primaryExportTrack() const;
    bool primaryExportIsHighlighted() const;
    QString primaryExportHelp() const;
    // The batch Export button's target: the checked tracks, else a multiple selection, else
    // one selected linked pair.
    LibraryExportSelection libraryExportSelection() const;
    // The single-file export of the primary export track (its prepared loop when it is the
    // current track); pauses main playback always, also when there is nothing to export.
    std::unique_ptr<ExportSession> primaryExportSession(const ExportDefaults &defaults);
    // The batch export of libraryExportSelection(); pauses main playback always, and gives none
    // for an empty selection or, with a warning, while one of its tracks is being recovered.
    std::unique_ptr<BatchExportSession> libraryExportSession(const ExportDefaults &defaults);

    // Export: what a session calls before it plays or writes. Pauses main playback and, once
    // the engine has handled the pause, gives the listening volume (0 when the model is gone).
    using MainPlaybackPause = std::function<QCoro::Task<double>()>;
    MainPlaybackPause mainPlaybackPause();

    // "Restore File Access…": the user points the current track at its moved or unreadable
    // file again; only the same file is accepted, and the track is then reloaded paused.
    void restoreSelectedFileAccess();

    // Library list changes.
    TaskHandle importFiles(const QList<QUrl> &urls, bool selectFirstImported);
    void openFiles();
    void append(const QList<AudioTrack> &tracks);
    void removeSelected();
    void clearAll();
    void replaceLibraryTracks(const QList<AudioTrack> &old, const QList<AudioTrack> &replacements);

Q_SIGNALS:
    void tracksChanged();
    // One library track's record changed in place (a tempo was found): the list and every other
    // record are as they were, and tracksChanged does not fire for it.
    void trackChanged(const QUuid &id);
    void selectedIDChanged();
    void repeatIDChanged();
    void isPlayingChanged();
    void volumeChanged();
    void isConfirmingRecoveryDepthChanged();
    // High rate, for the transport's clock, progress and meters only.
    void positionOrLevelsChanged();

private:
    int indexOf(const QUuid &id) const;
    // A library track by its id, looked up, not searched.
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
    void applyRecovery(const QUuid &id, const SD2RecoveredCopyPointer &copy);
    void forgetTrackWork(const QUuid &id, bool forgetTrialVolume);
    void reportSD2ImportLengths(const QList<AudioTrack> &imported);
    void prepareImportedSD2(const QList<AudioTrack> &imported);

    // The last playback command queued so far: once it has ended, every earlier one has.
    TaskHandle queuedCommandsFinished() const;
    static QCoro::Task<double> pauseMainPlayback(QPointer<PlayerModel> self);

    void wireCallbacks();
    void bpmCompleted(const AudioTrack &track, double bpm);
    void bpmFailed(const QUuid &id, const QString &message);
    void updated(const PlaybackSnapshot &snapshot, bool positionOnly);
    void playbackFailed(const std::exception_ptr &error);
    void sectionFailed(const QString &message);
    void recoveryFailed(const QUuid &id, const SD2RecoveryFailure &failure);
    void importCompleted(const AudioImportResult &result, bool selectFirstImported);

    QList<AudioTrack> tracks_;                 // thread: main
    // Made with every change of tracks_, so that one row's update costs the same at any
    // library size: each track's index, and the owner of each pair's channel rows.
    QHash<QUuid, int> trackIndex_;             // thread: main
    QHash<QUuid, QUuid> channelOwners_;        // thread: main
    std::optional<QUuid> selectedID_;          // thread: main
    LibrarySelection *const librarySelection_; // children of this model
    ExportCheckSelection *const exportChecks_;
    std::optional<QUuid> repeatID_;            // thread: main
    bool isPlaying_ = false;                   // thread: main
    double position_ = 0;                      // thread: main
    double volume_ = defaultVolume;            // thread: main
    Levels levels_{};                          // thread: main
    // The coordinators are children of the model, made in this order.
    WaveformZoom *const waveformZoom_;
    SD2PairCoordinator *const pairing_;
    bool isConfirmingRecoveryDepth_ = false;   // thread: main
    PlaybackCommandCoordinator *const commands_;
    SectionLoopCoordinator *const sectionLoop_;
    AudioImportCoordinator *const imports_;
    WaveformCoordinator *const waveforms_;
    SD2RecoveryQueue *const recoveryQueue_;
    BPMDetectionQueue *const bpmDetection_;
};

} // namespace tampod
