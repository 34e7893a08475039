#include "views/manual/article_page.h"

#include "views/manual/glossary_help_view.h"
#include "views/manual/help_section_view.h"
#include "views/manual/help_typography.h"
#include "views/manual/manual_widgets.h"

#include "views/kit/view_texts.h"

#include "help/help_navigation.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tampod {

namespace {

constexpr int padding = 28;
constexpr int columnWidth = 760;

QWidget *articleHeader(const HelpArticle &article, const QImage &appIcon, QWidget *parent)
{
    auto *header = new QWidget(parent);
    auto *layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    if (article.title == QStringLiteral("Welcome") && !appIcon.isNull()) {
        auto *icon = new FittedImage(appIcon, header);
        icon->setFixedSize(128, 128);
        icon->setAccessibleName(ViewText::appIconLabel);
        layout->addWidget(icon, 0, Qt::AlignHCenter);
    }
    layout->addWidget(headingLabel(article.title, HelpTypography::title(), header));
    return header;
}

} // namespace

ArticlePage::ArticlePage(const HelpArticle &article, const QImage &appIcon, const QString &figureFolder,
                         OpenGlossary openGlossary, QWidget *parent)
    : QScrollArea(parent)
    , title_(article.title)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAccessibleName(article.title);

    auto *content = new QWidget;
    auto *centring = new QHBoxLayout(content);
    centring->setContentsMargins(0, 0, 0, 0);
    centring->setSpacing(0);
    // The column takes the width up to its maximum; only what is left goes to the sides.
    centring->addSpacerItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    auto *columnWidget = new QWidget(content);
    columnWidget->setFont(HelpTypography::body());
    columnWidget->setMaximumWidth(columnWidth + 2 * padding);
    columnWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    centring->addWidget(columnWidget, 1);
    centring->addSpacerItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));

    auto *column = new QVBoxLayout(columnWidget);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(padding);

    QWidget *top = articleHeader(article, appIcon, columnWidget);
    column->addWidget(top);
    anchors_.insert(HelpNavigation::articleTop, top);

    if (article.title == HelpArticle::glossaryTitle) {
        GlossaryHelpView::addTo(*column, columnWidget,
                                [this](const QString &term, QWidget *view) { anchors_.insert(term, view); });
    } else {
        for (const HelpSection &section : article.sections) {
            const QString id = section.id;
            auto *view = new HelpSectionView(
                section, article.title, [openGlossary, id](const QString &term) { openGlossary(term, id); },
                figureFolder, columnWidget);
            column->addWidget(view);
            anchors_.insert(id, view);
        }
    }
    column->addStretch(1);
    setWidget(content);

    // Once the reader scrolls, the page stays where they put it.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { pendingAnchor_.reset(); });
}

void ArticlePage::scrollTo(const QString &anchor)
{
    pendingAnchor_ = anchor;
    keepAnchor();
}

void ArticlePage::keepAnchor()
{
    if (!pendingAnchor_ || !isVisible() || !widget())
        return;
    QWidget *view = anchors_.value(*pendingAnchor_);
    if (!view) {
        pendingAnchor_.reset();
        return;
    }
    widget()->layout()->activate();
    // The header comes first: the article's top is the page's, padding included.
    const bool top = *pendingAnchor_ == HelpNavigation::articleTop;
    verticalScrollBar()->setValue(top ? 0 : view->mapTo(widget(), QPoint()).y());
}

bool ArticlePage::eventFilter(QObject *watched, QEvent *event)
{
    const bool handled = QScrollArea::eventFilter(watched, event);
    if (watched == widget() && event->type() == QEvent::Resize)
        keepAnchor();
    return handled;
}

void ArticlePage::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    keepAnchor();
}

void ArticlePage::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    keepAnchor();
}

} // namespace tampod
