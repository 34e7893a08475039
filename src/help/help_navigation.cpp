#include "help/help_navigation.h"

#include "help/glossary_help.h"
#include "help/help_illustration.h"

#include <algorithm>

namespace tampod {

namespace {

bool contains(const QList<HelpArticle> &articles, const QString &title)
{
    return std::any_of(articles.begin(), articles.end(), [&](const HelpArticle &a) { return a.title == title; });
}

} // namespace

QString HelpNavigation::searchText(const HelpArticle &article)
{
    QStringList figureText;
    for (const HelpIllustration &figure : HelpIllustration::figures(article.title))
        figureText << figure.title << figure.caption;
    return article.title + u' ' + article.body() + u' ' + figureText.join(u' ');
}

QList<HelpArticle> HelpNavigation::articles() const
{
    // Not trimmed: a query of spaces is searched for as typed.
    if (query.isEmpty())
        return HelpArticle::all();
    QList<HelpArticle> matches;
    for (const HelpArticle &article : HelpArticle::all()) {
        if (searchText(article).contains(query, Qt::CaseInsensitive))
            matches << article;
    }
    return matches;
}

std::optional<HelpArticle> HelpNavigation::article() const
{
    if (!location)
        return std::nullopt;
    for (const HelpArticle &candidate : articles()) {
        if (candidate.title == location->articleID)
            return candidate;
    }
    return std::nullopt;
}

void HelpNavigation::select(const std::optional<QString> &articleID)
{
    if (!articleID || !contains(articles(), *articleID))
        return;
    // Picking the shown article again keeps its place and the way back.
    if (location && location->articleID == *articleID)
        return;
    returnPoint.reset();
    location = Location{*articleID, articleTop};
}

void HelpNavigation::openGlossary(const QString &term, const QString &sectionID)
{
    const std::optional<HelpArticle> shown = article();
    if (!shown)
        return;
    const auto section = std::find_if(shown->sections.begin(), shown->sections.end(),
                                      [&](const HelpSection &s) { return s.id == sectionID; });
    if (section == shown->sections.end() || !section->terms.contains(term))
        return;
    const QList<GlossaryHelp::Entry> &entries = GlossaryHelp::entries();
    if (std::none_of(entries.begin(), entries.end(), [&](const GlossaryHelp::Entry &e) { return e.term == term; }))
        return;
    returnPoint = ReturnPoint{query, Location{shown->title, sectionID}};
    // The Glossary must be listed whatever was searched.
    query.clear();
    location = Location{HelpArticle::glossaryTitle, term};
}

void HelpNavigation::changeQuery(const QString &text)
{
    query = text;
    returnPoint.reset();
    const QList<HelpArticle> matches = articles();
    if (location && contains(matches, location->articleID))
        return;
    if (matches.isEmpty())
        location.reset();
    else
        location = Location{matches.first().title, articleTop};
}

void HelpNavigation::goBack()
{
    if (!returnPoint)
        return;
    query = returnPoint->query;
    location = returnPoint->location;
    returnPoint.reset();
}

} // namespace tampod
