#pragma once

#include <QString>

// The sentences of the import's refusals and notes, exactly as the user reads them.
namespace tampod::ImportText {

// The walk.
inline const QString unavailable = QStringLiteral("The file or folder is unavailable or permission was denied.");
inline const QString folderUnreadable = QStringLiteral("This folder could not be read.");
inline const QString folderAccess = QStringLiteral("This folder could not be read. Check its access permissions.");
inline const QString itemAccess = QStringLiteral("This item could not be read. Check its access permissions.");
inline const QString symbolicLink = QStringLiteral("Symbolic links are not imported. Open the original audio file.");
inline const QString noVisibleFiles = QStringLiteral("No visible files were found in this folder.");
inline const QString folderLimit = QStringLiteral(
    "Import limit reached (10,000 files or 50,000 folder entries). Import smaller folders separately; remaining "
    "items were not scanned.");
inline const QString fileLimit = QStringLiteral("Import limit reached. Open this file in a separate import.");

// Inspecting one file.
inline const QString notRecognized = QStringLiteral(
    "This is not a recognized audio file. Choose an audio file such as WAV, AIFF, MP3 or M4A.");
inline const QString notRegular = QStringLiteral("The file is empty or is not a regular audio file.");
inline const QString rexUnreadable = QStringLiteral(
    "The REX file could not be read or its listening copy could not be saved. Check source access and free disk "
    "space.");
inline const QString notPlayable = QStringLiteral("The audio decoder could not prepare playable audio.");
inline const QString nativeCannotOpen = QStringLiteral(
    "The native audio decoder cannot open this encoding, or the file is damaged. This format may not yet be "
    "supported.");
inline const QString cannotRead =
    QStringLiteral("The file cannot be read. Check that it is available and that tamPOD has access.");
inline const QString sd2CopyFailed = QStringLiteral(
    "The SD2 working copy could not be prepared from its metadata. Check source access, whole PCM frames and free "
    "disk space. Originals are unchanged.");

// Notes of the SD2 check on natively decoded files.
inline const QString metadataNotValidated = QStringLiteral(
    "SD2 resource metadata could not be validated. The system decoder is used; no format assumptions were applied.");
inline const QString formatNotInspected = QStringLiteral(
    "The system player can open this file, but its PCM format could not be inspected. SD2 linking is unavailable.");
inline const QString outsideLinking = QStringLiteral(
    "The system decoder's format is outside SD2 linking support. Native playback remains available.");
inline const QString disagreesPrefix = QStringLiteral(
    "SD2 resource metadata disagrees with the system decoder. Playback and linking use the decoded format: ");
inline const QString disagreesSuffix = QStringLiteral(" channel(s). Originals are unchanged.");

} // namespace tampod::ImportText
