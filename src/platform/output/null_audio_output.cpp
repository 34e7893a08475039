#include "platform/output/null_audio_output.h"

#include "concurrency/thread_start.h"

#include <cmath>
#include <vector>

namespace tampod {

namespace {
constexpr int blockFrames = 512;
}

NullAudioOutput::NullAudioOutput(std::chrono::milliseconds period)
    : AudioOutput(2), period_(period)
{
}

NullAudioOutput::~NullAudioOutput()
{
    stopStream();
}

QString NullAudioOutput::deviceName() const
{
    return QStringLiteral("No audio device");
}

void NullAudioOutput::setMonitor(Monitor monitor)
{
    std::lock_guard lock(monitorMutex_);
    monitor_ = std::move(monitor);
}

double NullAudioOutput::supportedRate(double preferredRate)
{
    const bool usable = std::isfinite(preferredRate) && preferredRate >= 1000 && preferredRate <= 768000;
    return usable ? preferredRate : 44100;
}

void NullAudioOutput::startStream(double rate)
{
    stopStream();
    clock_ = startThread([this, rate](std::stop_token stop) { runClock(stop, rate); });
}

void NullAudioOutput::stopStream() noexcept
{
    if (!clock_.joinable())
        return;
    clock_.request_stop();
    clock_.join();
}

void NullAudioOutput::runClock(std::stop_token stop, double rate)
{
    using Clock = std::chrono::steady_clock;
    std::vector<float> block(static_cast<size_t>(blockFrames) * channels());
    const auto start = Clock::now();
    std::int64_t rendered = 0;
    auto next = start;
    std::unique_lock lock(clockMutex_);
    while (!stop.stop_requested()) {
        // Frames are due by the elapsed time, not by the number of ticks, so late wake-ups
        // never let the clock drift.
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        const auto due = static_cast<std::int64_t>(elapsed.count() * rate);
        lock.unlock();
        while (rendered < due) {
            const int frames = static_cast<int>(std::min<std::int64_t>(due - rendered, blockFrames));
            render(block.data(), frames);
            rendered += frames;
            std::lock_guard monitorLock(monitorMutex_);
            if (monitor_)
                monitor_(block.data(), frames, channels());
        }
        lock.lock();
        next += period_;
        clockWake_.wait_until(lock, stop, next, [] { return false; });
    }
}

} // namespace tampod
