#pragma once

#include <QString>

// The fixed texts of the main window's content, transport and controls, compared exactly by
// the tests.
namespace tampod::MainViewText {

inline const QString on = QStringLiteral("On");
inline const QString off = QStringLiteral("Off");

// Transport bar.
inline const QString exportTitle = QStringLiteral("EXPORT");
inline const QString readyToExport = QStringLiteral("Ready to export");
inline const QString notReady = QStringLiteral("Not ready");
inline const QString toStart = QStringLiteral("Return to playback start");
inline const QString rewind = QStringLiteral("Rewind five seconds");
inline const QString stop = QStringLiteral("Stop — retain position");
inline const QString play = QStringLiteral("Play");
inline const QString repeatFile = QStringLiteral("Repeat entire file");
inline const QString forward = QStringLiteral("Fast forward five seconds");
inline const QString toEnd = QStringLiteral("Jump to playback end");
inline const QString playbackPosition = QStringLiteral("Playback position");
inline const QString playbackVolume = QStringLiteral("Playback volume");

// Time display and meter.
inline const QString elapsedTime = QStringLiteral("Elapsed time");
inline const QString meterLabel = QStringLiteral("Stereo output peak meters");
inline const QString meterHelp = QStringLiteral("Audio peaks after playback volume; a linear level display");
inline const QString silent = QStringLiteral("Silent");
inline const QString percent = QStringLiteral(" percent");

inline const QString wordmark = QStringLiteral("tamPOD");
// The content, where the keyboard starts: what a reader hears at launch.
inline const QString playerPane = QStringLiteral("Player");
inline const QString playerPaneHelp = QStringLiteral("Space plays or pauses; Tab moves through the controls");

// Sidebar.
inline const QString settingsHelp = QStringLiteral("Export defaults");
inline const QString settingsLabel = QStringLiteral("Settings");
inline const QString loopHelp =
    QStringLiteral("Toggle section looping; drag the green boundary arrows. Changes pause playback.");
inline const QString loopLabel = QStringLiteral("Loop selected region");
inline const QString zoomLabel = QStringLiteral("Loop waveform zoom");
inline const QString zoomHelp = QStringLiteral(
    "Zoom waveform: left shows the whole song, right magnifies up to 64×. Each adjustment centers the "
    "selected section. Drag Waveform Left or Right to Re-Position.");
inline const QString clearHelp = QStringLiteral("Clear All Files — remove from tamPOD; originals stay on disk");
inline const QString clearLabel = QStringLiteral("Clear All Files");

// Sheets.
inline const QString exportSheetTitle = QStringLiteral("Export Audio");

} // namespace tampod::MainViewText
