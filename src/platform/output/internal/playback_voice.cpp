#include "platform/output/internal/playback_voice.h"

#include "platform/output/internal/wake_signal.h"

#include <algorithm>
#include <cmath>

namespace tampod {

namespace {
constexpr int scratchFrames = 1024;
}

PlaybackVoice::PlaybackVoice(int channels, std::int64_t ringFrames, WakeSignal &wake)
    : channels_(channels),
      ring_(channels, ringFrames),
      wake_(wake),
      left_(channels),
      right_(channels),
      scratch_(static_cast<size_t>(scratchFrames) * channels),
      peaks_(std::make_unique<std::atomic<float>[]>(channels))
{
    // Mono sounds on both sides; the first two channels are left and right; any further
    // channel goes to both sides, each side scaled so that the mix-down cannot clip.
    if (channels == 1) {
        left_[0] = right_[0] = 1;
    } else {
        left_[0] = right_[1] = 1;
        for (int c = 2; c < channels; ++c)
            left_[c] = right_[c] = 1;
        const float scale = 1.0f / static_cast<float>(channels - 1);
        for (int c = 0; c < channels; ++c) {
            left_[c] *= scale;
            right_[c] *= scale;
        }
    }
    for (int c = 0; c < channels; ++c)
        peaks_[c].store(0);
}

void PlaybackVoice::flush() noexcept
{
    ring_.reset();
    end_.store(false);
    consumed_.store(0);
}

float PlaybackVoice::takePeak(int channel) noexcept
{
    if (channel < 0 || channel >= channels_)
        return 0;
    return peaks_[channel].exchange(0);
}

void PlaybackVoice::renderAdd(float *mix, int frames, int outputChannels) noexcept
{
    if (state_.load() != State::Playing)
        return;
    int done = 0;
    while (done < frames) {
        const int n = static_cast<int>(ring_.read(scratch_.data(), std::min(frames - done, scratchFrames)));
        if (n == 0)
            break;
        for (int c = 0; c < channels_; ++c) {
            float peak = 0;
            for (int i = 0; i < n; ++i)
                peak = std::max(peak, std::fabs(scratch_[static_cast<size_t>(i) * channels_ + c]));
            float seen = peaks_[c].load(std::memory_order_relaxed);
            while (peak > seen && !peaks_[c].compare_exchange_weak(seen, peak, std::memory_order_relaxed)) {
            }
        }
        // Volume changes ramp over one block instead of stepping, which would click.
        float target = gain_.load(std::memory_order_relaxed);
        target = std::isfinite(target) ? std::clamp(target, 0.0f, 1.0f) : 0.0f;
        if (startGain_.exchange(false, std::memory_order_relaxed))
            appliedGain_ = target;
        mixInto(mix + static_cast<size_t>(done) * outputChannels, n, outputChannels, appliedGain_, target);
        appliedGain_ = target;
        done += n;
    }
    consumed_.fetch_add(done, std::memory_order_release);
    if (done < frames && end_.load(std::memory_order_acquire) && ring_.readable() == 0) {
        state_.store(State::Drained);
        wake_.signal();
    } else if (ring_.readable() < ring_.capacity() / 2) {
        wake_.signal();
    }
}

void PlaybackVoice::mixInto(float *out, int frames, int outputChannels, float from, float to) noexcept
{
    const float step = (to - from) / static_cast<float>(frames);
    const float *in = scratch_.data();
    for (int i = 0; i < frames; ++i) {
        const float g = from + step * static_cast<float>(i + 1);
        float l = 0, r = 0;
        for (int c = 0; c < channels_; ++c) {
            l += in[c] * left_[c];
            r += in[c] * right_[c];
        }
        in += channels_;
        if (outputChannels == 1) {
            out[0] += g * 0.5f * (l + r);
        } else {
            out[0] += g * l;
            out[1] += g * r;
        }
        out += outputChannels;
    }
}

} // namespace tampod
