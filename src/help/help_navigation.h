#pragma once

#include "help/help_article.h"

#include <optional>

namespace tampod {

// The manual window's navigation as one value: the search, the shown article and place, and
// where Back leads after a glossary link. Every move leaves the state alone when it cannot apply.
struct HelpNavigation {
    struct Location {
        QString articleID;
        // "article-top", a section id, or a glossary term.
        QString anchor;
        bool operator==(const Location &) const = default;
    };
    struct ReturnPoint {
        QString query;
        Location location;
        bool operator==(const ReturnPoint &) const = default;
    };

    static inline const QString articleTop = QStringLiteral("article-top");

    QString query;
    std::optional<Location> location = Location{QStringLiteral("Welcome"), articleTop};
    std::optional<ReturnPoint> returnPoint;

    // The articles whose title, body or figure titles and captions contain the query, ignoring
    // case; all of them for an empty query. Recomputed on every call.
    QList<HelpArticle> articles() const;
    std::optional<HelpArticle> article() const;

    void select(const std::optional<QString> &articleID);
    void openGlossary(const QString &term, const QString &sectionID);
    void changeQuery(const QString &text);
    void goBack();

    // What the search looks in for one article.
    static QString searchText(const HelpArticle &article);

    bool operator==(const HelpNavigation &) const = default;
};

} // namespace tampod
