#pragma once

#include "platform/output/audio_output.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace tampod {

// An output without a device: a clock thread consumes the mix in real time, so positions,
// loops and the end of playback behave as on a sound card. Used when no device is usable, and
// by tests, which may watch what would have been heard.
class NullAudioOutput final : public AudioOutput {
public:
    // Called on the clock thread with each rendered block (interleaved, channels() wide).
    using Monitor = std::function<void(const float *interleaved, int frames, int channels)>;

    explicit NullAudioOutput(std::chrono::milliseconds period = std::chrono::milliseconds(10));
    ~NullAudioOutput() override;

    QString deviceName() const override;
    void setMonitor(Monitor monitor);

protected:
    double supportedRate(double preferredRate) override;
    void startStream(double rate) override;
    void stopStream() noexcept override;

private:
    void runClock(std::stop_token stop, double rate);

    const std::chrono::milliseconds period_;
    std::mutex monitorMutex_;
    Monitor monitor_;  // thread: monitorMutex_
    std::mutex clockMutex_;
    std::condition_variable_any clockWake_;
    std::jthread clock_; // thread: started and joined under the output's lock
};

} // namespace tampod
