#include "player/waveform_zoom.h"

#include "concurrency/thread_role.h"
#include "core/observable.h"

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <memory>

namespace tampod {

namespace {

double middle(const WaveformViewport &window)
{
    return (window.start + window.end) / 2;
}

} // namespace

WaveformZoom::WaveformZoom(WaveformReading read, QObject *parent) : QObject(parent), read_(std::move(read)) {}

WaveformZoom::~WaveformZoom()
{
    task_.cancel();
}

double WaveformZoom::magnification() const
{
    return std::exp2(6 * amount_);
}

WaveformViewport WaveformZoom::viewport() const
{
    return WaveformViewport::centered(center_, magnification());
}

void WaveformZoom::reset()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    setAmountValue(0);
    setCenter(0.5);
    clearDetail();
}

void WaveformZoom::setAmount(double amount, SectionRange focus)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!std::isfinite(amount))
        return;
    const double clamped = std::clamp(amount, 0.0, 1.0);
    // Centred on the focus, then pushed inward until the whole window fits.
    const double center = middle(WaveformViewport::centered((focus.start + focus.end) / 2, std::exp2(6 * clamped)));
    setAmountValue(clamped);
    setCenter(center);
}

void WaveformZoom::pan(double center)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!std::isfinite(center) || amount_ <= 0)
        return;
    setCenter(middle(WaveformViewport::centered(center, magnification())));
}

void WaveformZoom::clearDetail()
{
    generation_.renew();
    task_.cancel();
    task_ = {};
    setPeaks({});
    setReady(std::nullopt);
    setIsLoading(false);
}

QCoro::Task<> WaveformZoom::loadDetail(std::optional<AudioTrack> track, WaveformDetailRequest request,
                                       CancellationToken caller)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (caller.isCancelled() || ready_ == request)
        co_return;
    clearDetail();
    if (!track || track->waitsForRecovery() || request.trackID != track->id
        || request.audioURL != track->audioURL() || !request.isZoomed)
        co_return;
    const QUuid generation = generation_.current();
    setIsLoading(true);
    auto result = std::make_shared<WaveformPeaks>();
    const TaskHandle load = TaskHandle::start(
        [read = read_, track = *track, result](CancellationToken token) -> QCoro::Task<> {
            *result = co_await read(track, token);
        },
        caller);
    task_ = load;
    QPointer<WaveformZoom> self(this);
    co_await load.finished();
    if (!self || !self->generation_.matches(generation))
        co_return;
    self->setIsLoading(false);
    self->task_ = {};
    if (caller.isCancelled() || load.isCancelled())
        co_return;
    self->setPeaks(*result);
    self->setReady(request);
}

void WaveformZoom::setAmountValue(double amount)
{
    setObservable(this, amount_, amount, &WaveformZoom::amountChanged);
}

void WaveformZoom::setCenter(double center)
{
    setObservable(this, center_, center, &WaveformZoom::centerChanged);
}

void WaveformZoom::setPeaks(const WaveformPeaks &peaks)
{
    setObservable(this, peaks_, peaks, &WaveformZoom::peaksChanged);
}

void WaveformZoom::setReady(const std::optional<WaveformDetailRequest> &ready)
{
    setObservable(this, ready_, ready, &WaveformZoom::readyChanged);
}

void WaveformZoom::setIsLoading(bool loading)
{
    setObservable(this, isLoading_, loading, &WaveformZoom::isLoadingChanged);
}

} // namespace tampod
