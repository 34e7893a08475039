#pragma once

#include "playback/section_range.h"

#include "library/audio_track.h"

#include <QObject>
#include <QUuid>

#include <optional>

namespace tampod {

class SectionLoopCoordinator;
class WaveformCoordinator;
class WaveformZoom;

// What the waveform pane and its section-loop overlay read of the player and ask of it. The
// player model stands behind it in the application; the coordinators are the player's own.
// thread: main only.
class WaveformPaneModel : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual std::optional<QUuid> selectedID() const = 0;
    virtual std::optional<AudioTrack> selectedTrack() const = 0;
    // The position as a fraction of the current track's duration; 0 without one.
    virtual double progress() const = 0;
    // Whether an SD2 recovery job of the current track is queued or running.
    virtual bool hasRecoveryStatus() const = 0;

    virtual WaveformCoordinator &waveforms() const = 0;
    virtual WaveformZoom &waveformZoom() const = 0;
    virtual SectionLoopCoordinator &sectionLoop() const = 0;

    virtual void pause() = 0;
    // One undoable change of the loop range; ignored when it changes nothing.
    virtual void setSectionRange(SectionRange range) = 0;
    virtual void toggleSectionLoop() = 0;
    virtual void undoSectionRange() = 0;
    virtual void redoSectionRange() = 0;

Q_SIGNALS:
    // The current track or its record changed.
    void selectionChanged();
    void progressChanged();
    void recoveryStatusChanged();
};

} // namespace tampod
