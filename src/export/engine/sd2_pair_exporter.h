#pragma once

#include "export/engine/audio_file_exporter.h"

// The separate-mono export of a linked .L/.R pair, in any output format: the pair is rendered
// once with every treatment into a stereo WAV, split into its two channels, each channel
// exported on its own with the pair's tempo, the two results checked against each other, and
// both files published together through the split-export journal, so that an interruption at
// any point ends, at the latest after the next launch's recovery, with both files or neither.
namespace tampod::SD2PairExporter {

// The result names the left file, with the right file as its one additional destination, the
// render's frames and rate and one channel. Progress: 0 ... 0.5 render, 0.5 ... 0.74 left,
// 0.74 ... 0.98 right, then 1.0 once both are published.
AudioExportResult run(const AudioExportRequest &request, const ExportProgress &progress, const CancellationToken &token,
                      const ExportEnvironment &environment);

} // namespace tampod::SD2PairExporter
