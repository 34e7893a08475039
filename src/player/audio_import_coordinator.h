#pragma once

#include "import/audio_import_serving.h"

#include "concurrency/serial_job_queue.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>

#include <functional>
#include <memory>

namespace tampod {

// The serial import queue: one import at a time in arrival order, each job awaiting the one
// enqueued before it whatever became of it. A job keeps access to its URLs from enqueue until
// it has finished; its result is delivered only while the queue's generation is unchanged.
// thread: main only, like its tasks and callbacks.
class AudioImportCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(int pendingCount READ pendingCount NOTIFY pendingCountChanged)

public:
    // The URLs already in the library, asked when a job reaches the importer.
    using Existing = std::function<QSet<QUrl>()>;
    using Completed = std::function<void(const AudioImportResult &)>;

    explicit AudioImportCoordinator(std::shared_ptr<AudioImportServing> importer, QObject *parent = nullptr);

    // Jobs queued or running.
    int pendingCount() const { return pendingCount_; }

    // Queues one import; an empty handle (and nothing queued) for an empty list.
    TaskHandle enqueue(const QList<QUrl> &urls, Existing existing, Completed completed);
    // Drops every queued and running job without a word; the next job starts at once.
    void cancelAll();

Q_SIGNALS:
    void pendingCountChanged();

private:
    void setPendingCount(int count);

    int pendingCount_ = 0; // thread: main
    const std::shared_ptr<AudioImportServing> importer_;
    SerialJobQueue jobs_;  // thread: main
};

} // namespace tampod
