#pragma once

#include "bpm/bpm_detector_core.h"

#include <array>

namespace tampod::BPMDetectorCore {

// multiChannelOnsetEvidence of the samples and of the samples without their first 256, made in
// one pass over both.
std::array<TempoOnsetEvidence, 2> hopPhaseOnsetEvidence(std::span<const float> samples, double sampleRate,
                                                        const BPMCancellation &cancellation);

} // namespace tampod::BPMDetectorCore
