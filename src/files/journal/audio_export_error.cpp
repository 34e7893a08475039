#include "files/journal/audio_export_error.h"

namespace tampod {

AudioExportError::AudioExportError(Case kind)
    : Error(QStringLiteral("tampod.export"), static_cast<int>(kind), description(kind)), kind_(kind)
{
}

QString AudioExportError::description(Case kind)
{
    switch (kind) {
    case Case::destinationExists:
        return QStringLiteral("A file already exists at that destination. Choose a new filename. "
                              "This version does not replace existing files.");
    case Case::splitRecoveryUnavailable:
        return QStringLiteral("Recovery information for the two channel files could not be saved. "
                              "No channel files were published. Choose another destination folder "
                              "and try again.");
    case Case::splitRecoveryPending:
        return QStringLiteral("The split-channel export was interrupted and its output could not "
                              "be safely cleaned up. Keep the destination disk connected and "
                              "relaunch tamPOD before retrying. Changed or unrelated files will be "
                              "preserved.");
    }
    return {};
}

} // namespace tampod
