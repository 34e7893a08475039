#pragma once

#include "export/engine/audio_file_exporter.h"

// FLAC and M4A (AAC-LC) output. The request is first rendered, with every treatment, section
// and repeat, to a temporary integer WAV by the PCM path; that WAV is then encoded (FLAC of at
// most 4,607 frames by our own short writer), tagged with the tempo, decoded back completely
// and checked against the render, and published by the same exclusive rename. Everything in
// between lives in a staging folder beside the destination, removed on every path.
namespace tampod::CompressedAudioExporter {

// Progress runs 0 ... 0.55 (render), 0.55 ... 0.90 (encoding; 0.9 at once for the short
// writer), then 0.99 once the file decoded back. The result carries the render's frame count,
// channels and rate.
AudioExportResult run(const AudioExportRequest &request, const ExportProgress &progress, const CancellationToken &token,
                      const ExportEnvironment &environment);

// The settings of the render: WAV at the requested depth (24 bits for AAC), with the requested
// format's channel choice; rate and treatments unchanged.
ExportDefaults renderSettings(const ExportDefaults &settings);

// The final file against its render: the codec, length, rate and channels (for FLAC, also the
// STREAMINFO's integer bit depth against the requested one), then a full decode that must
// deliver exactly that length (a short FLAC's also with every frame's CRC intact); else
// AudioExportError verificationFailed.
void verify(const QString &path, const ExportDefaults &settings, const AudioExportResult &render,
            const CancellationToken &token = {});

} // namespace tampod::CompressedAudioExporter
