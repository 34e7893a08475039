#pragma once

#include <QString>

// The fixed texts of the single-file export sheet, compared exactly by the tests.
namespace tampod::ExportSheetText {

inline const QString title = QStringLiteral("Export Audio");
inline const QString recoveryResamples =
    QStringLiteral(" Output sample rate resamples this interpretation without changing its speed.");
inline const QString pairOutput = QStringLiteral("SD2 pair output");
inline const QString baseFilename = QStringLiteral("Base filename");
inline const QString baseFilenameHelp = QStringLiteral("A folder chooser saves this name with .L and .R suffixes.");
inline const QString pairNote = QStringLiteral(
    "Separate mono output retains the left/right channels of the processed stereo mix, including the same loop and "
    "Vinyl/Hum sequence. Processed auditions the encoded outputs together.");
inline const QString levelsNote =
    QStringLiteral("Vinyl and Hum levels are remembered for future exports. Other changes apply only to this export.");
inline const QString pairPlaybackNote = QStringLiteral(
    "Playback volume does not affect exports. Linked L and R stay in their respective channels. Use Separate "
    "left/right mono files for independent outputs.");
inline const QString playbackNote = QStringLiteral(
    "Playback volume does not affect exports. Stereo → Mono averages both channels; Mono → Stereo duplicates the "
    "channel. Other tags, artwork and markers are not copied yet.");
inline const QString exporting = QStringLiteral("Exporting… ");
inline const QString cancelling = QStringLiteral("Cancelling…");
inline const QString exportProgress = QStringLiteral("Export progress");
inline const QString showInFolder = QStringLiteral("Show in Folder");
inline const QString restoreAccess = QStringLiteral("Restore File Access…");
inline const QString cancelExport = QStringLiteral("Cancel Export");
inline const QString done = QStringLiteral("Done");
inline const QString cancel = QStringLiteral("Cancel");
inline const QString chooseFolder = QStringLiteral("Choose Folder…");
inline const QString saveLoop = QStringLiteral("Save Loop…");
inline const QString chooseDestination = QStringLiteral("Choose Destination…");

// Loop export.
inline const QString exportPicker = QStringLiteral("Export");
inline const QString entireFile = QStringLiteral("Entire file");
inline const QString selectedLoop = QStringLiteral("Selected loop");
inline const QString repeatsHeading = QStringLiteral("Choose how many times the loop repeats in the exported audio file");
inline const QString quickChoices = QStringLiteral("Quick choices");
inline const QString repeatLoop = QStringLiteral("Repeat loop %1 times");
inline const QString selected = QStringLiteral("Selected");
inline const QString customCount = QStringLiteral("Custom count");
inline const QString repeatCount = QStringLiteral("Loop repeat count");
inline const QString repeatRange = QStringLiteral("1–999");
inline const QString selectedSection = QStringLiteral("Selected section: ");
inline const QString sectionDash = QStringLiteral(" – ");
inline const QString loopLength = QStringLiteral("Selected loop length: ");
inline const QString exportedLength = QStringLiteral("Exported audio length: ");
inline const QString noLength = QStringLiteral("—");

// Auditions.
inline const QString auditionHeading = QStringLiteral("Audition before exporting");
inline const QString preparingPreview = QStringLiteral("Preparing preview");
inline const QString previewStopped = QStringLiteral("Preview stopped.");
inline const QString cancelPreview = QStringLiteral("Cancel preview — ");
inline const QString stopPreview = QStringLiteral("Stop preview — ");
inline const QString playPreview = QStringLiteral("Play %1 preview from the beginning");
inline const QString stopHelp = QStringLiteral("Stop the current preview");
inline const QString loopHelp = QStringLiteral("Loop %1 from the beginning until stopped");
inline const QString auditionModesNote = QStringLiteral(
    "Original loops the captured file or selected section unchanged. Processed loops the complete export with its "
    "effects and repeat count; long exports take longer to prepare. Both keep playing until stopped.");
inline const QString auditionPlayerNote = QStringLiteral(
    "Preview pauses the main player and uses its current listening volume. No loudness matching is applied. "
    "Changing settings stops preview; closing Export leaves the main player paused.");

} // namespace tampod::ExportSheetText
