#pragma once

#include "bpm/bpm_analyzing.h"
#include "concurrency/serial_executor.h"

#include <cstdint>
#include <memory>

namespace tampod {

// The actor that decodes a track to mono, checks the analysis limits, estimates its tempo,
// refines it, and checks that the file did not change meanwhile. One analysis at a time; it
// keeps no state between calls.
class BPMAnalysisService final : public BPMAnalyzing {
public:
    static constexpr std::int64_t maximumFrames = std::int64_t(1) << 26;
    static constexpr std::int64_t chunkFrames = 16384;
    static constexpr double minimumSeconds = 2.0; // the shortest audio analysed

    BPMAnalysisService();

    // The process-wide instance, made on first use (the composition root asks at start-up).
    static const std::shared_ptr<BPMAnalysisService> &shared();

    Async<double> detect(AudioTrack track, Progress progress, CancellationToken token) override;

    // The limits of the analysis, in this order: frame count (limit), rate and channels
    // (unreadable), at least two seconds (tooShort, an empty file included).
    static void validate(std::int64_t frames, double rate, std::uint32_t channels);

private:
    double analyze(const AudioTrack &track, const Progress &progress, const CancellationToken &token);

    SerialExecutor executor_; // last: its destructor finishes queued analyses first
};

} // namespace tampod
