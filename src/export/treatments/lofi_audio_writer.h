#pragma once

#include "concurrency/cancellation.h"
#include "export/audio_export_serving.h"
#include "export/export_defaults.h"
#include "export/pcm_output_format.h"

#include <QString>

#include <cstdint>

// The second pass of a treated PCM export: reads the 32-bit float intermediate (already at the
// output's rate and channels, every loop repetition included) in chunks, applies Vinyl/Hum,
// then the clipping drive, then lo-fi requantisation, and writes the final integer file. The
// order is fixed: the texture passes through the clipper with the music, and with lo-fi every
// sample lies on the 8- or 12-bit grid before the output's own bit depth stores it.
namespace tampod::LoFiAudioWriter {

inline constexpr std::int64_t chunkFrames = 8192;

// Progress runs 0.65 ... 0.98. An intermediate that is empty, too long for maximumFrames, of
// another rate or channel count, or ends early is AudioExportError verificationFailed; failing
// audio-layer steps are native errors ("creating lo-fi output", "writing lo-fi audio",
// "finalizing lo-fi output"); reading and texture errors pass through.
void write(const QString &source, const QString &destination, const PCMOutputFormat &format, LoFiTreatment treatment,
           std::int64_t clippingDB, const VinylOptions &vinyl, std::int64_t maximumFrames,
           const ExportProgress &progress, const CancellationToken &token);

// x driven by clippingDB (single precision) and clamped to −1...1; 0 for a non-finite x.
// clippingDB 0 leaves x as it is.
float clip(float x, std::int64_t clippingDB);
// y on the 8-bit (2^7 steps) or 12-bit (2^11 steps) grid, halves away from zero, clamped to
// −1 ... 1 − 1/q; 0 for a non-finite y. off leaves y as it is.
float requantize(float y, LoFiTreatment treatment);

} // namespace tampod::LoFiAudioWriter
