#include "player/audio_import_coordinator.h"

#include "concurrency/thread_role.h"
#include "files/access/file_access_lease.h"

#include <vector>

namespace tampod {

AudioImportCoordinator::AudioImportCoordinator(std::shared_ptr<AudioImportServing> importer, QObject *parent)
    : QObject(parent), importer_(std::move(importer))
{
    jobs_.onCountChanged([this] { setPendingCount(jobs_.count()); });
}

TaskHandle AudioImportCoordinator::enqueue(const QList<QUrl> &urls, Existing existing, Completed completed)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (urls.isEmpty())
        return {};
    // Access to the dropped or chosen items lasts until the job has ended, also when it was
    // cancelled; the admitted records keep their own.
    std::vector<std::shared_ptr<const FileAccessLease>> leases;
    leases.reserve(urls.size());
    for (const QUrl &url : urls)
        leases.push_back(std::make_shared<const FileAccessLease>(url));

    return jobs_.enqueue([importer = importer_, leases, existing = std::move(existing),
                          completed = std::move(completed)](SerialJobQueue::Job job) -> QCoro::Task<> {
        QList<QUrl> leased;
        for (const auto &lease : leases)
            leased.append(lease->url());
        std::optional<AudioImportResult> result;
        try {
            result = co_await importer->load(leased, existing(), job.token());
        } catch (...) {
            // The importer reports refusals inside its result; anything thrown is a
            // cancellation or a fault, and neither may half-apply an import.
        }
        if (result && job.isCurrent()) {
            job.finish();
            completed(*result);
        }
    });
}

void AudioImportCoordinator::cancelAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    jobs_.cancelAll();
}

void AudioImportCoordinator::setPendingCount(int count)
{
    if (pendingCount_ == count)
        return;
    pendingCount_ = count;
    Q_EMIT pendingCountChanged();
}

} // namespace tampod
