#include "help/help_navigation.h"

#include <gtest/gtest.h>

namespace tampod {
namespace {

using Location = HelpNavigation::Location;

QStringList titles(const HelpNavigation &n)
{
    QStringList list;
    for (const HelpArticle &a : n.articles())
        list << a.title;
    return list;
}

HelpNavigation searching(const QString &query)
{
    HelpNavigation n;
    n.query = query;
    return n;
}

TEST(HelpNavigationSearch, MatchesTitleBodyAndFigureTextIgnoringCase)
{
    EXPECT_EQ(titles(HelpNavigation()).size(), 15);
    EXPECT_EQ(titles(HelpNavigation()), titles(searching("")));
    EXPECT_TRUE(titles(searching("glossary")).contains("Glossary"));

    const std::vector<std::pair<QString, QStringList>> cases{
        {"12.046", {"Section looping"}},               // only in a figure caption
        {"Screenshot", {}},                            // only in accessibility descriptions
        {"quick-start", {}},                           // a section id
        {"Welcome Start", {"Welcome"}},                // title, one space, first section title
        {"Start here tamPOD", {}},                     // the body joins its lines with line feeds
        {"SECTION LOOPING", {"Section looping"}},
        {"loudness value", {"Glossary"}},              // only in a glossary definition
        {"no such words anywhere", {}},
    };
    for (const auto &[query, expected] : cases)
        EXPECT_EQ(titles(searching(query)), expected) << query.toStdString();

    // Not trimmed: spaces alone are searched for, and the texts contain them.
    EXPECT_TRUE(titles(searching("   ")).isEmpty());
    EXPECT_EQ(titles(searching("Start here\ntamPOD")), QStringList{"Welcome"});
}

TEST(HelpNavigationSearch, ShownArticleMustMatchTheQuery)
{
    HelpNavigation n;
    EXPECT_EQ(n.location, (Location{"Welcome", "article-top"}));
    ASSERT_TRUE(n.article());
    EXPECT_EQ(n.article()->title, "Welcome");
    n.query = "12.046";
    EXPECT_FALSE(n.article());
    n.location.reset();
    n.query.clear();
    EXPECT_FALSE(n.article());
}

TEST(HelpNavigationMoves, Select)
{
    HelpNavigation n;
    n.location = Location{"Welcome", "next"};
    n.returnPoint = HelpNavigation::ReturnPoint{"x", {"Menus", "access"}};

    const HelpNavigation before = n;
    for (const std::optional<QString> &ignored : {std::optional<QString>(), std::optional<QString>("Nowhere"),
                                                  std::optional<QString>("Welcome")}) {
        n.select(ignored);
        EXPECT_EQ(n, before);
    }
    n.query = "12.046";
    n.select(QString("Menus")); // not among the matches
    n.query.clear();
    EXPECT_EQ(n, before);

    n.select(QString("Menus"));
    EXPECT_EQ(n.location, (Location{"Menus", "article-top"}));
    EXPECT_FALSE(n.returnPoint);
}

TEST(HelpNavigationMoves, GlossaryLinkAndBack)
{
    HelpNavigation n;
    n.changeQuery("frame");
    n.select(QString("SD2 recovery"));
    ASSERT_EQ(n.location, (Location{"SD2 recovery", "article-top"}));

    // Failed checks leave everything as it was.
    const HelpNavigation before = n;
    for (const auto &[term, section] : std::vector<std::pair<QString, QString>>{
             {"Frame", "nowhere"}, {"Frame", "open"}, {"frame", "link"}, {"Zoom", "link"}, {"Frame", "quick-start"}}) {
        n.openGlossary(term, section);
        EXPECT_EQ(n, before) << term.toStdString() << " " << section.toStdString();
    }

    n.openGlossary("Frame", "link");
    EXPECT_EQ(n.query, "");
    EXPECT_EQ(n.location, (Location{"Glossary", "Frame"}));
    EXPECT_EQ(n.returnPoint, (HelpNavigation::ReturnPoint{"frame", {"SD2 recovery", "link"}}));

    // Picking the Glossary again keeps the term and the way back.
    const HelpNavigation atTerm = n;
    n.select(QString("Glossary"));
    EXPECT_EQ(n, atTerm);

    n.goBack();
    EXPECT_EQ(n.query, "frame");
    EXPECT_EQ(n.location, (Location{"SD2 recovery", "link"}));
    EXPECT_FALSE(n.returnPoint);
    const HelpNavigation back = n;
    n.goBack();
    EXPECT_EQ(n, back);

    // Choosing another article drops the way back.
    n.openGlossary("Frame", "link");
    n.select(QString("Menus"));
    EXPECT_FALSE(n.returnPoint);
    EXPECT_EQ(n.location, (Location{"Menus", "article-top"}));

    // No article shown: nothing to follow.
    n.location.reset();
    const HelpNavigation nothing = n;
    n.openGlossary("Frame", "link");
    EXPECT_EQ(n, nothing);
}

TEST(HelpNavigationMoves, QueryChange)
{
    HelpNavigation n;
    n.location = Location{"Section looping", "refine"};
    n.returnPoint = HelpNavigation::ReturnPoint{"", {"Menus", "access"}};

    n.changeQuery("12.046"); // keeps the shown article and its place
    EXPECT_EQ(n.query, "12.046");
    EXPECT_EQ(n.location, (Location{"Section looping", "refine"}));
    EXPECT_FALSE(n.returnPoint);

    n.changeQuery("Ctrl+Q"); // excludes it: first match at its top
    ASSERT_FALSE(titles(n).isEmpty());
    EXPECT_FALSE(titles(n).contains("Section looping"));
    EXPECT_EQ(n.location, (Location{titles(n).first(), "article-top"}));

    n.changeQuery("no such words anywhere");
    EXPECT_FALSE(n.location);
    n.changeQuery("");
    EXPECT_EQ(n.location, (Location{"Welcome", "article-top"}));
}

} // namespace
} // namespace tampod
