#pragma once

#include "bpm/bpm_cancellation.h"

#include <optional>
#include <span>

namespace tampod::BPMPrecision {

// Measures the candidate tempo again over spans of 4 to 64 beats in the beginning, middle and
// end of the recording. Returns the refined tempo only when all three agree closely and it
// stays within half a percent of the candidate; nullopt otherwise. Throws only Cancelled.
std::optional<double> estimate(std::span<const float> samples, double sampleRate,
                               double candidateBPM, const BPMCancellation &cancellation);

} // namespace tampod::BPMPrecision
