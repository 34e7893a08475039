#include "bpm/bpm_detection_error.h"

#include "core/number_text.h"

namespace tampod {

BPMDetectionError::BPMDetectionError(Kind kind, const QString &text)
    : Error(QStringLiteral("tampod.bpm.detection"), int(kind), text), kind_(kind)
{
}

BPMDetectionError BPMDetectionError::invalidSampleRate(double rate)
{
    return {Kind::invalidSampleRate,
            QStringLiteral("Tempo analysis requires a positive sample/frame rate; got %1.")
                .arg(NumberText::describeQ(rate))};
}

BPMDetectionError BPMDetectionError::invalidBPMRange(double min, double max)
{
    return {Kind::invalidBPMRange,
            QStringLiteral("Tempo analysis requires bpmMin > 0 and bpmMax > bpmMin; got %1-%2.")
                .arg(NumberText::describeQ(min), NumberText::describeQ(max))};
}

BPMDetectionError BPMDetectionError::invalidSignal(const QString &text)
{
    return {Kind::invalidSignal, text};
}

BPMDetectionError BPMDetectionError::invalidCandidateCount(int count)
{
    return {Kind::invalidCandidateCount,
            QStringLiteral("Tempo candidate count must be at least 1; got %1.")
                .arg(NumberText::wholeQ(count))};
}

BPMDetectionError BPMDetectionError::invalidMinimumSeparation(double separation)
{
    return {Kind::invalidMinimumSeparation,
            QStringLiteral("Tempo candidate separation must be greater than 0 BPM; got %1.")
                .arg(NumberText::describeQ(separation))};
}

BPMDetectionError BPMDetectionError::noValidLagRange()
{
    return {Kind::noValidLagRange,
            QStringLiteral("No valid tempo lag range exists for the requested BPM range and "
                           "signal length.")};
}

BPMDetectionError BPMDetectionError::noTempoCandidates()
{
    return {Kind::noTempoCandidates,
            QStringLiteral("No usable tempo candidates were found in the audio.")};
}

} // namespace tampod
