#pragma once

#include "views/manual/article_page.h"
#include "views/manual/help_illustration_view.h"

#include "help/help_navigation.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSplitter;
class QVBoxLayout;

namespace tampod {

// The manual window's content: search and article list beside the article, a back bar after
// a glossary link, "No matching articles" when a search finds nothing. Its navigation starts at
// the top of "Welcome" and lives as long as the view. thread: main.
class UserManualView : public QWidget {
    Q_OBJECT

public:
    // appIcon heads "Welcome" when it is not null; figures load from figureFolder.
    explicit UserManualView(QImage appIcon, QString figureFolder = figureResourceFolder,
                            QWidget *parent = nullptr);
    ~UserManualView() override;

    const HelpNavigation &navigation() const { return navigation_; }

    QSplitter *splitter() const { return splitter_; }
    QLineEdit *searchField() const { return search_; }
    QListWidget *articleList() const { return list_; }
    // Shown only while there is a way back.
    QPushButton *backButton() const { return back_; }
    // The page of the shown article; null while nothing matches.
    ArticlePage *page() const { return page_; }
    QLabel *noMatches() const { return noMatches_; }

    // Applies a move: the navigation is replaced and everything that shows it follows.
    void navigate(const HelpNavigation &next);

private:
    void refresh();
    void refreshList();
    void refreshPage();

    HelpNavigation navigation_;
    QImage appIcon_;
    QString figureFolder_;
    // The place last shown, so that a page scrolls only when it changes.
    std::optional<HelpNavigation::Location> shown_;

    QSplitter *splitter_;
    QLineEdit *search_;
    QListWidget *list_;
    QWidget *backBar_;
    QPushButton *back_;
    QVBoxLayout *detail_;
    QLabel *noMatches_;
    QPointer<ArticlePage> page_;
};

} // namespace tampod
