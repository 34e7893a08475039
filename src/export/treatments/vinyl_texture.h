#pragma once

#include "concurrency/cancellation.h"
#include "export/export_preview_mode.h"
#include "export/treatments/vinyl_sample_stream.h"
#include "export/vinyl_options.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace tampod {

// The Vinyl treatment of one export or audition: the texture stream and the hum stream mixed
// under float interleaved audio at the levels of the options, faded in over the first and out
// over the last 5 ms of the whole length. The dry signal is scaled so that music and layers
// share the headroom; it is never faded. A solo (the Vinyl and Hum auditions) plays one layer
// at exactly its level in the full mix, without the music.
// thread: one task at a time.
class VinylTexture {
public:
    // The hum starts its loop elsewhere than a texture with the same seed: "HUM" in ASCII.
    static constexpr std::uint64_t humSeedMask = 0x48554D;

    // Levels outside 0...100 are AudioExportError invalidSettings; stream errors pass through.
    VinylTexture(const VinylOptions &options, int sampleRate, int channels, std::int64_t frames,
                 std::optional<ExportPreviewMode> solo = std::nullopt, const CancellationToken &token = {});

    // Adds the layers into frames frames of channels-channel audio in place; nothing when no
    // layer sounds.
    void mix(float *interleaved, std::int64_t frames);

    float textureGain() const { return textureGain_; }
    float humGain() const { return humGain_; }
    float dryGain() const { return dryGain_; }
    std::int64_t fadeFrames() const { return fadeFrames_; }

private:
    std::unique_ptr<VinylSampleStream> texture_;
    std::unique_ptr<VinylSampleStream> hum_;
    float textureGain_ = 0;
    float humGain_ = 0;
    float dryGain_ = 1;
    int channels_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t fadeFrames_ = 1;
    std::int64_t position_ = 0;
};

} // namespace tampod
