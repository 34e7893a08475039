#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace tampod {

class BatchExportSession;
class ExportSession;

// What the main window's content, transport bar and keys read from the player and ask of it.
// The application adapts the player model to it; tests give a fake. changed() covers every
// value except position and levels, which change up to 30 times a second and come with
// positionOrLevelsChanged(). thread: main only.
class MainWindowModel : public QObject {
    Q_OBJECT

public:
    // A loop section as fractions 0…1 of the track.
    struct Span {
        double start = 0;
        double end = 1;
    };

    using QObject::QObject;

    // Transport.
    virtual bool canPlaySelection() const = 0;
    virtual bool isPlaying() const = 0;
    virtual bool isRepeating() const = 0;
    virtual double position() const = 0;
    virtual double progress() const = 0;
    virtual double volume() const = 0;
    virtual QList<double> levels() const = 0;
    virtual QString timeText() const = 0;
    // Seconds: the prepared loop section's start (0 without one) and the end of playback.
    virtual double sectionStart() const = 0;
    virtual double playbackEnd() const = 0;
    // The current track's length in seconds; none without a current track.
    virtual std::optional<double> selectedDuration() const = 0;
    virtual bool hasPrimaryExportTrack() const = 0;
    virtual QString primaryExportHelp() const = 0;
    virtual bool primaryExportIsHighlighted() const = 0;
    // The single-file export session of the primary export track; pauses playback always.
    // None without a primary export track.
    virtual std::unique_ptr<ExportSession> openPrimaryExportSession() = 0;
    // The batch export session of the library's export selection; pauses playback always.
    // None without a selection or while one of its files is being recovered.
    virtual std::unique_ptr<BatchExportSession> libraryExportSession() = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void seek(double seconds) = 0;
    virtual void toggleRepeat() = 0;
    virtual void setVolume(double volume) = 0;

    // Sidebar and library.
    virtual std::optional<Span> loopSection() const = 0;
    virtual double zoomAmount() const = 0;
    virtual void setZoomAmount(double amount, Span focus) = 0;
    virtual void toggleSectionLoop() = 0;
    virtual bool libraryIsEmpty() const = 0;
    virtual int pendingImports() const = 0;
    virtual void clearAll() = 0;
    virtual bool selectedTrackHasRecovery() const = 0;
    // Queues files for import without selecting them.
    virtual void importFiles(const QList<QUrl> &urls) = 0;

    // Keys.
    virtual void removeSelected() = 0;
    // Each does nothing while an SD2 recovery of the current track runs or nothing is left to
    // undo (redo); otherwise it pauses playback and steps the loop section's history.
    virtual void undoSectionRange() = 0;
    virtual void redoSectionRange() = 0;

Q_SIGNALS:
    void changed();
    void positionOrLevelsChanged();
};

} // namespace tampod
