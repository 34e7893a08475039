#include "player/waveform_coordinator.h"

#include "concurrency/thread_role.h"
#include "core/observable.h"

#include <QPointer>

namespace tampod {

WaveformCoordinator::WaveformCoordinator(WaveformReading read, QObject *parent)
    : QObject(parent), read_(std::move(read))
{
}

void WaveformCoordinator::reset()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    loads_.cancelAll();
    setPeaks({});
    setIsLoading(false);
}

TaskHandle WaveformCoordinator::prepare(const AudioTrack &track)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    reset();
    const bool pending = track.waitsForRecovery();
    if (pending)
        return {};
    const auto copy = track.recovery ? track.recovery->copy : nullptr;
    if (copy) {
        const auto cached = cache_.constFind(track.id);
        if (cached != cache_.constEnd() && cached->digest == copy->pcmDigest()) {
            setPeaks(cached->peaks);
            return {};
        }
    }
    setIsLoading(true);
    QPointer<WaveformCoordinator> self(this);
    const TaskHandle task = loads_.enqueue([self, read = read_, track, copy](SerialJobQueue::Job job) -> QCoro::Task<> {
        WaveformPeaks peaks;
        try {
            peaks = co_await read(track, job.token());
        } catch (...) {
            // A reading that fails has nothing to draw, like an unreadable file.
        }
        if (!self || !job.isCurrent())
            co_return;
        self->setPeaks(peaks);
        self->setIsLoading(false);
        if (copy && !peaks.isEmpty()) {
            // Bounded by starting over rather than by tracking use.
            if (self->cache_.size() >= cacheLimit)
                self->cache_.clear();
            self->cache_.insert(track.id, CachedPeaks{copy->pcmDigest(), peaks});
        }
    });
    return task.isFinished() ? TaskHandle() : task; // a reading that completed at once
}

void WaveformCoordinator::setPeaks(const WaveformPeaks &peaks)
{
    setObservable(this, peaks_, peaks, &WaveformCoordinator::peaksChanged);
}

void WaveformCoordinator::setIsLoading(bool loading)
{
    setObservable(this, isLoading_, loading, &WaveformCoordinator::isLoadingChanged);
}

} // namespace tampod
