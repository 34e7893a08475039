#pragma once

#include "help/help_section.h"

#include <QWidget>

#include <functional>

class QLabel;

namespace tampod {

// One section of an article: heading, paragraphs, numbered steps, bullets, the note, the
// glossary links and the section's figures, top to bottom.
class HelpSectionView : public QWidget {
    Q_OBJECT

public:
    using OpenGlossary = std::function<void(const QString &term)>;

    HelpSectionView(HelpSection section, const QString &articleID, OpenGlossary openGlossary,
                    const QString &figureFolder, QWidget *parent = nullptr);

    const HelpSection &section() const { return section_; }
    // "Glossary: " and the linked terms; null for a section without terms.
    QLabel *glossaryLinks() const { return glossaryLinks_; }

    // What a click on a link of the glossary line does: only a glossary link to one of this
    // section's terms is followed, nothing is ever handed to the desktop. True when followed.
    bool openLink(const QString &link);

private:
    HelpSection section_;
    OpenGlossary openGlossary_;
    QLabel *glossaryLinks_ = nullptr;
};

} // namespace tampod
