#include "export/treatments/lofi_audio_writer.h"

#include "export/internal/export_staging.h"
#include "export/internal/pcm_output_file.h"
#include "export/treatments/vinyl_texture.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/audio_file_reader.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

namespace tampod::LoFiAudioWriter {

float clip(float x, std::int64_t clippingDB)
{
    if (clippingDB == 0)
        return x;
    if (!std::isfinite(x))
        return 0.0f;
    const float drive = std::pow(10.0f, float(clippingDB) / 20.0f);
    return std::clamp(x * drive, -1.0f, 1.0f);
}

float requantize(float y, LoFiTreatment treatment)
{
    if (treatment == LoFiTreatment::off)
        return y;
    if (!std::isfinite(y))
        return 0.0f;
    const float q = treatment == LoFiTreatment::eightBit ? 128.0f : 2048.0f;
    const float z = std::clamp(std::round(y * q), -q, q - 1.0f); // std::round: halves away from zero
    return z / q;
}

void write(const QString &source, const QString &destination, const PCMOutputFormat &format, LoFiTreatment treatment,
           std::int64_t clippingDB, const VinylOptions &vinyl, std::int64_t maximumFrames,
           const ExportProgress &progress, const CancellationToken &token)
{
    AudioFileReader reader(source, token);
    const std::int64_t length = reader.length();
    const int channels = reader.channels();
    if (length < 1 || length > maximumFrames || reader.processingSampleRate() != format.sampleRate ||
        channels != format.channels)
        throw AudioExportError(AudioExportError::Case::verificationFailed);
    std::vector<float> buffer(size_t(chunkFrames * channels));

    std::optional<PCMOutputFile> output;
    ExportFailure::step(QStringLiteral("creating lo-fi output"),
                        [&] { output.emplace(destination, format, token); });
    VinylTexture texture(vinyl, format.sampleRate, channels, length, std::nullopt, token);

    std::int64_t position = 0;
    int reportedPercent = -1;
    while (position < length) {
        token.throwIfCancelled();
        const std::int64_t n = reader.readFloatInterleaved(buffer.data(), std::min(chunkFrames, length - position));
        if (n == 0)
            throw AudioExportError(AudioExportError::Case::verificationFailed); // ended early
        texture.mix(buffer.data(), n);
        if (clippingDB != 0 || treatment != LoFiTreatment::off) {
            for (float &x : std::span(buffer.data(), size_t(n * channels)))
                x = requantize(clip(x, clippingDB), treatment);
        }
        ExportFailure::step(QStringLiteral("writing lo-fi audio"), [&] { output->write(buffer.data(), n); });
        position += n;
        const double fraction = double(position) / double(length);
        const int percent = int(fraction * 100);
        if (percent != reportedPercent) {
            reportedPercent = percent;
            if (progress)
                progress(0.65 + 0.33 * fraction);
        }
    }
    ExportFailure::step(QStringLiteral("finalizing lo-fi output"), [&] { output->finish(); });
    token.throwIfCancelled();
}

} // namespace tampod::LoFiAudioWriter
