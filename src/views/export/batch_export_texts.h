#pragma once

#include <QString>

// The fixed texts of the batch export sheet, compared exactly by the tests. The buttons it
// shares with the single-file sheet come from ExportSheetText.
namespace tampod::BatchExportText {

inline const QString intro = QStringLiteral(
    "Each entire recording becomes a separate file. Selected loop regions and repeat counts do not apply.");
inline const QString pairNote =
    QStringLiteral("Each pair exports once. Separate mono creates .L and .R files from the same processed mix.");
inline const QString sharedSettingsNote = QStringLiteral(
    "Shared settings apply to every file. Vinyl and Hum levels are remembered for future exports; other changes "
    "apply only to this batch. Listening volume does not affect output. To preview one file, cancel and select it "
    "alone.");
inline const QString namesNote = QStringLiteral(
    "Names use “-export”; existing names receive numbered suffixes. Originals and existing files are never replaced.");
inline const QString showFolder = QStringLiteral("Show Folder");
inline const QString cancelBatch = QStringLiteral("Cancel Batch");

// Accessible names of parts without a visible label.
inline const QString files = QStringLiteral("Files");
inline const QString batchProgress = QStringLiteral("Batch progress");
inline const QString fileProgress = QStringLiteral("File progress");

} // namespace tampod::BatchExportText
