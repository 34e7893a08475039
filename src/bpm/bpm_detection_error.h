#pragma once

#include "core/error.h"

#include <QString>

namespace tampod {

// The error of the tempo estimation pipeline. Its texts are complete sentences; the detection
// queue shows the analysis service's "no pulse" text in their place.
class BPMDetectionError : public Error {
public:
    enum class Kind {
        invalidSampleRate,
        invalidBPMRange,
        invalidSignal,
        invalidCandidateCount,
        invalidMinimumSeparation,
        noValidLagRange,
        noTempoCandidates,
    };

    static BPMDetectionError invalidSampleRate(double rate);
    static BPMDetectionError invalidBPMRange(double min, double max);
    static BPMDetectionError invalidSignal(const QString &text);
    static BPMDetectionError invalidCandidateCount(int count);
    static BPMDetectionError invalidMinimumSeparation(double separation);
    static BPMDetectionError noValidLagRange();
    static BPMDetectionError noTempoCandidates();

    Kind kind() const noexcept { return kind_; }
    bool operator==(const BPMDetectionError &other) const
    {
        return kind_ == other.kind_ && message() == other.message();
    }

private:
    BPMDetectionError(Kind kind, const QString &text);
    Kind kind_;
};

} // namespace tampod
