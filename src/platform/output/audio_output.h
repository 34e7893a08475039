#pragma once

#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace tampod {

class AudioRenderSource;

// The one process-wide output stream. It mixes every attached source, so the main player and
// a preview sound at once without a second device. The stream runs only while a source is
// attached; it is opened at the first source's rate when the device takes it, and sources of
// another rate are resampled to the running rate by their own decoders.
class AudioOutput {
public:
    static constexpr int maxSources = 16;

    virtual ~AudioOutput();
    AudioOutput(const AudioOutput &) = delete;
    AudioOutput &operator=(const AudioOutput &) = delete;

    // What the audio libraries must find in the process environment: no probe ever starts a
    // sound server. main sets these before any thread starts; nothing here changes the
    // environment, since a change beside another thread's getenv is undefined.
    struct EnvironmentSetting {
        const char *name;
        const char *value;
    };
    static constexpr std::array<EnvironmentSetting, 1> environment{{{"JACK_NO_START_SERVER", "1"}}};

    // How long the device probe may take. An audio library can block for good (JACK's client
    // waits for ever on a lock that a killed client left in its shared database): past this
    // bound from its start, the probe is left where it is and playback goes on as without a
    // device.
    static constexpr std::chrono::milliseconds probeBound{5000};

    // The default device through PortAudio, or the null output when no device is usable or the
    // probe did not answer within its bound. The device is probed once, on a thread of its own;
    // this waits for that probe, at most until its bound.
    static std::shared_ptr<AudioOutput> shared();
    // Starts the probe without waiting for it (for start-up).
    static void warmUp();
    // Replaces the shared output (tests and tools); players made afterwards use it.
    static void setShared(std::shared_ptr<AudioOutput> output);

    // For the end of the process: waits for a probe still running, at most bound and never past
    // the probe's own bound. False when it is still inside the audio libraries: the process must
    // then end without running their destructors (std::_Exit), since that thread may be in them.
    static bool probeSettled(std::chrono::milliseconds bound);

    // How the device is found (tests): probe in place of PortAudio's default device (null:
    // PortAudio's), given bound. Forgets the shared output and the probe made so far; a probe
    // still running is left to itself.
    using Probe = std::function<std::shared_ptr<AudioOutput>()>;
    static void setProbe(Probe probe, std::chrono::milliseconds bound = probeBound);

    virtual QString deviceName() const = 0;
    int channels() const noexcept { return channels_; }

    // The rate a source of sourceRate will be fed at: the running stream's rate, else the
    // source's own when the device takes it, else the device's default.
    double rateFor(double sourceRate);

    // Adds a source to the mix and starts the stream when it is the first; returns the rate
    // the stream runs at. Throws an Error when the device cannot be started.
    double attach(AudioRenderSource *source, double preferredRate);
    // Removes a source; on return the real-time thread no longer touches it. The stream stops
    // with the last source.
    void detach(AudioRenderSource *source);

    // Returns once no render pass that began before the call is still running, so that a
    // change made before the call is seen by the real-time thread from now on.
    void waitForRenderPass() const noexcept;

protected:
    explicit AudioOutput(int channels);

    // Backends call this from their real-time thread: fills interleaved with the mix.
    void render(float *interleaved, int frames) noexcept;
    // For an output that pulls the mix on demand instead of in real time (tests): renders as
    // render() does only when every source can fill the block, else renders nothing and
    // returns false, so a late decoder delays the mix instead of leaving silence in it.
    bool renderWhenReady(float *interleaved, int frames) noexcept;

    // Called with the output's lock held, while the stream is stopped.
    virtual double supportedRate(double preferredRate) = 0;
    // Opens (or reopens at another rate) and starts the stream; throws an Error on failure.
    virtual void startStream(double rate) = 0;
    virtual void stopStream() noexcept = 0;

private:
    void mix(float *interleaved, int frames) noexcept;

    const int channels_;
    std::mutex mutex_;
    // thread: written under mutex_, read by render()
    std::array<std::atomic<AudioRenderSource *>, maxSources> slots_{};
    int attached_ = 0;       // thread: mutex_
    double streamRate_ = 0;  // thread: mutex_; 0 while stopped
    std::atomic<std::uint64_t> renderPass_{0}; // thread: render() increments (odd while rendering)
};

} // namespace tampod
