#pragma once

#include "concurrency/task_handle.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace tampod {

// An export preview as the focus sees it: something audible that can be told to stop.
class AudiblePreview : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Ends any audition of this preview and shows message (usually empty); returns at once.
    virtual void stop(const QString &message) = 0;
    // The audition's task, still winding down after stop(); empty when none runs.
    virtual TaskHandle runningTask() const = 0;
};

// The one audible export preview of the whole process. Whoever starts sound next stops the
// current preview and awaits cleanup, so that two sounds never overlap.
// thread: main only.
class PreviewAudioFocus {
public:
    static PreviewAudioFocus &shared();

    // The preview holding the focus, held weakly: none once it is gone.
    AudiblePreview *current() const { return current_.data(); }
    // The task of the preview that last gave up the focus; awaiting it waits until that
    // preview's player has stopped and its files are gone. Empty when there is none.
    const TaskHandle &cleanup() const { return cleanup_; }

    // preview holds the focus from now on (the one before it was stopped by the caller).
    void take(AudiblePreview *preview);
    // When preview holds the focus, gives it up and leaves its running task as cleanup.
    void release(const AudiblePreview *preview);

private:
    QPointer<AudiblePreview> current_;
    TaskHandle cleanup_;
};

} // namespace tampod
