#include "files/journal/audio_export_error.h"

#include "core/number_text.h"

#include <cerrno>

namespace tampod {

namespace {

QString nativeText(const QString &step, std::int32_t status)
{
    return QStringLiteral("Audio conversion failed during ") + step + QStringLiteral(" (audio error ") +
           NumberText::wholeQ(status) + QStringLiteral("). No destination file was created.");
}

} // namespace

AudioExportError::AudioExportError(Case kind, const QString &text, QString step, std::int32_t status)
    : Error(QStringLiteral("tampod.export"), static_cast<int>(kind), text), kind_(kind), step_(std::move(step)),
      status_(status)
{
}

AudioExportError::AudioExportError(Case kind) : AudioExportError(kind, description(kind), QString(), 0) {}

AudioExportError AudioExportError::invalidSettings(const QString &message)
{
    return AudioExportError(Case::invalidSettings, message, QString(), 0);
}

AudioExportError AudioExportError::native(const QString &step, std::int32_t status)
{
    return AudioExportError(Case::native, nativeText(step, status), step, status);
}

AudioExportError AudioExportError::storage(std::int32_t errnoValue)
{
    // A name longer than the file system holds is no matter of space or access: say so plainly.
    const QString text = errnoValue == ENAMETOOLONG
                             ? QStringLiteral("The destination filename is too long. Choose a shorter filename.")
                             : description(Case::storage);
    return AudioExportError(Case::storage, text, QString(), errnoValue);
}

QString AudioExportError::description(Case kind)
{
    switch (kind) {
    case Case::invalidSettings:
        return QString();
    case Case::native:
        return nativeText(QString(), 0);
    case Case::sourceDestinationConflict:
        return QStringLiteral("The destination is the source audio file. Choose a different name or folder; "
                              "tamPOD never overwrites the source.");
    case Case::destinationExists:
        return QStringLiteral("A file already exists at that destination. Choose a new filename. "
                              "This version does not replace existing files.");
    case Case::unsupportedSource:
        return QStringLiteral("This source cannot be converted by the current exporter. It must contain "
                              "decodable mono or stereo audio with a valid sample rate and nonzero duration.");
    case Case::tooLarge:
        return QStringLiteral("The output or its temporary uncompressed audio exceeds this version’s 4 GB "
                              "limit. Choose fewer loop repetitions, a lower sample rate or a lower bit depth "
                              "where available.");
    case Case::verificationFailed:
        return QStringLiteral("The exported audio did not pass verification. No destination file was created.");
    case Case::tempoMetadata:
        return QStringLiteral("The BPM metadata could not be written and verified. No destination file was "
                              "created.");
    case Case::storage:
        return QStringLiteral("The output could not be saved. Check available space and write access, then "
                              "try a new destination.");
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
