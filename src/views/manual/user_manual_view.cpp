#include "views/manual/user_manual_view.h"

#include "views/manual/article_page.h"
#include "views/manual/help_typography.h"
#include "views/manual/manual_texts.h"

#include "views/kit/theme.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>

namespace tampod {

namespace {

constexpr int sidebarMinimum = 220;
constexpr int sidebarIdeal = 250;
constexpr int sidebarMaximum = 300;

// A left chevron, stroked in colour and drawn sharp at twice the pixels.
QIcon chevronLeft(const QColor &colour, int size)
{
    QPixmap pixmap(QSize(size, size) * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(size * 0.62, size * 0.18);
    path.lineTo(size * 0.3, size * 0.5);
    path.lineTo(size * 0.62, size * 0.82);
    painter.strokePath(path, QPen(colour, size * 0.13, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.end();
    return QIcon(pixmap);
}

QStringList titles(const QList<HelpArticle> &articles)
{
    QStringList titles;
    for (const HelpArticle &article : articles)
        titles << article.title;
    return titles;
}

} // namespace

UserManualView::UserManualView(QImage appIcon, QString figureFolder, QWidget *parent)
    : QWidget(parent)
    , appIcon_(std::move(appIcon))
    , figureFolder_(std::move(figureFolder))
{
    setMinimumSize(720, 480);
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    outer->addWidget(splitter_);

    auto *sidebar = new QWidget(splitter_);
    sidebar->setMinimumWidth(sidebarMinimum);
    sidebar->setMaximumWidth(sidebarMaximum);
    auto *sidebarLayout = new QVBoxLayout(sidebar);
    sidebarLayout->setContentsMargins(0, 0, 0, 0);
    sidebarLayout->setSpacing(0);
    auto *searchRow = new QVBoxLayout;
    searchRow->setContentsMargins(12, 12, 12, 12);
    search_ = new QLineEdit(sidebar);
    search_->setPlaceholderText(ManualText::searchPlaceholder);
    search_->setAccessibleName(ManualText::searchPlaceholder);
    search_->setClearButtonEnabled(true);
    search_->setFont(HelpTypography::body());
    searchRow->addWidget(search_);
    sidebarLayout->addLayout(searchRow);
    list_ = new QListWidget(sidebar);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setFont(HelpTypography::body());
    list_->setFrameShape(QFrame::NoFrame);
    // Rows inset from the sidebar's edges, as the search field above them is, on the sidebar's
    // own background.
    list_->setStyleSheet(QStringLiteral("QListWidget::item { padding: 3px 0px; }"));
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setTextElideMode(Qt::ElideRight);
    list_->viewport()->setAutoFillBackground(false);
    list_->setAccessibleName(ManualText::articleList);
    auto *listRow = new QVBoxLayout;
    listRow->setContentsMargins(8, 0, 8, 8);
    listRow->addWidget(list_);
    sidebarLayout->addLayout(listRow, 1);

    auto *detail = new QWidget(splitter_);
    detail_ = new QVBoxLayout(detail);
    detail_->setContentsMargins(0, 0, 0, 0);
    detail_->setSpacing(0);
    backBar_ = new QWidget(detail);
    auto *backLayout = new QVBoxLayout(backBar_);
    backLayout->setContentsMargins(0, 0, 0, 0);
    backLayout->setSpacing(0);
    auto *backRow = new QHBoxLayout;
    backRow->setContentsMargins(16, 16, 16, 16);
    back_ = new QPushButton(backBar_);
    back_->setFlat(true);
    back_->setFont(HelpTypography::body());
    back_->setIcon(chevronLeft(palette().color(QPalette::ButtonText), 16));
    backRow->addWidget(back_);
    backRow->addStretch(1);
    backLayout->addLayout(backRow);
    auto *divider = new QFrame(backBar_);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    QPalette dividerPalette = divider->palette();
    dividerPalette.setColor(QPalette::WindowText, Theme::manualDivider);
    divider->setPalette(dividerPalette);
    backLayout->addWidget(divider);
    detail_->addWidget(backBar_);

    noMatches_ = new QLabel(ManualText::noMatches, detail);
    noMatches_->setTextFormat(Qt::PlainText);
    noMatches_->setFont(HelpTypography::body());
    noMatches_->setAlignment(Qt::AlignCenter);
    noMatches_->setMargin(28);
    detail_->addWidget(noMatches_, 1);

    splitter_->addWidget(sidebar);
    splitter_->addWidget(detail);
    // Widening the window widens the article, not the list.
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({sidebarIdeal, 720 - sidebarIdeal});

    connect(search_, &QLineEdit::textChanged, this, [this](const QString &text) {
        HelpNavigation next = navigation_;
        next.changeQuery(text);
        navigate(next);
    });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        HelpNavigation next = navigation_;
        next.select(row >= 0 ? std::optional(list_->item(row)->text()) : std::nullopt);
        navigate(next);
    });
    connect(back_, &QPushButton::clicked, this, [this] {
        HelpNavigation next = navigation_;
        next.goBack();
        navigate(next);
    });
    refresh();
}

UserManualView::~UserManualView() = default;

void UserManualView::navigate(const HelpNavigation &next)
{
    navigation_ = next;
    refresh();
}

void UserManualView::refresh()
{
    if (search_->text() != navigation_.query) {
        const QSignalBlocker blocker(search_);
        search_->setText(navigation_.query);
    }
    refreshList();
    backBar_->setVisible(navigation_.returnPoint.has_value());
    if (navigation_.returnPoint)
        back_->setText(ManualText::backTo + navigation_.returnPoint->location.articleID);
    back_->setAccessibleName(back_->text());
    refreshPage();
}

void UserManualView::refreshList()
{
    const QSignalBlocker blocker(list_);
    const QStringList wanted = titles(navigation_.articles());
    QStringList listed;
    for (int row = 0; row < list_->count(); ++row)
        listed << list_->item(row)->text();
    if (listed != wanted) {
        list_->clear();
        list_->addItems(wanted);
    }
    const int row = navigation_.location ? int(wanted.indexOf(navigation_.location->articleID)) : -1;
    if (list_->currentRow() != row)
        list_->setCurrentRow(row);
    if (row < 0)
        list_->clearSelection();
}

void UserManualView::refreshPage()
{
    const std::optional<HelpArticle> article = navigation_.article();
    if (page_ && (!article || page_->articleTitle() != article->title)) {
        // Later: a link on the old page may be what is being handled now.
        detail_->removeWidget(page_);
        page_->hide();
        page_->deleteLater();
        page_ = nullptr;
    }
    noMatches_->setVisible(!article);
    if (article && !page_) {
        page_ = new ArticlePage(
            *article, appIcon_, figureFolder_,
            [this](const QString &term, const QString &sectionID) {
                HelpNavigation next = navigation_;
                next.openGlossary(term, sectionID);
                navigate(next);
            },
            detail_->parentWidget());
        detail_->addWidget(page_, 1);
        page_->scrollTo(navigation_.location->anchor);
    } else if (article && navigation_.location != shown_) {
        page_->scrollTo(navigation_.location->anchor);
    }
    shown_ = navigation_.location;
}

} // namespace tampod
