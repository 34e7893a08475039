#include "views/manual/help_section_view.h"

#include "views/manual/glossary_link.h"
#include "views/manual/help_illustration_view.h"
#include "views/manual/help_typography.h"
#include "views/manual/manual_texts.h"

#include "views/kit/theme.h"
#include "views/kit/controls/link_label.h"
#include "views/kit/accessibility/view_accessibility.h"

#include "help/help_illustration.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tampod {

namespace {

// A step or bullet: its marker right-aligned in a 24-pixel column, then the text. Screen
// readers meet the row as one element.
QWidget *itemRow(const QString &marker, const QString &text, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *markerLabel = new QLabel(marker, row);
    markerLabel->setTextFormat(Qt::PlainText);
    markerLabel->setFont(HelpTypography::body());
    markerLabel->setFixedWidth(24);
    markerLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    layout->addWidget(markerLabel, 0, Qt::AlignTop);
    layout->addWidget(new SelectableText(text, row), 1, Qt::AlignTop);
    makeAccessible(row, QAccessible::StaticText);
    row->setAccessibleName(marker + u' ' + text);
    return row;
}

QString linksMarkup(const QStringList &terms)
{
    QStringList links;
    for (const QString &term : terms)
        links << QStringLiteral("<a href=\"%1\">%2</a>").arg(glossaryLink(term).toHtmlEscaped(), term.toHtmlEscaped());
    return ManualText::glossaryPrefix.toHtmlEscaped() + links.join(ManualText::termSeparator.toHtmlEscaped());
}

} // namespace

HelpSectionView::HelpSectionView(HelpSection section, const QString &articleID, OpenGlossary openGlossary,
                                 const QString &figureFolder, QWidget *parent)
    : QWidget(parent)
    , section_(std::move(section))
    , openGlossary_(std::move(openGlossary))
{
    setFont(HelpTypography::body());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    if (!section_.title.isEmpty())
        layout->addWidget(headingLabel(section_.title, HelpTypography::heading(), this));
    for (const QString &paragraph : section_.paragraphs)
        layout->addWidget(new SelectableText(paragraph, this));
    for (qsizetype i = 0; i < section_.steps.size(); ++i)
        layout->addWidget(itemRow(QString::number(i + 1) + u'.', section_.steps[i], this));
    for (const QString &bullet : section_.bullets)
        layout->addWidget(itemRow(ManualText::bullet, bullet, this));

    if (section_.note) {
        auto *plate = new RoundedPlate(8, Theme::manualNote, this);
        auto *plateLayout = new QVBoxLayout(plate);
        plateLayout->setContentsMargins(12, 12, 12, 12);
        plateLayout->addWidget(new SelectableText(*section_.note, plate));
        layout->addWidget(plate);
    }

    if (!section_.terms.isEmpty()) {
        glossaryLinks_ = new LinkLabel(linksMarkup(section_.terms),
                                       ManualText::glossaryPrefix + section_.terms.join(ManualText::termSeparator),
                                       ManualText::glossaryPrefix, this);
        glossaryLinks_->setFont(HelpTypography::body());
        glossaryLinks_->setWordWrap(true);
        // Links are ours to follow; the desktop is never asked to open one.
        glossaryLinks_->setOpenExternalLinks(false);
        connect(glossaryLinks_, &QLabel::linkActivated, this, &HelpSectionView::openLink);
        layout->addWidget(glossaryLinks_);
    }

    for (const HelpIllustration &figure : HelpIllustration::figures(articleID)) {
        if (figure.sectionID == section_.id)
            layout->addWidget(new HelpIllustrationView(figure, figureFolder, this));
    }
}

bool HelpSectionView::openLink(const QString &link)
{
    const std::optional<QString> term = glossaryTerm(link);
    if (!term || !section_.terms.contains(*term))
        return false;
    if (openGlossary_)
        openGlossary_(*term);
    return true;
}

} // namespace tampod
