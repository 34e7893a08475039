#include "player/waveform_coordinator.h"

#include "concurrency/thread_role.h"
#include "core/observable.h"

#include <QPointer>

namespace tampod {

WaveformCoordinator::WaveformCoordinator(WaveformReading read, QObject *parent)
    : QObject(parent), read_(std::move(read))
{
}

WaveformCoordinator::~WaveformCoordinator()
{
    // The task holds this object weakly and drops its result.
    task_.cancel();
}

void WaveformCoordinator::reset()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    generation_.renew();
    task_.cancel();
    task_ = {};
    setPeaks({});
    setIsLoading(false);
}

TaskHandle WaveformCoordinator::prepare(const AudioTrack &track)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    reset();
    const bool pending = track.recovery && !track.recovery->copy;
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
    const QUuid generation = generation_.current();
    setIsLoading(true);
    QPointer<WaveformCoordinator> self(this);
    task_ = TaskHandle::start([self, read = read_, track, generation, copy](CancellationToken token) -> QCoro::Task<> {
        WaveformPeaks peaks;
        try {
            peaks = co_await read(track, token);
        } catch (...) {
            // A reading that fails has nothing to draw, like an unreadable file.
        }
        if (token.isCancelled() || !self || !self->generation_.matches(generation))
            co_return;
        self->setPeaks(peaks);
        self->setIsLoading(false);
        self->task_ = {};
        if (copy && !peaks.isEmpty()) {
            // Bounded by starting over rather than by tracking use.
            if (self->cache_.size() >= cacheLimit)
                self->cache_.clear();
            self->cache_.insert(track.id, CachedPeaks{copy->pcmDigest(), peaks});
        }
    });
    if (task_.isFinished()) // a reading that completed at once
        task_ = {};
    return task_;
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
