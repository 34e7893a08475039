#include "playback/waveform_reader.h"


#include "concurrency/detached.h"
#include "files/access/missing_audio_source.h"
#include "platform/decode/audio_file_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace tampod::WaveformReader {

namespace {

// The largest magnitude of a run; a NaN never wins the comparison, so it is passed over.
// Written as two groups of eight lanes that g++ -O2 keeps in vector registers.
template <bool finiteOnly>
float largestMagnitude(const float *samples, std::int64_t count)
{
    constexpr int lanes = 8;
    const auto magnitude = [](float sample) {
        const float m = std::fabs(sample);
        if constexpr (finiteOnly)
            return m <= std::numeric_limits<float>::max() ? m : 0.0f;
        else
            return m;
    };
    float low[lanes] = {};
    float high[lanes] = {};
    std::int64_t i = 0;
    for (; i + 2 * lanes <= count; i += 2 * lanes) {
        for (int l = 0; l < lanes; ++l) {
            const float m = magnitude(samples[i + l]);
            low[l] = m > low[l] ? m : low[l];
        }
        for (int l = 0; l < lanes; ++l) {
            const float m = magnitude(samples[i + lanes + l]);
            high[l] = m > high[l] ? m : high[l];
        }
    }
    float peak = 0;
    for (; i < count; ++i) {
        const float m = magnitude(samples[i]);
        peak = m > peak ? m : peak;
    }
    for (int l = 0; l < lanes; ++l) {
        peak = low[l] > peak ? low[l] : peak;
        peak = high[l] > peak ? high[l] : peak;
    }
    return peak;
}

// The largest magnitude among the finite samples of a run, 0 when there is none. Only a run
// that holds an infinity is scanned a second time.
float runPeak(const float *samples, std::int64_t count)
{
    const float peak = largestMagnitude<false>(samples, count);
    return peak <= std::numeric_limits<float>::max() ? peak : largestMagnitude<true>(samples, count);
}

std::int64_t nearest(double x)
{
    return static_cast<std::int64_t>(std::round(x));
}

WaveformPeaks scan(const AudioTrack &track, WaveformViewport viewport, int binCount, std::optional<int> channel,
                   const CancellationToken &token)
{
    if (track.waitsForRecovery() || token.isCancelled())
        return {};
    const QUrl url = track.audioURL();
    MissingAudioSource::check(url, track.displayName());
    AudioFileReader reader(url.toLocalFile(), token);
    const int channels = reader.channels();
    if (channel && (*channel < 0 || *channel >= channels))
        return {};
    const std::int64_t bins = std::clamp(binCount, 1, maximumBins);
    const std::int64_t length = reader.length();
    if (length < 1 || !fitsBinArithmetic(length, bins) || channels > maximumChannels)
        return {};
    if (!std::isfinite(viewport.start) || !std::isfinite(viewport.end))
        return {};

    const double start = std::clamp(viewport.start, 0.0, 1.0);
    const double end = std::clamp(viewport.end, 0.0, 1.0);
    const std::int64_t first = std::min(length - 1, nearest(start * double(length)));
    const std::int64_t last = std::max(std::min(length, nearest(end * double(length))), first + 1);
    const std::int64_t frames = last - first;
    // A window shorter than the bins gets one bin per frame.
    const std::int64_t count = std::min(frames, bins);
    WaveformPeaks peaks(count, 0.0f);

    std::vector<std::vector<float>> buffer(static_cast<std::size_t>(channels),
                                          std::vector<float>(static_cast<std::size_t>(blockFrames)));
    std::vector<float *> planes;
    for (auto &plane : buffer)
        planes.push_back(plane.data());
    const int firstChannel = channel ? *channel : 0;
    const int endChannel = channel ? *channel + 1 : channels;

    reader.seek(first);
    std::int64_t processed = 0;
    while (processed < frames) {
        if (token.isCancelled())
            return {};
        const std::int64_t got = reader.readFloatPlanar(planes.data(), std::min(frames - processed, blockFrames));
        if (got <= 0)
            break;
        // Runs of frames that fall into one bin.
        for (std::int64_t offset = 0; offset < got;) {
            const std::int64_t frame = processed + offset;
            const std::int64_t bin = std::min(frame * count / frames, count - 1);
            const std::int64_t binEnd = ((bin + 1) * frames + count - 1) / count;
            const std::int64_t run = std::min(binEnd - frame, got - offset);
            float peak = 0;
            for (int c = firstChannel; c < endChannel; ++c)
                peak = std::max(peak, runPeak(planes[std::size_t(c)] + offset, run));
            float &slot = peaks[qsizetype(bin)];
            slot = std::max(slot, std::min(peak, 1.0f));
            offset += run;
        }
        processed += got;
    }
    return peaks;
}

QCoro::Task<WaveformPeaks> readWhole(AudioTrack track, int binCount, CancellationToken token)
{
    co_return co_await read(std::move(track), WaveformViewport{}, binCount, std::nullopt, std::move(token));
}

} // namespace

bool fitsBinArithmetic(std::int64_t frames, std::int64_t bins)
{
    if (frames < 0 || bins < 1)
        return false;
    const std::uint64_t limit = ((std::uint64_t(1) << 63) - std::uint64_t(bins)) / std::uint64_t(bins);
    return std::uint64_t(frames) <= limit;
}

WaveformPeaks peaks(const AudioTrack &track, WaveformViewport viewport, int binCount, std::optional<int> channel,
                    const CancellationToken &token)
{
    try {
        return scan(track, viewport, binCount, channel, token);
    } catch (...) {
        // Nothing to draw; the user hears about the source when playing or exporting it.
        return {};
    }
}

Async<WaveformPeaks> read(AudioTrack track, WaveformViewport viewport, int binCount, std::optional<int> channel,
                          CancellationToken token)
{
    return runDetached(TaskPriority::Utility,
                       [track = std::move(track), viewport, binCount, channel, token = std::move(token)] {
                           return peaks(track, viewport, binCount, channel, token);
                       });
}

WaveformReading wholeFile(int binCount)
{
    return [binCount](AudioTrack track, CancellationToken token) {
        return readWhole(std::move(track), binCount, std::move(token));
    };
}

} // namespace tampod::WaveformReader
