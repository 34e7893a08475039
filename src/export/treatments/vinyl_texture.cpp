#include "export/treatments/vinyl_texture.h"

#include "files/journal/audio_export_error.h"

#include <algorithm>
#include <cmath>

namespace tampod {

VinylTexture::VinylTexture(const VinylOptions &options, int sampleRate, int channels, std::int64_t frames,
                           std::optional<ExportPreviewMode> solo, const CancellationToken &token)
    : channels_(channels), frames_(frames)
{
    const auto inRange = [](std::int64_t level) { return level >= 0 && level <= 100; };
    if (!inRange(options.amount) || !inRange(options.humAmount))
        throw AudioExportError::invalidSettings(QStringLiteral("Choose Vinyl levels from 0 to 100%."));

    // Squared levels make the slider feel even; dividing by 1 + both keeps the sum in headroom.
    const float a = float(options.amount) / 100.0f;
    const float h = float(options.humAmount) / 100.0f;
    const float textureLevel = a * a;
    const float humLevel = options.enabled && options.humEnabled ? h * h : 0.0f;
    const float whole = 1.0f + textureLevel + humLevel;
    if (options.enabled) {
        const bool vinylLayer = !solo || *solo != ExportPreviewMode::hum;
        const bool humLayer = !solo || *solo != ExportPreviewMode::vinyl;
        textureGain_ = vinylLayer ? textureLevel / whole : 0.0f;
        humGain_ = humLayer ? humLevel / whole : 0.0f;
        dryGain_ = solo ? 0.0f : 1.0f - textureLevel / whole - humLevel / whole;
    } else {
        dryGain_ = solo ? 0.0f : 1.0f;
    }

    const std::int64_t fiveMilliseconds = std::int64_t(double(sampleRate) * 0.005);
    fadeFrames_ = std::max<std::int64_t>(1, std::min((frames - 1) / 2, fiveMilliseconds));

    if (textureGain_ > 0)
        texture_ = VinylSampleStream::named(RawValue::text(options.sample), sampleRate, channels, options.seed, token);
    if (humGain_ > 0)
        hum_ = VinylSampleStream::named(QStringLiteral("vinyl_hum"), sampleRate, channels,
                                        options.seed ^ humSeedMask, token);
}

void VinylTexture::mix(float *interleaved, std::int64_t frames)
{
    if (!texture_ && !hum_)
        return;
    while (frames > 0) {
        const std::int64_t n = std::min<std::int64_t>(frames, VinylSampleStream::outputBlockFrames);
        const float *texture = texture_ ? texture_->render(n) : nullptr;
        const float *hum = hum_ ? hum_->render(n) : nullptr;
        for (std::int64_t i = 0; i < n; ++i, ++position_) {
            // A smooth S-curve over the fade; frames past the declared length get no layer.
            const std::int64_t edge = std::min(position_, frames_ - 1 - position_);
            const float x = std::clamp(float(edge) / float(fadeFrames_), 0.0f, 1.0f);
            const float envelope = x * x * (3.0f - 2.0f * x);
            for (int c = 0; c < channels_; ++c) {
                const std::int64_t at = i * channels_ + c;
                const float t = texture ? std::clamp(texture[at], -1.0f, 1.0f) : 0.0f;
                const float m = hum ? std::clamp(hum[at], -1.0f, 1.0f) : 0.0f;
                interleaved[at] = dryGain_ * interleaved[at] + envelope * (textureGain_ * t + humGain_ * m);
            }
        }
        interleaved += n * channels_;
        frames -= n;
    }
}

} // namespace tampod
