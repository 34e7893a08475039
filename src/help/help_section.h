#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tampod {

// One section of a manual article. The ids are anchors within one article only.
struct HelpSection {
    QString id = {};
    QString title = {};
    QStringList paragraphs = {};
    QStringList steps = {};
    QStringList bullets = {};
    std::optional<QString> note = std::nullopt;
    // Each equals a glossary term exactly: the links resolve by that match.
    QStringList terms = {};

    // Title, paragraphs, steps, bullets, note (an empty line without one) and terms, one per line.
    QString searchText() const;
};

} // namespace tampod
