#include "platform/output/audio_output.h"

#include "platform/output/internal/audio_render_source.h"
#include "platform/output/internal/port_audio_output.h"
#include "platform/output/null_audio_output.h"

#include "concurrency/thread_start.h"
#include "core/error.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>

namespace tampod {

namespace {

using Clock = std::chrono::steady_clock;

std::shared_ptr<AudioOutput> probeDevice()
{
    if (auto device = PortAudioOutput::openDefault())
        return device;
    return std::make_shared<NullAudioOutput>();
}

// The probe runs on a thread that owns only what it makes: a probe that never returns is left
// where it is, and nothing of ours waits for it longer than its bound.
struct SharedOutput {
    std::mutex mutex;
    std::shared_ptr<AudioOutput> output;                       // thread: mutex
    AudioOutput::Probe find = probeDevice;                     // thread: mutex
    std::chrono::milliseconds bound = AudioOutput::probeBound; // thread: mutex
    std::shared_future<std::shared_ptr<AudioOutput>> probe;    // thread: mutex
    Clock::time_point deadline;                                // thread: mutex; the probe's end
    std::jthread prober;                                       // thread: mutex

    ~SharedOutput() { leaveProber(); }

    // A finished probe's thread is joined (it may still be returning); a running one is left
    // to the audio library it is in.
    void leaveProber()
    {
        if (prober.joinable()
            && (!probe.valid() || probe.wait_for(std::chrono::seconds(0)) != std::future_status::ready))
            prober.detach();
        prober = {};
    }
};

SharedOutput &sharedOutput()
{
    static SharedOutput state;
    return state;
}

void startProbeLocked(SharedOutput &state)
{
    state.leaveProber();
    std::promise<std::shared_ptr<AudioOutput>> promise;
    state.probe = promise.get_future().share();
    state.deadline = Clock::now() + state.bound;
    state.prober = startThread([promise = std::move(promise), find = state.find]() mutable {
        try {
            promise.set_value(find());
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    });
}

} // namespace

std::shared_ptr<AudioOutput> AudioOutput::shared()
{
    std::shared_future<std::shared_ptr<AudioOutput>> probe;
    Clock::time_point deadline;
    {
        auto &state = sharedOutput();
        std::lock_guard lock(state.mutex);
        if (state.output)
            return state.output;
        if (!state.probe.valid())
            startProbeLocked(state);
        probe = state.probe;
        deadline = state.deadline;
    }
    // Past its bound the probe is taken for stuck, and playback goes on as without a device.
    std::shared_ptr<AudioOutput> output = probe.wait_until(deadline) == std::future_status::ready
                                              ? probe.get()
                                              : std::make_shared<NullAudioOutput>();
    auto &state = sharedOutput();
    std::lock_guard lock(state.mutex);
    // A setShared() made while the probe ran wins over the probe.
    if (!state.output)
        state.output = std::move(output);
    return state.output;
}

void AudioOutput::warmUp()
{
    auto &state = sharedOutput();
    std::lock_guard lock(state.mutex);
    if (!state.output && !state.probe.valid())
        startProbeLocked(state);
}

void AudioOutput::setShared(std::shared_ptr<AudioOutput> output)
{
    auto &state = sharedOutput();
    std::lock_guard lock(state.mutex);
    state.output = std::move(output);
}

bool AudioOutput::probeSettled(std::chrono::milliseconds bound)
{
    std::shared_future<std::shared_ptr<AudioOutput>> probe;
    Clock::time_point deadline;
    {
        auto &state = sharedOutput();
        std::lock_guard lock(state.mutex);
        if (!state.probe.valid())
            return true;
        probe = state.probe;
        deadline = state.deadline;
    }
    return probe.wait_until(std::min(deadline, Clock::now() + bound)) == std::future_status::ready;
}

void AudioOutput::setProbe(Probe probe, std::chrono::milliseconds bound)
{
    auto &state = sharedOutput();
    std::lock_guard lock(state.mutex);
    state.leaveProber();
    state.output = nullptr;
    state.probe = {};
    state.find = probe ? std::move(probe) : Probe(probeDevice);
    state.bound = bound;
}

AudioOutput::AudioOutput(int channels) : channels_(channels) {}

AudioOutput::~AudioOutput() = default;

double AudioOutput::rateFor(double sourceRate)
{
    std::lock_guard lock(mutex_);
    return streamRate_ > 0 ? streamRate_ : supportedRate(sourceRate);
}

double AudioOutput::attach(AudioRenderSource *source, double preferredRate)
{
    std::lock_guard lock(mutex_);
    auto slot = std::find_if(slots_.begin(), slots_.end(), [](auto &s) { return s.load() == nullptr; });
    if (slot == slots_.end())
        throw Error(QStringLiteral("audio"), 1, QStringLiteral("Too many sounds are playing at once."));
    if (attached_ == 0) {
        const double rate = supportedRate(preferredRate);
        startStream(rate); // throws before anything changed
        streamRate_ = rate;
    }
    slot->store(source);
    ++attached_;
    return streamRate_;
}

void AudioOutput::detach(AudioRenderSource *source)
{
    std::lock_guard lock(mutex_);
    auto slot = std::find_if(slots_.begin(), slots_.end(), [&](auto &s) { return s.load() == source; });
    if (slot == slots_.end())
        return;
    slot->store(nullptr);
    waitForRenderPass();
    if (--attached_ == 0) {
        stopStream();
        streamRate_ = 0;
    }
}

void AudioOutput::waitForRenderPass() const noexcept
{
    const auto pass = renderPass_.load();
    if (pass % 2 == 0)
        return;
    while (renderPass_.load() == pass)
        std::this_thread::yield();
}

void AudioOutput::render(float *interleaved, int frames) noexcept
{
    renderPass_.fetch_add(1);
    mix(interleaved, frames);
    renderPass_.fetch_add(1);
}

bool AudioOutput::renderWhenReady(float *interleaved, int frames) noexcept
{
    // Within one pass, so that a source is neither detached nor flushed between the question
    // and the mix.
    renderPass_.fetch_add(1);
    const bool ready = std::all_of(slots_.begin(), slots_.end(), [frames](auto &slot) {
        const auto *source = slot.load();
        return !source || source->canRender(frames);
    });
    if (ready)
        mix(interleaved, frames);
    renderPass_.fetch_add(1);
    return ready;
}

void AudioOutput::mix(float *interleaved, int frames) noexcept
{
    std::memset(interleaved, 0, sizeof(float) * static_cast<size_t>(frames) * channels_);
    for (auto &slot : slots_) {
        if (auto *source = slot.load())
            source->renderAdd(interleaved, frames, channels_);
    }
}

} // namespace tampod
