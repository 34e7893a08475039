#pragma once

#include <QString>

// The fixed texts of the interface kit and its alerts, compared exactly by the tests.
namespace tampod::ViewText {

inline const QString applicationName = QStringLiteral("tamPOD");

inline const QString ok = QStringLiteral("OK");
inline const QString cancel = QStringLiteral("Cancel");
inline const QString quitTitle = QStringLiteral("Quit tamPOD?");
inline const QString quitMessage = QStringLiteral("Playback will stop and the current file list will close.");
inline const QString quit = QStringLiteral("Quit");
inline const QString technicalExplanation = QStringLiteral("Technical explanation");
inline const QString hideTechnicalExplanation = QStringLiteral("Hide technical explanation");

inline const QString appIconLabel = QStringLiteral("tamPOD app icon");
inline const QString copyright = QStringLiteral("© 2026 The tamPOD authors");

} // namespace tampod::ViewText
