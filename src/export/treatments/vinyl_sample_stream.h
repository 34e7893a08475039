#pragma once

#include "concurrency/cancellation.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tampod {

class SampleRateConverter;

// One Vinyl sample (a 48 kHz recording of 0.2 to 60 s) played as an endless loop in an output
// format: float interleaved, mono or stereo, any rate. Each cycle plays frames 0 ... period − 1
// (period = length − 0.1 s) and opens with a 0.1 s crossfade from the recording's tail, which
// continues exactly where the previous cycle ended, so the loop has no seam. The seed picks the
// starting frame (seed mod period), so the same seed always gives the same texture.
// Failures are AudioExportError: invalidSettings for a missing or undecodable sample or an
// unsuitable output format, verificationFailed for corrupt data or a wrong chunk size.
// thread: one task at a time; the loop state sits behind a lock as the converter pulls from it.
class VinylSampleStream {
public:
    static constexpr int sampleRate = 48000;
    static constexpr std::int64_t minimumFrames = 9600;
    static constexpr std::int64_t maximumFrames = 2880000;
    static constexpr int crossfadeFrames = 4800;
    static constexpr int inputBlockFrames = 4096;
    static constexpr int outputBlockFrames = 8192;

    // The application's sample of that name (a VinylSample raw value or "vinyl_hum").
    static std::unique_ptr<VinylSampleStream> named(const QString &name, int outputRate, int outputChannels,
                                                    std::uint64_t seed, const CancellationToken &token = {});

    VinylSampleStream(const QString &path, int outputRate, int outputChannels, std::uint64_t seed,
                      const CancellationToken &token = {});
    ~VinylSampleStream();
    VinylSampleStream(const VinylSampleStream &) = delete;
    VinylSampleStream &operator=(const VinylSampleStream &) = delete;

    // The next frames frames (1 ... 8,192), interleaved; valid until the next call.
    const float *render(std::int64_t frames);

    std::int64_t period() const { return source_.period; }

private:
    struct Source {
        std::vector<float> samples; // the whole recording, interleaved in its own layout
        int sourceChannels = 0;
        int outputChannels = 0;
        std::int64_t period = 0;
        float normalization = 1;
        std::int64_t position = 0; // next frame of the cycle, 0 <= position < period

        // count frames of the loop, normalised, into the output's channel layout.
        void fill(float *into, int count);
        float value(std::int64_t frame, int channel) const;
    };

    void fillInput(int count);

    CancellationToken token_;
    std::mutex mutex_;
    Source source_; // thread: under mutex_
    std::unique_ptr<SampleRateConverter> converter_; // absent at 48 kHz output
    std::vector<float> input_;
    std::vector<float> output_;
};

} // namespace tampod
