#pragma once

#include "help/help_article.h"

#include <QHash>
#include <QImage>
#include <QScrollArea>

#include <functional>
#include <optional>

namespace tampod {

// One article in a vertical scroll area: the header ("article-top"), then its sections (each
// the anchor of its id) or, for the Glossary, the glossary entries (each the anchor of its
// term). The text column is at most 760 pixels wide plus its padding, centred.
class ArticlePage : public QScrollArea {
    Q_OBJECT

public:
    using OpenGlossary = std::function<void(const QString &term, const QString &sectionID)>;

    // appIcon heads "Welcome" when it is not null.
    ArticlePage(const HelpArticle &article, const QImage &appIcon, const QString &figureFolder,
                OpenGlossary openGlossary, QWidget *parent = nullptr);

    const QString &articleTitle() const { return title_; }
    QWidget *anchorView(const QString &anchor) const { return anchors_.value(anchor); }

    // Scrolls, without animation, so that the anchor's view is at the top. Until the user
    // scrolls, the anchor is kept at the top while the page is laid out (first show, resizes).
    void scrollTo(const QString &anchor);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void keepAnchor();

    QString title_;
    QHash<QString, QWidget *> anchors_;
    std::optional<QString> pendingAnchor_;
};

} // namespace tampod
