#include "help/glossary_help.h"
#include "help/help_article.h"

#include "rex/rex_library.h"

#include <gtest/gtest.h>

namespace tampod {
namespace {

// The manual tells where the REX decoder goes, in the same words as the code that loads it,
// and that REX files are refused without it.
TEST(HelpREXDecoder, TheManualNamesWhereTheDecoderGoesAndThatItIsNotIncluded)
{
    const QString location = QLatin1StringView(REXLibrary::location);
    QString note;
    for (const HelpArticle &article : HelpArticle::all()) {
        for (const HelpSection &section : article.sections) {
            if (article.title == "REX loops" && section.id == "use")
                note = section.searchText();
        }
    }
    QString glossary;
    for (const GlossaryHelp::Entry &entry : GlossaryHelp::entries()) {
        if (entry.term == "REX / REX2 / RCY")
            glossary = entry.definition;
    }
    for (const QString &text : {note, glossary}) {
        EXPECT_TRUE(text.contains(location)) << text.toStdString();
        EXPECT_TRUE(text.contains("REX files are refused")) << text.toStdString();
    }
    EXPECT_TRUE(note.contains("not included with tamPOD"));
    EXPECT_TRUE(note.contains("/usr/lib/tampod/librex.so when tamPOD is /usr/bin/tampod"));
}

} // namespace
} // namespace tampod
