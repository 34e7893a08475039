#include "export/treatments/vinyl_sample_stream.h"

#include "core/error.h"
#include "export/treatments/vinyl_resources.h"
#include "files/journal/audio_export_error.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/sample_rate_converter.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace tampod {

namespace {

using Case = AudioExportError::Case;

AudioExportError undecodable()
{
    return AudioExportError::invalidSettings(QStringLiteral("The bundled Vinyl sample cannot be decoded."));
}

AudioExportError missing()
{
    return AudioExportError::invalidSettings(
        QStringLiteral("The bundled Vinyl sample is missing. Reinstall tamPOD and try again."));
}

} // namespace

std::unique_ptr<VinylSampleStream> VinylSampleStream::named(const QString &name, int outputRate, int outputChannels,
                                                            std::uint64_t seed, const CancellationToken &token)
{
    const QString path = VinylResources::path(name);
    if (!QFileInfo(path).isFile())
        throw missing();
    return std::make_unique<VinylSampleStream>(path, outputRate, outputChannels, seed, token);
}

VinylSampleStream::VinylSampleStream(const QString &path, int outputRate, int outputChannels, std::uint64_t seed,
                                     const CancellationToken &token)
    : token_(token)
{
    if (outputChannels < 1 || outputChannels > 2 || outputRate < 1)
        throw undecodable();
    std::optional<AudioFileReader> reader;
    std::int64_t length = 0;
    try {
        reader.emplace(path, token);
        length = reader->length();
    } catch (const SystemError &error) {
        if (error.errnoValue() == ENOENT)
            throw missing();
        throw undecodable();
    } catch (const AudioFileError &) {
        throw undecodable();
    }
    const int channels = reader->channels();
    if (reader->fileSampleRate() != sampleRate || channels < 1 || channels > 2 || length < minimumFrames ||
        length > maximumFrames)
        throw undecodable();
    try {
        if (outputRate != sampleRate)
            converter_ = std::make_unique<SampleRateConverter>(outputChannels, sampleRate, outputRate);
    } catch (const AudioFileError &) {
        throw undecodable();
    }

    // Read the whole sample once; the loop plays from memory.
    Source source;
    source.samples.resize(size_t(length * channels));
    float peak = 0;
    std::int64_t read = 0;
    while (read < length) {
        token.throwIfCancelled();
        const std::int64_t n = reader->readFloatInterleaved(source.samples.data() + read * channels,
                                                            std::min<std::int64_t>(outputBlockFrames, length - read));
        if (n == 0)
            throw AudioExportError(Case::verificationFailed);
        for (std::int64_t i = read * channels; i < (read + n) * channels; ++i) {
            const float x = source.samples[size_t(i)];
            if (!std::isfinite(x))
                throw AudioExportError(Case::verificationFailed);
            peak = std::max(peak, std::abs(x));
        }
        read += n;
    }
    if (read != length || peak == 0)
        throw AudioExportError(Case::verificationFailed);
    source.sourceChannels = channels;
    source.outputChannels = outputChannels;
    source.period = length - crossfadeFrames;
    source.position = std::int64_t(seed % std::uint64_t(source.period));
    source.normalization = 1.0f / peak;
    source_ = std::move(source);
    input_.resize(size_t(inputBlockFrames * outputChannels));
    output_.resize(size_t(outputBlockFrames * outputChannels));
}

VinylSampleStream::~VinylSampleStream() = default;

float VinylSampleStream::Source::value(std::int64_t frame, int channel) const
{
    if (sourceChannels == 1)
        return samples[size_t(frame)];
    if (outputChannels == 1)
        return 0.5f * samples[size_t(2 * frame)] + 0.5f * samples[size_t(2 * frame + 1)];
    return samples[size_t(2 * frame + channel)];
}

void VinylSampleStream::Source::fill(float *into, int count)
{
    std::int64_t p = position;
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < outputChannels; ++c) {
            float x = value(p, c);
            // The cycle's first 0.1 s fades in from the frames that follow its last one.
            if (p < crossfadeFrames) {
                const float w = float(p) / float(crossfadeFrames);
                x = w * x + (1 - w) * value(period + p, c);
            }
            *into++ = normalization * x;
        }
        if (++p == period)
            p = 0;
    }
    position = p;
}

void VinylSampleStream::fillInput(int count)
{
    std::lock_guard lock(mutex_);
    source_.fill(input_.data(), count);
}

const float *VinylSampleStream::render(std::int64_t frames)
{
    token_.throwIfCancelled();
    if (frames < 1 || frames > outputBlockFrames)
        throw AudioExportError(Case::verificationFailed);
    const int channels = source_.outputChannels;
    std::int64_t done = 0;
    if (!converter_) {
        while (done < frames) {
            const int n = int(std::min<std::int64_t>(inputBlockFrames, frames - done));
            std::lock_guard lock(mutex_);
            source_.fill(output_.data() + done * channels, n);
            done += n;
        }
        return output_.data();
    }
    try {
        while (done < frames) {
            if (converter_->available() == 0) {
                fillInput(inputBlockFrames);
                converter_->push(input_.data(), inputBlockFrames);
                continue;
            }
            done += converter_->take(output_.data() + done * channels, frames - done);
        }
    } catch (const AudioFileError &) {
        throw AudioExportError(Case::verificationFailed);
    }
    return output_.data();
}

} // namespace tampod
