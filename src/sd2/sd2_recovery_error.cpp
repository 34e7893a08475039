#include "sd2/sd2_recovery_error.h"

namespace tampod {

SD2RecoveryError::SD2RecoveryError(Case which, std::uint64_t bytes, int frameBytes)
    : Error(QStringLiteral("tampod.sd2.recovery"), int(which), description(which)), case_(which),
      bytes_(bytes), frameBytes_(frameBytes)
{
}

SD2RecoveryError SD2RecoveryError::incompleteFrame(std::uint64_t bytes, int frameBytes)
{
    return SD2RecoveryError(Case::incompleteFrame, bytes, frameBytes);
}

QString SD2RecoveryError::description(Case which)
{
    switch (which) {
    case Case::incompleteFrame:
        return QStringLiteral("This file doesn’t fit the selected audio settings. Try another bit depth or "
                              "channel setting. Your original file has not been changed.");
    case Case::unsuitable:
        return QStringLiteral("tamPOD couldn’t prepare this file for listening. Try reopening the original "
                              "file or choosing different recovery settings. Your original file has not been "
                              "changed.");
    case Case::changed:
        return QStringLiteral("The source changed or could not be fully read during recovery. Reopen the "
                              "original and try again.");
    case Case::verification:
        return QStringLiteral("The recovered working copy could not be verified. The original has not been "
                              "changed.");
    }
    return {};
}

} // namespace tampod
