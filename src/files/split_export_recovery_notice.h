#pragma once

#include "files/temporary_audio_cleanup.h"

#include <QString>

#include <optional>

namespace tampod {

// What the launch tells the user about split-channel exports that the cleanup took back or
// could not settle. Only those two counts of the cleanup's report ever reach the user.
struct SplitExportRecoveryNotice {
    QString title;
    QString message;

    // None when no pair was recovered and none is pending.
    static std::optional<SplitExportRecoveryNotice> make(const TemporaryAudioCleanup::Report &report);
};

} // namespace tampod
