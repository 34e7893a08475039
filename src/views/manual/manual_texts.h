#pragma once

#include <QString>

// The fixed texts of the manual window, compared exactly by the tests.
namespace tampod::ManualText {

inline const QString searchPlaceholder = QStringLiteral("Search the manual");
inline const QString noMatches = QStringLiteral("No matching articles");
inline const QString backTo = QStringLiteral("Back to ");
inline const QString glossaryPrefix = QStringLiteral("Glossary: ");
inline const QString termSeparator = QStringLiteral(" · ");
inline const QString bullet = QStringLiteral("•");
inline const QString enlargeImageFor = QStringLiteral("Enlarge image: ");
inline const QString enlargeImage = QStringLiteral("Enlarge image…");
inline const QString done = QStringLiteral("Done");

// The accessible name of the one control without a text of its own.
inline const QString articleList = QStringLiteral("Manual articles");

} // namespace tampod::ManualText
