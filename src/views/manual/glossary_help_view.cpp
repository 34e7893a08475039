#include "views/manual/glossary_help_view.h"

#include "views/manual/help_typography.h"

#include "help/glossary_help.h"

#include <QBoxLayout>
#include <QVBoxLayout>

namespace tampod {

void GlossaryHelpView::addTo(QBoxLayout &column, QWidget *parent, const Anchor &anchor)
{
    column.addWidget(new SelectableText(GlossaryHelp::intro(), parent));
    for (const GlossaryHelp::Entry &entry : GlossaryHelp::entries()) {
        auto *block = new QWidget(parent);
        auto *layout = new QVBoxLayout(block);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        layout->addWidget(headingLabel(entry.term, HelpTypography::heading(), block));
        layout->addWidget(new SelectableText(entry.definition, block));
        column.addWidget(block);
        anchor(entry.term, block);
    }
}

} // namespace tampod
