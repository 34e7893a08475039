#include "bpm/bpm_analysis_error.h"

namespace tampod {

BPMAnalysisError::BPMAnalysisError(Kind kind)
    : Error(QStringLiteral("tampod.bpm.analysis"), int(kind), errorDescription(kind)), kind_(kind)
{
}

QString BPMAnalysisError::errorDescription(Kind kind)
{
    switch (kind) {
    case Kind::limit:
        return QStringLiteral("This file exceeds the BPM analysis limit of 67,108,864 decoded frames "
                              "(about 25 minutes at 44.1 kHz). Export a shorter section and try Get again.");
    case Kind::unreadable:
        return QStringLiteral("The audio could not be read for BPM detection. Try exporting it to WAV first.");
    case Kind::tooShort:
        return QStringLiteral("BPM detection needs at least two seconds of audio with a repeating beat.");
    case Kind::noPulse:
        return QStringLiteral("No usable repeating beat was found. Get is available to try again.");
    case Kind::changed:
        return QStringLiteral("The audio changed during BPM detection. Try Get again.");
    }
    return {};
}

} // namespace tampod
