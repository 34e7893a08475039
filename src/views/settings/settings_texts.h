#pragma once

#include <QString>

// The fixed texts of the settings window, compared exactly by the tests.
namespace tampod::SettingsText {

inline const QString exportDefaults = QStringLiteral("Export defaults");
inline const QString formatDetails = QStringLiteral("Format details and limits");
inline const QString bitDepthUnused = QStringLiteral(
    "PCM bit depth is not used by this encoding. Your integer-depth preference is retained.");
inline const QString formatsNote = QStringLiteral(
    "WAV supports 8/16/24-bit; AIFF, FLAC and SD2 support 16/24-bit. AAC-LC in M4A supports 44.1/48 kHz. MP3 "
    "files can be played and converted to these formats; MP3 output is unavailable. Export effects apply before "
    "encoding. Unavailable saved choices stay visible until you change them.");
inline const QString settingsSaved = QStringLiteral("Settings saved");
inline const QString unappliedChanges = QStringLiteral("Unapplied changes");
inline const QString applySettings = QStringLiteral("Apply Settings");
inline const QString settingsStatus = QStringLiteral("Settings status");

inline const QString pcmDescription = QStringLiteral(
    "Entire-file and repeated-loop export support mono/stereo and 16/24-bit integer PCM; WAV also supports true "
    "8-bit storage. Optional 8-/12-bit lo-fi treatment works with 16/24-bit WAV/AIFF. Known BPM is tagged; other "
    "metadata is not copied. Exports require a new destination.");
inline const QString sd2Description = QStringLiteral(
    "16/24-bit signed big-endian PCM, mono/stereo, with a verified native resource fork. Supports loop repeats and "
    "effects. Known BPM uses native SD2 tempo plus a precise tamPOD tag. Support in other apps varies. Markers and "
    "regions are not copied.");
inline const QString aacDescription = QStringLiteral(
    "AAC-LC in M4A, 44.1/48 kHz, mono/stereo and average bitrate. Known BPM is retained. Unsupported "
    "bitrate/channel combinations fail without changing your choice.");
inline const QString flacDescription = QStringLiteral(
    "Lossless 16/24-bit mono/stereo export with automatic compression, BPM tags, loop repeats and effects. Short "
    "samples retain their exact length without added silence.");

} // namespace tampod::SettingsText
