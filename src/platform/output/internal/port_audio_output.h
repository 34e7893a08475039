#pragma once

#include "platform/output/audio_output.h"

#include <map>
#include <memory>

struct PaStreamCallbackTimeInfo;

namespace tampod {

// The default output device through PortAudio. PortAudio stays initialised for as long as
// this object lives.
class PortAudioOutput final : public AudioOutput {
public:
    // Initialises PortAudio with the ALSA and JACK libraries silenced; null when there is no
    // usable default output device. Starts no JACK server once main has set AudioOutput::environment.
    static std::shared_ptr<PortAudioOutput> openDefault();

    ~PortAudioOutput() override;
    QString deviceName() const override;

protected:
    double supportedRate(double preferredRate) override;
    void startStream(double rate) override;
    void stopStream() noexcept override;

private:
    PortAudioOutput(int device, int channels, double defaultRate, double latency, QString name);
    void closeStream() noexcept;
    static int callback(const void *, void *output, unsigned long frames,
                        const PaStreamCallbackTimeInfo *, unsigned long, void *self);

    const int device_;
    const double defaultRate_;
    const double latency_;
    const QString name_;
    void *stream_ = nullptr; // thread: the output's lock
    double openRate_ = 0;    // thread: the output's lock
    std::map<double, bool> supported_; // thread: the output's lock
};

} // namespace tampod
