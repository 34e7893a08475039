#pragma once

#include "platform/output/internal/audio_render_source.h"
#include "platform/output/internal/sample_ring_buffer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace tampod {

class WakeSignal;

// The real-time half of a player: takes decoded frames from the ring, meters them, applies
// the volume and mixes them down to the output's channels. The decoder side fills the ring
// and, after the last frame, calls markEnd(); the voice then drains and reports Drained.
class PlaybackVoice final : public AudioRenderSource {
public:
    enum class State { Idle, Playing, Drained };

    PlaybackVoice(int channels, std::int64_t ringFrames, WakeSignal &wake);

    void renderAdd(float *mix, int frames, int outputChannels) noexcept override;
    // False only while playing short of frames before the end: the decoder is behind.
    bool canRender(int frames) const noexcept override
    {
        return state_.load() != State::Playing || end_.load(std::memory_order_acquire) || ring_.readable() >= frames;
    }

    SampleRingBuffer &ring() noexcept { return ring_; }
    State state() const noexcept { return state_.load(); }
    void setState(State state) noexcept
    {
        if (state == State::Playing)
            startGain_.store(true, std::memory_order_relaxed);
        state_.store(state);
    }

    // Producer side.
    void markEnd() noexcept { end_.store(true, std::memory_order_release); }
    // Only while the real-time thread does not render this voice.
    void flush() noexcept;

    // Frames taken from the ring since the last flush.
    std::int64_t consumed() const noexcept { return consumed_.load(std::memory_order_acquire); }

    void setGain(float gain) noexcept { gain_.store(gain, std::memory_order_relaxed); }
    // The largest magnitude per channel since the last call, then starts again.
    float takePeak(int channel) noexcept;

private:
    void mixInto(float *out, int frames, int outputChannels, float from, float to) noexcept;

    const int channels_;
    SampleRingBuffer ring_;
    WakeSignal &wake_;
    std::vector<float> left_, right_;  // mix-down gains per channel; constant
    std::vector<float> scratch_;       // thread: real-time only
    float appliedGain_ = 0;            // thread: real-time only
    std::atomic<State> state_{State::Idle};     // thread: control sets Idle/Playing, real-time sets Drained
    std::atomic<bool> end_{false};              // thread: producer sets, flush clears
    std::atomic<std::int64_t> consumed_{0};     // thread: real-time adds, flush clears
    std::atomic<float> gain_{1};                // thread: control writes, real-time reads
    std::atomic<bool> startGain_{true};         // thread: control raises on start, real-time clears
    std::unique_ptr<std::atomic<float>[]> peaks_; // thread: real-time raises, takePeak resets
};

} // namespace tampod
