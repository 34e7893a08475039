#include "platform/output/internal/port_audio_output.h"

#include "core/error.h"

#include <portaudio.h>

#include <dlfcn.h>

#include <cmath>

namespace tampod {

namespace {

// ALSA and JACK report every unusable configuration on stderr; we keep no log, so their
// messages go nowhere. The libraries are PortAudio's own dependencies, so they are already
// loaded: their handlers are looked up rather than linked.
void quietAlsa(const char *, int, const char *, int, const char *, ...) {}
void quietJack(const char *) {}

void silenceAudioLibraries()
{
    if (void *alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD)) {
        using SetHandler = int (*)(void (*)(const char *, int, const char *, int, const char *, ...));
        if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
            set(quietAlsa);
        dlclose(alsa);
    }
    if (void *jack = dlopen("libjack.so.0", RTLD_NOW | RTLD_NOLOAD)) {
        using SetFunction = void (*)(void (*)(const char *));
        if (auto set = reinterpret_cast<SetFunction>(dlsym(jack, "jack_set_error_function")))
            set(quietJack);
        if (auto set = reinterpret_cast<SetFunction>(dlsym(jack, "jack_set_info_function")))
            set(quietJack);
        dlclose(jack);
    }
}

Error audioError(PaError code)
{
    return Error(QStringLiteral("audio"), static_cast<int>(code),
                 QStringLiteral("The audio device could not be started (audio error %1).")
                     .arg(QString::fromUtf8(Pa_GetErrorText(code))));
}

PaStreamParameters parameters(int device, int channels, double latency)
{
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = channels;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = latency;
    return p;
}

} // namespace

std::shared_ptr<PortAudioOutput> PortAudioOutput::openDefault()
{
    silenceAudioLibraries();
    if (Pa_Initialize() != paNoError)
        return nullptr;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo *info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info || info->maxOutputChannels < 1) {
        Pa_Terminate();
        return nullptr;
    }
    const int channels = info->maxOutputChannels >= 2 ? 2 : 1;
    // Playback prefers fewer wake-ups to low latency.
    const double latency = info->defaultHighOutputLatency;
    const auto p = parameters(device, channels, latency);
    if (Pa_IsFormatSupported(nullptr, &p, info->defaultSampleRate) != paFormatIsSupported) {
        Pa_Terminate();
        return nullptr;
    }
    return std::shared_ptr<PortAudioOutput>(new PortAudioOutput(
        device, channels, info->defaultSampleRate, latency, QString::fromUtf8(info->name)));
}

PortAudioOutput::PortAudioOutput(int device, int channels, double defaultRate, double latency, QString name)
    : AudioOutput(channels),
      device_(device),
      defaultRate_(defaultRate),
      latency_(latency),
      name_(std::move(name))
{
}

PortAudioOutput::~PortAudioOutput()
{
    closeStream();
    Pa_Terminate();
}

QString PortAudioOutput::deviceName() const
{
    return name_;
}

double PortAudioOutput::supportedRate(double preferredRate)
{
    if (!std::isfinite(preferredRate) || preferredRate <= 0)
        return defaultRate_;
    if (preferredRate == openRate_)
        return preferredRate;
    // Asking the device opens it, which is slow; every file of an import asks.
    auto known = supported_.find(preferredRate);
    if (known == supported_.end()) {
        const auto p = parameters(device_, channels(), latency_);
        const bool takes = Pa_IsFormatSupported(nullptr, &p, preferredRate) == paFormatIsSupported;
        known = supported_.emplace(preferredRate, takes).first;
    }
    return known->second ? preferredRate : defaultRate_;
}

void PortAudioOutput::startStream(double rate)
{
    if (stream_ && openRate_ != rate)
        closeStream();
    if (!stream_) {
        const auto p = parameters(device_, channels(), latency_);
        PaStream *stream = nullptr;
        const PaError opened = Pa_OpenStream(&stream, nullptr, &p, rate, paFramesPerBufferUnspecified,
                                             paDitherOff, &PortAudioOutput::callback, this);
        if (opened != paNoError)
            throw audioError(opened);
        stream_ = stream;
        openRate_ = rate;
    }
    const PaError started = Pa_StartStream(static_cast<PaStream *>(stream_));
    if (started != paNoError) {
        closeStream();
        throw audioError(started);
    }
}

void PortAudioOutput::stopStream() noexcept
{
    // Stopping (not aborting) lets the device play out what it was already given, so the
    // end of a file is heard before its end is reported.
    if (stream_ && Pa_IsStreamActive(static_cast<PaStream *>(stream_)) == 1)
        Pa_StopStream(static_cast<PaStream *>(stream_));
}

void PortAudioOutput::closeStream() noexcept
{
    if (!stream_)
        return;
    stopStream();
    Pa_CloseStream(static_cast<PaStream *>(stream_));
    stream_ = nullptr;
    openRate_ = 0;
}

int PortAudioOutput::callback(const void *, void *output, unsigned long frames,
                              const PaStreamCallbackTimeInfo *, unsigned long, void *self)
{
    static_cast<PortAudioOutput *>(self)->render(static_cast<float *>(output), static_cast<int>(frames));
    return paContinue;
}

} // namespace tampod
