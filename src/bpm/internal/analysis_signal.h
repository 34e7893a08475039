#pragma once

#include "bpm/bpm_cancellation.h"

#include <QString>

#include <vector>

namespace tampod::AnalysisSignal {

// Adds each sample ÷ channels to out, frame by frame; false when any sample is not finite.
bool addChannel(float *out, const float *samples, qsizetype frames, float channels);

// Lowers the level so that the peak is at most 0.98; never raises it.
void tameLevel(std::vector<float> &signal, const BPMCancellation &cancellation);

// Device, inode, size and modification second of the file, joined by ":". Throws the file
// layer's error when the file cannot be opened.
QString fileStamp(const QString &path);

} // namespace tampod::AnalysisSignal
