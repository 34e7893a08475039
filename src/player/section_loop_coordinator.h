#pragma once

#include "playback/prepared_section.h"
#include "playback/section_preparing.h"
#include "playback/section_range.h"

#include "concurrency/serial_job_queue.h"
#include "library/audio_track.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QUndoStack;

namespace tampod {

// The section loop of the current track: its range, the section rendered for it, one
// preparation at a time with its progress, and an undo history of boundary changes (at most
// the last 100). A finished preparation never starts playback by itself; results and errors
// of cancelled or superseded preparations are dropped without a word.
// thread: main only, like its task, its history and its callbacks.
class SectionLoopCoordinator : public QObject {
    Q_OBJECT

public:
    static constexpr int historyLimit = 100;
    static inline const QString actionName = QStringLiteral("Loop Boundary Change");

    explicit SectionLoopCoordinator(std::shared_ptr<SectionPreparing> service, QObject *parent = nullptr);

    // The loop's range; none while the loop is off.
    const std::optional<SectionRange> &range() const { return range_; }
    // The section ready for playback and export; none while preparing and while off.
    const std::shared_ptr<const PreparedSection> &prepared() const { return prepared_; }
    bool isPreparing() const { return isPreparing_; }
    double progress() const { return progress_; }
    bool canUndo() const { return canUndo_; }
    bool canRedo() const { return canRedo_; }

    // The model's hooks: a section whose result was applied, and the user text of a
    // preparation that failed (the loop is off by then).
    std::function<void(std::shared_ptr<const PreparedSection>)> completed = [](std::shared_ptr<const PreparedSection>) {};
    std::function<void(const QString &message)> failed = [](const QString &) {};

    // With recordingChange, a range that differs from the current one becomes one undoable
    // change. Any running preparation is cancelled and a new one started; returns its task.
    TaskHandle prepare(const AudioTrack &track, SectionRange range, bool recordingChange);
    // Turns the loop off and forgets the history.
    void reset();
    void undo();
    void redo();

    // The text failed receives for an error of a preparation.
    static QString failureMessage(const std::exception_ptr &error);

Q_SIGNALS:
    void rangeChanged();
    void preparedChanged(); // every assignment notifies
    void isPreparingChanged();
    void progressChanged();
    void canUndoChanged();
    void canRedoChanged();

private:
    friend class LoopBoundaryChange;

    void cancelPreparation();
    void updateHistoryAvailability();
    // The history's way back to a range: prepares it for the current track.
    void restore(SectionRange range);

    void setRange(const std::optional<SectionRange> &range);
    void setPrepared(std::shared_ptr<const PreparedSection> prepared);
    void setIsPreparing(bool preparing);
    void setProgress(double progress);

    std::optional<SectionRange> range_;
    std::shared_ptr<const PreparedSection> prepared_;
    bool isPreparing_ = false;
    double progress_ = 0;
    bool canUndo_ = false;
    bool canRedo_ = false;
    const std::shared_ptr<SectionPreparing> service_;
    SerialJobQueue preparations_; // at most one current: each prepare() cancels the one before
    std::optional<AudioTrack> currentTrack_;
    QUndoStack *history_; // a child of this object
    bool steppingHistory_ = false; // inside undo() or redo(): the stack records the way back
    bool clearAfterStep_ = false;  // a reset during a step empties the history after it
};

} // namespace tampod
