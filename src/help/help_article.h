#pragma once

#include "help/help_section.h"

#include <QList>

namespace tampod {

// A manual article; its title is its identity.
struct HelpArticle {
    QString title;
    QList<HelpSection> sections;

    // The fifteen articles in reading order; the last is the Glossary, which has no sections.
    static const QList<HelpArticle> &all();
    static inline const QString glossaryTitle = QStringLiteral("Glossary");

    // The searchable text without the title: the glossary overview for the Glossary, otherwise
    // the sections' texts separated by blank lines.
    QString body() const;
};

} // namespace tampod
