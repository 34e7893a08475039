#include "player/audio_import_coordinator.h"

#include "concurrency/thread_role.h"
#include "files/access/file_access_lease.h"

#include <QPointer>

#include <vector>

namespace tampod {

AudioImportCoordinator::AudioImportCoordinator(std::shared_ptr<AudioImportServing> importer, QObject *parent)
    : QObject(parent), importer_(std::move(importer))
{
}

AudioImportCoordinator::~AudioImportCoordinator()
{
    // The tasks hold this object weakly and end at their next step.
    for (const TaskHandle &task : std::as_const(tasks_))
        task.cancel();
}

TaskHandle AudioImportCoordinator::enqueue(const QList<QUrl> &urls, Existing existing, Completed completed)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (urls.isEmpty())
        return {};
    const TaskHandle previous = tail_;
    const QUuid generation = generation_.current();
    const QUuid jobToken = QUuid::createUuid();
    // Access to the dropped or chosen items lasts until the job has ended, also when it was
    // cancelled; the admitted records keep their own.
    std::vector<std::shared_ptr<const FileAccessLease>> leases;
    leases.reserve(urls.size());
    for (const QUrl &url : urls)
        leases.push_back(std::make_shared<const FileAccessLease>(url));

    // Counted before it starts: a job may run up to its first wait inside this call.
    tasks_.insert(jobToken, {});
    setPendingCount(int(tasks_.size()));
    QPointer<AudioImportCoordinator> self(this);
    const TaskHandle task = TaskHandle::start(
        [self, importer = importer_, previous, generation, jobToken, leases, existing = std::move(existing),
         completed = std::move(completed)](CancellationToken token) -> QCoro::Task<> {
            co_await previous.finished();
            const auto current = [&] {
                return !token.isCancelled() && self && self->generation_.matches(generation);
            };
            if (current()) {
                QList<QUrl> leased;
                for (const auto &lease : leases)
                    leased.append(lease->url());
                std::optional<AudioImportResult> result;
                try {
                    result = co_await importer->load(leased, existing(), token);
                } catch (...) {
                    // The importer reports refusals inside its result; anything thrown is a
                    // cancellation or a fault, and neither may half-apply an import.
                }
                if (result && current()) {
                    self->finish(jobToken, generation);
                    completed(*result);
                }
            }
            if (self)
                self->finish(jobToken, generation);
        });
    // A job that already ended has settled its entry and the tail itself.
    if (!task.isFinished()) {
        tasks_[jobToken] = task;
        tail_ = task;
    }
    return task;
}

void AudioImportCoordinator::cancelAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    generation_.renew();
    for (const TaskHandle &task : std::as_const(tasks_))
        task.cancel();
    tasks_.clear();
    setPendingCount(0);
    tail_ = {};
}

void AudioImportCoordinator::finish(const QUuid &token, const QUuid &generation)
{
    if (!generation_.matches(generation))
        return;
    tasks_.remove(token);
    setPendingCount(int(tasks_.size()));
    if (tasks_.isEmpty())
        tail_ = {};
}

void AudioImportCoordinator::setPendingCount(int count)
{
    if (pendingCount_ == count)
        return;
    pendingCount_ = count;
    Q_EMIT pendingCountChanged();
}

} // namespace tampod
