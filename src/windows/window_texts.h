#pragma once

#include <QString>

// The fixed texts of the windows and menus, compared exactly by the tests.
namespace tampod::WindowText {

inline const QString mainTitle = QStringLiteral("tamPOD");
inline const QString aboutTitle = QStringLiteral("About tamPOD");
inline const QString settingsTitle = QStringLiteral("tamPOD Settings");
inline const QString manualTitle = QStringLiteral("tamPOD User Manual");

inline const QString applicationMenu = QStringLiteral("tamPOD");
inline const QString fileMenu = QStringLiteral("File");
inline const QString helpMenu = QStringLiteral("Help");

inline const QString about = QStringLiteral("About tamPOD");
inline const QString settings = QStringLiteral("Settings…");
inline const QString quit = QStringLiteral("Quit tamPOD");
inline const QString openAudio = QStringLiteral("Open Audio…");
inline const QString restoreFileAccess = QStringLiteral("Restore File Access…");
inline const QString advancedSD2 = QStringLiteral("Advanced SD2 Recovery…");
inline const QString manual = QStringLiteral("tamPOD User Manual");

} // namespace tampod::WindowText

// The ids windows are opened by.
namespace tampod::WindowId {

inline const QString main = QStringLiteral("main");
inline const QString settings = QStringLiteral("settings");
inline const QString about = QStringLiteral("about");
inline const QString manual = QStringLiteral("manual");

} // namespace tampod::WindowId
