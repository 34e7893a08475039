#include "views/manual/article_page.h"
#include "views/manual/glossary_link.h"
#include "views/manual/help_illustration_view.h"
#include "views/manual/help_section_view.h"
#include "views/manual/help_typography.h"
#include "views/manual/user_manual_view.h"

#include "help/glossary_help.h"

#include "support/test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

QStringList listed(const UserManualView &view)
{
    QStringList titles;
    for (int row = 0; row < view.articleList()->count(); ++row)
        titles << view.articleList()->item(row)->text();
    return titles;
}

QString selected(const UserManualView &view)
{
    const QListWidgetItem *item = view.articleList()->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

// The old page goes only once the event loop turns, as it would after a click.
void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Whether the page shows anchor at the top of its visible area.
bool showsAtTop(const UserManualView &view, const QString &anchor)
{
    ArticlePage *page = view.page();
    QWidget *target = page ? page->anchorView(anchor) : nullptr;
    return target && target->isVisible()
        && page->verticalScrollBar()->value() == target->mapTo(page->widget(), QPoint()).y()
        && page->verticalScrollBar()->value() > 0;
}

HelpSectionView *sectionView(const UserManualView &view, const QString &id)
{
    return qobject_cast<HelpSectionView *>(view.page()->anchorView(id));
}

void followLink(const UserManualView &view, const QString &sectionID, const QString &link)
{
    HelpSectionView *section = sectionView(view, sectionID);
    ASSERT_TRUE(section && section->glossaryLinks());
    Q_EMIT section->glossaryLinks()->linkActivated(link);
    settle();
}

} // namespace

TEST(GlossaryLink, EveryTermTravelsThroughItsAddressAndOnlyOurAddressesAreRead)
{
    EXPECT_EQ(glossaryLink(QStringLiteral("Frame")), QStringLiteral("tampod-help://glossary?term=Frame"));
    EXPECT_EQ(glossaryLink(QStringLiteral("Bit depth (Bits)")),
              QStringLiteral("tampod-help://glossary?term=Bit%20depth%20(Bits)"));
    for (const GlossaryHelp::Entry &entry : GlossaryHelp::entries())
        EXPECT_EQ(glossaryTerm(glossaryLink(entry.term)), entry.term);

    const struct {
        const char *link;
        std::optional<QString> term;
    } cases[] = {
        {"tampod-help://glossary?other=1&term=Zoom&term=Frame", QStringLiteral("Zoom")},
        {"tampod-help://glossary/?term=a+b%2Fc", QStringLiteral("a+b/c")},
        {"TAMPOD-HELP://glossary?term=Frame", std::nullopt},
        {"Tampod-help://glossary?term=Frame", std::nullopt},
        {"tampod-help://GLOSSARY?term=Frame", std::nullopt},
        {"tampod-help://glossary.example?term=Frame", std::nullopt},
        {"tampod-help://glossary@example?term=Frame", std::nullopt},
        {"tampod-help://user@glossary?term=Frame", std::nullopt},
        {"https://glossary?term=Frame", std::nullopt},
        {"tampod-help://glossary?term=", std::nullopt},
        {"tampod-help://glossary?term", std::nullopt},
        {"tampod-help://glossary", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(glossaryTerm(QString::fromUtf8(c.link)), c.term) << c.link;
}

TEST(UserManualView, OpensAtWelcomeWithEveryArticleListedAtBothSizes)
{
    for (const QSize size : {QSize(720, 480), QSize(800, 560)}) {
        UserManualView view{QImage()};
        EXPECT_EQ(view.minimumSize(), QSize(720, 480));
        view.resize(size);
        view.show();
        settle();
        EXPECT_EQ(view.size(), size);
        EXPECT_EQ(listed(view).size(), 15);
        EXPECT_EQ(listed(view).first(), QStringLiteral("Welcome"));
        EXPECT_EQ(listed(view).last(), QStringLiteral("Glossary"));
        EXPECT_EQ(selected(view), QStringLiteral("Welcome"));
        EXPECT_EQ(view.splitter()->sizes().first(), 250) << size.width();
        ASSERT_TRUE(view.page());
        EXPECT_EQ(view.page()->articleTitle(), QStringLiteral("Welcome"));
        EXPECT_EQ(view.page()->verticalScrollBar()->value(), 0);
        EXPECT_FALSE(view.backButton()->isVisible());
        EXPECT_EQ(view.searchField()->placeholderText(), QStringLiteral("Search the manual"));
        EXPECT_TRUE(view.searchField()->isClearButtonEnabled());
        // Without an icon, the header holds only the title.
        EXPECT_TRUE(view.page()->anchorView(QStringLiteral("article-top"))->findChildren<FittedImage *>().isEmpty());
    }
}

TEST(UserManualView, SearchFindingNothingSaysSoAndClearingReturnsToWelcome)
{
    UserManualView view{QImage()};
    view.resize(800, 560);
    view.show();
    view.articleList()->setCurrentRow(4);
    ASSERT_EQ(view.page()->articleTitle(), QStringLiteral("Playback and navigation"));

    view.searchField()->setText(QStringLiteral("qqqq"));
    settle();
    EXPECT_TRUE(listed(view).isEmpty());
    EXPECT_EQ(view.page(), nullptr);
    EXPECT_TRUE(view.noMatches()->isVisible());
    EXPECT_EQ(view.noMatches()->text(), QStringLiteral("No matching articles"));

    view.searchField()->clear();
    settle();
    EXPECT_EQ(listed(view).size(), 15);
    EXPECT_FALSE(view.noMatches()->isVisible());
    ASSERT_TRUE(view.page());
    EXPECT_EQ(view.page()->articleTitle(), QStringLiteral("Welcome"));
    EXPECT_EQ(selected(view), QStringLiteral("Welcome"));
    EXPECT_EQ(view.page()->verticalScrollBar()->value(), 0);
}

TEST(UserManualView, GlossaryLinkJumpsToTheTermAndBackReturnsToTheSection)
{
    UserManualView view{QImage()};
    view.resize(800, 560);
    view.show();
    view.searchField()->setText(QStringLiteral("recovery"));
    view.articleList()->setCurrentRow(int(listed(view).indexOf(QStringLiteral("SD2 recovery"))));
    ASSERT_EQ(view.page()->articleTitle(), QStringLiteral("SD2 recovery"));

    followLink(view, QStringLiteral("link"), glossaryLink(QStringLiteral("Frame")));
    ASSERT_TRUE(view.page());
    EXPECT_EQ(view.page()->articleTitle(), QStringLiteral("Glossary"));
    EXPECT_TRUE(test::pumpUntil([&] { return showsAtTop(view, QStringLiteral("Frame")); }));
    EXPECT_EQ(view.searchField()->text(), QString());
    EXPECT_EQ(listed(view).size(), 15);
    EXPECT_EQ(selected(view), QStringLiteral("Glossary"));
    EXPECT_TRUE(view.backButton()->isVisible());
    EXPECT_EQ(view.backButton()->text(), QStringLiteral("Back to SD2 recovery"));

    view.backButton()->click();
    settle();
    EXPECT_EQ(view.page()->articleTitle(), QStringLiteral("SD2 recovery"));
    EXPECT_TRUE(test::pumpUntil([&] { return showsAtTop(view, QStringLiteral("link")); }));
    EXPECT_EQ(view.searchField()->text(), QStringLiteral("recovery"));
    EXPECT_FALSE(view.backButton()->isVisible());
}

TEST(UserManualView, LinksFailingTheChecksDoNothing)
{
    UserManualView view{QImage()};
    view.resize(800, 560);
    view.show();
    view.articleList()->setCurrentRow(2);
    ASSERT_EQ(view.page()->articleTitle(), QStringLiteral("SD2 recovery"));
    const HelpNavigation before = view.navigation();
    ArticlePage *page = view.page();

    for (const QString &link : {QStringLiteral("TAMPOD-HELP://glossary?term=Frame"),
                                QStringLiteral("tampod-help://Glossary?term=Frame"),
                                glossaryLink(QStringLiteral("Zoom")), // in the glossary, not in the section
                                glossaryLink(QStringLiteral("No such term"))}) {
        followLink(view, QStringLiteral("link"), link);
        EXPECT_EQ(view.navigation(), before) << link.toStdString();
        EXPECT_EQ(view.page(), page);
        EXPECT_FALSE(view.backButton()->isVisible());
    }
}

TEST(HelpSectionView, ShowsNumberedStepsBulletsNoteAndOnlyTheLinksItHas)
{
    UserManualView view{QImage()};
    view.resize(800, 560);
    view.show();
    view.articleList()->setCurrentRow(2);
    const HelpSectionView *link = sectionView(view, QStringLiteral("link"));
    ASSERT_TRUE(link);
    QStringList rows;
    for (const QWidget *row : link->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QHBoxLayout *>(row->layout())) {
            const auto *marker = qobject_cast<QLabel *>(row->layout()->itemAt(0)->widget());
            rows << marker->text();
            EXPECT_EQ(marker->width(), 24);
            EXPECT_TRUE(marker->alignment() & Qt::AlignRight);
        }
    }
    EXPECT_EQ(rows, (QStringList{"1.", "2.", "3.", "•", "•", "•", "•"}));
    EXPECT_EQ(link->glossaryLinks()->accessibleName(), QStringLiteral("Glossary: Linked pair · Frame · Waveform"));
    EXPECT_FALSE(link->glossaryLinks()->openExternalLinks());

    view.articleList()->setCurrentRow(10);
    settle();
    const HelpSectionView *notices = sectionView(view, QStringLiteral("notices"));
    ASSERT_TRUE(notices);
    // An untitled section starts with its paragraph.
    EXPECT_TRUE(qobject_cast<SelectableText *>(notices->layout()->itemAt(0)->widget()));

    view.articleList()->setCurrentRow(12);
    settle();
    EXPECT_EQ(sectionView(view, QStringLiteral("windows"))->glossaryLinks(), nullptr);
}

TEST(HelpIllustrationView, EnlargesItsImageInASheetThatEscapeCloses)
{
    QTemporaryDir folder;
    QImage image(1200, 900, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(folder.filePath(QStringLiteral("Manual_main_gui.png"))));

    UserManualView view{QImage(), folder.path()};
    view.resize(800, 560);
    view.show();
    auto *card = view.page()->findChild<HelpIllustrationView *>();
    ASSERT_TRUE(card);
    EXPECT_EQ(card->figure().resourceName, QStringLiteral("Manual_main_gui"));
    EXPECT_EQ(card->parentWidget(), sectionView(view, QStringLiteral("quick-start")));
    ASSERT_TRUE(card->imageButton() && card->enlargeButton());
    EXPECT_EQ(card->enlargeButton()->text(), QStringLiteral("Enlarge image…"));
    EXPECT_EQ(card->imageButton()->accessibleName(), QStringLiteral("Enlarge image: The main window"));
    EXPECT_EQ(card->enlargeButton()->accessibleName(), QStringLiteral("Enlarge image: The main window"));

    card->enlargeButton()->click();
    QPointer<HelpFigureSheet> sheet = card->sheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_TRUE(sheet->imageArea());
    EXPECT_EQ(sheet->imageArea()->widget()->size(), QSize(1200, 900));
    EXPECT_EQ(sheet->doneButton()->text(), QStringLiteral("Done"));
    card->imageButton()->click(); // one sheet at a time
    EXPECT_EQ(card->sheet(), sheet.data());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(sheet, &escape);
    settle();
    EXPECT_TRUE(sheet.isNull());
    EXPECT_EQ(card->sheet(), nullptr);
    EXPECT_EQ(view.page()->articleTitle(), QStringLiteral("Welcome"));
    card->imageButton()->click();
    ASSERT_TRUE(card->sheet());
    card->sheet()->doneButton()->click();
    settle();
    EXPECT_EQ(card->sheet(), nullptr);
}

TEST(HelpIllustrationView, WithoutItsImageShowsOnlyTitleAndCaption)
{
    QTemporaryDir folder;
    QFile broken(folder.filePath(QStringLiteral("Manual_main_gui.png")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a png");
    broken.close();
    // A folder without the image, and one whose image is not a PNG.
    for (const QString &images : {folder.filePath(QStringLiteral("none")), folder.path()}) {
        UserManualView view{QImage(), images};
        const auto *card = view.page()->findChild<HelpIllustrationView *>();
        ASSERT_TRUE(card);
        EXPECT_EQ(card->imageButton(), nullptr);
        EXPECT_EQ(card->enlargeButton(), nullptr);
        EXPECT_TRUE(card->findChildren<QAbstractButton *>().isEmpty());
        QStringList texts;
        for (const QLabel *label : card->findChildren<QLabel *>())
            texts << label->accessibleName();
        EXPECT_EQ(texts, (QStringList{card->figure().title, card->figure().caption}));

        HelpFigureSheet sheet(card->figure(), images, &view);
        EXPECT_EQ(sheet.imageArea(), nullptr);
        EXPECT_EQ(sheet.findChildren<QLabel *>().size(), 2);
    }
}

// Tab moves from link to link inside a section's glossary label; a reader hears each link as it
// takes the keyboard (the label's name then), and the whole list when the keyboard arrives and
// after it leaves.
TEST(HelpSectionView, AReaderHearsEachGlossaryLinkAsTabReachesIt)
{
    HelpSection section;
    section.id = QStringLiteral("s");
    section.terms = {QStringLiteral("Section loop"), QStringLiteral("Batch export"), QStringLiteral("SD2")};
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *before = new QPushButton(QStringLiteral("Before"), &window);
    layout->addWidget(before);
    layout->addWidget(new HelpSectionView(section, QStringLiteral("a"), {}, QString(), &window));
    auto *after = new QPushButton(QStringLiteral("After"), &window);
    layout->addWidget(after);
    window.show();
    QLabel *links = window.findChild<HelpSectionView *>()->glossaryLinks();
    ASSERT_NE(links, nullptr);
    window.activateWindow();
    before->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(test::pumpUntil([&] { return before->hasFocus(); }));
    QStringList names;
    for (int tab = 0; tab < 5; ++tab) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &key);
        names << QAccessible::queryAccessibleInterface(links)->text(QAccessible::Name);
    }
    const QString whole = QStringLiteral("Glossary: Section loop · Batch export · SD2");
    EXPECT_EQ(names, (QStringList{whole, "Glossary: Section loop", "Glossary: Batch export", "Glossary: SD2", whole}));
    EXPECT_TRUE(after->hasFocus());
}
