#pragma once

#include <QString>

// The fixed texts of the executable, compared exactly by the tests.
namespace tampod::LaunchText {

// What a launch that found tamPOD running says on its error output: that it waits for the
// running one, and then whether the running one took its files.
inline const QString waiting = QStringLiteral("Waiting for the running tamPOD to answer...");
inline const QString handedOver = QStringLiteral("The running tamPOD took the files.");
inline const QString notHandedOver = QStringLiteral("The running tamPOD did not take the files; they were not opened.");

} // namespace tampod::LaunchText
