#include "files/split_export_recovery_notice.h"

#include "core/number_text.h"

#include <QStringList>

namespace tampod {

std::optional<SplitExportRecoveryNotice> SplitExportRecoveryNotice::make(const TemporaryAudioCleanup::Report &report)
{
    if (report.recoveredPairs < 1 && report.pendingPairs < 1)
        return std::nullopt;
    QStringList paragraphs;
    if (report.recoveredPairs >= 1)
        paragraphs.append(QStringLiteral("Recovery completed for ") + NumberText::wholeQ(report.recoveredPairs)
                          + QStringLiteral(" interrupted export(s). Verified incomplete channel output has been "
                                           "removed. Add the original files again and retry using the same output "
                                           "name if both channel names are available. If another file still uses "
                                           "either name, choose a new output name."));
    if (report.pendingPairs >= 1)
        paragraphs.append(NumberText::wholeQ(report.pendingPairs)
                          + QStringLiteral(" export(s) could not be safely cleaned up. Connect the destination disk "
                                           "and relaunch tamPOD. If recovery still cannot finish, inspect both "
                                           "channel filenames and choose a new output name. Changed or unrelated "
                                           "files are preserved."));
    paragraphs.append(QStringLiteral("Your source audio is unchanged. Completed export pairs are preserved."));
    return SplitExportRecoveryNotice{QStringLiteral("Interrupted split-channel export"),
                                     paragraphs.join(QStringLiteral("\n\n"))};
}

} // namespace tampod
