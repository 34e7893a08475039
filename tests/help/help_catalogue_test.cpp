#include "help/glossary_help.h"
#include "help/help_article.h"
#include "help/help_illustration.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

#include <vector>

namespace tampod {
namespace {

struct ExpectedSection {
    const char *article;
    const char *id;
    const char *title;
    int paragraphs, steps, bullets;
    bool note;
    std::vector<const char *> terms;
};

const std::vector<ExpectedSection> catalogue{
    {"Welcome", "quick-start", "Start here", 1, 3, 0, true, {"Library", "Export"}},
    {"Welcome", "next", "Try another task", 0, 0, 3, false, {"Section loop", "Batch export", "SD2"}},
    {"Opening files and folders", "open", "Add audio", 0, 2, 3, false, {"Decoder", "Library"}},
    {"Opening files and folders", "legacy", "Opening older recordings", 2, 0, 0, false,
     {"AppleDouble", "Assumed format", "REX / REX2 / RCY"}},
    {"SD2 recovery", "open", "Open an SD2 recording", 0, 3, 0, true,
     {"SD2", "Resource fork", "AppleDouble", "Recovery copy"}},
    {"SD2 recovery", "assumptions", "When format metadata is missing", 1, 4, 0, true,
     {"Assumed format", "Bit depth (Bits)", "Sample rate (SR)"}},
    {"SD2 recovery", "trial-volume", "Volume during depth trials", 0, 0, 3, true, {"Listening volume", "Recovery copy"}},
    {"SD2 recovery", "link", "Link left and right channels", 0, 3, 4, true, {"Linked pair", "Frame", "Waveform"}},
    {"SD2 recovery", "pair-output", "Save the recovered audio", 0, 4, 4, false,
     {"Split-channel export", "Resampling", "Resource fork"}},
    {"SD2 recovery", "interrupted", "If separate-channel saving is interrupted", 1, 3, 0, false,
     {"Split-channel export", "Temporary audio"}},
    {"SD2 recovery", "limits", "Recovery limits", 0, 0, 4, false, {"Restore File Access", "Source file"}},
    {"REX loops", "use", "Play and convert a REX loop", 0, 2, 0, true, {"REX / REX2 / RCY", "Tempo"}},
    {"REX loops", "limits", "What is rendered", 1, 0, 3, false, {"Decoder", "Temporary audio"}},
    {"Playback and navigation", "listen", "Play and pause", 0, 3, 3, false, {"Transport"}},
    {"Playback and navigation", "position", "Position and level", 0, 0, 4, true, {"Listening volume", "Playhead"}},
    {"Removing and clearing files", "remove", "Remove library entries", 0, 0, 2, true, {"Library", "Source file"}},
    {"Repeating a song", "repeat", "Repeat the entire recording", 0, 3, 0, true, {"Whole-file repeat", "Section loop"}},
    {"Section looping", "choose", "Choose and play a section", 0, 3, 0, true, {"Section loop", "Loop boundary"}},
    {"Section looping", "refine", "Refine the boundaries", 0, 0, 4, true, {"Zoom", "Frame", "Crossfade"}},
    {"Section looping", "save", "Save a repeated section", 0, 3, 0, true,
     {"Repeat count", "Captured settings", "Processed preview"}},
    {"Section looping", "controls", "While section mode is active", 0, 0, 4, false, {"Temporary audio"}},
    {"BPM and file support", "detect", "Find a file’s tempo", 0, 3, 0, true, {"BPM", "Get", "Captured settings"}},
    {"BPM and file support", "limits", "Understand the result", 0, 0, 5, false, {"Tagged BPM", "Tempo"}},
    {"BPM and file support", "format", "Read the source columns", 1, 0, 3, false,
     {"Sample rate (SR)", "Bit depth (Bits)", "Codec"}},
    {"Settings and export", "defaults", "Save your usual settings", 0, 3, 0, true, {"Export defaults"}},
    {"Settings and export", "export", "Export one recording", 0, 3, 3, true, {"Export", "Captured settings", "Repeat count"}},
    {"Settings and export", "formats", "Choose the output format", 1, 0, 6, true,
     {"Lossless", "Lossy", "Sample rate (SR)", "Bit depth (Bits)", "Bitrate"}},
    {"Settings and export", "channels", "Choose channels and encoding", 0, 0, 4, false,
     {"Channel", "Integer PCM", "Split-channel export"}},
    {"Settings and export", "effects", "Add clipping or lo-fi treatment", 0, 0, 4, true,
     {"Clipping drive", "Lo-fi treatment", "Dither", "Normalization"}},
    {"Settings and export", "vinyl", "Add Vinyl texture or Hum", 0, 4, 0, true, {"Vinyl texture", "Hum", "Headroom", "New Pattern"}},
    {"Settings and export", "audition", "Compare before saving", 0, 4, 5, false,
     {"Original preview", "Processed preview", "Listening volume"}},
    {"Settings and export", "limits", "Saving, limits and metadata", 0, 0, 5, false,
     {"Metadata", "Tagged BPM", "Resource fork", "Restore File Access"}},
    {"Third-party software", "notices", "", 1, 0, 0, false, {"Decoder", "MP3"}},
    {"Batch export", "checked", "Choose files using checkboxes", 0, 2, 0, true, {"Checked files", "Batch export"}},
    {"Batch export", "selected", "Use highlighted rows instead", 1, 2, 0, false, {"Selected files", "Linked pair"}},
    {"Batch export", "run", "Choose settings and export", 0, 3, 5, true,
     {"Export defaults", "Captured settings", "Split-channel export"}},
    {"Windows and quitting", "windows", "Windows and quitting", 0, 0, 3, false, {}},
    {"Windows and quitting", "privacy", "Local audio and temporary files", 2, 0, 0, false,
     {"Temporary audio", "Split-channel export"}},
    {"Menus", "menus", "Find a command", 0, 0, 4, false, {}},
    {"Menus", "access", "Restore access to an original file", 0, 4, 0, true,
     {"Restore File Access", "Source file", "Captured settings"}},
};

const HelpSection *findSection(const QString &article, const QString &id)
{
    for (const HelpArticle &a : HelpArticle::all()) {
        for (const HelpSection &s : a.sections) {
            if (a.title == article && s.id == id)
                return &s;
        }
    }
    return nullptr;
}

QStringList glossaryTerms()
{
    QStringList terms;
    for (const GlossaryHelp::Entry &e : GlossaryHelp::entries())
        terms << e.term;
    return terms;
}

// Every text a reader of the manual can see, accessibility descriptions included.
QStringList allTexts()
{
    QStringList texts{GlossaryHelp::overview()};
    for (const HelpArticle &a : HelpArticle::all())
        texts << a.title << a.body();
    for (const HelpIllustration &f : HelpIllustration::all())
        texts << f.title << f.caption << f.accessibilityDescription;
    return texts;
}

TEST(HelpCatalogue, ArticlesAndSectionsFollowTheCatalogue)
{
    QStringList titles;
    std::vector<std::pair<QString, QString>> sectionKeys;
    for (const HelpArticle &a : HelpArticle::all()) {
        titles << a.title;
        for (const HelpSection &s : a.sections)
            sectionKeys.emplace_back(a.title, s.id);
    }
    EXPECT_EQ(titles, (QStringList{"Welcome", "Opening files and folders", "SD2 recovery", "REX loops",
                                   "Playback and navigation", "Removing and clearing files", "Repeating a song",
                                   "Section looping", "BPM and file support", "Settings and export",
                                   "Third-party software", "Batch export", "Windows and quitting", "Menus",
                                   "Glossary"}));
    EXPECT_TRUE(HelpArticle::all().last().sections.isEmpty());

    ASSERT_EQ(sectionKeys.size(), catalogue.size());
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        const ExpectedSection &e = catalogue[i];
        SCOPED_TRACE(std::string(e.article) + " / " + e.id);
        EXPECT_EQ(sectionKeys[i], std::make_pair(QString::fromUtf8(e.article), QString::fromUtf8(e.id)));
        const HelpSection *s = findSection(QString::fromUtf8(e.article), QString::fromUtf8(e.id));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->title, QString::fromUtf8(e.title));
        EXPECT_EQ(s->paragraphs.size(), e.paragraphs);
        EXPECT_EQ(s->steps.size(), e.steps);
        EXPECT_EQ(s->bullets.size(), e.bullets);
        EXPECT_EQ(s->note.has_value(), e.note);
        QStringList terms;
        for (const char *t : e.terms)
            terms << QString::fromUtf8(t);
        EXPECT_EQ(s->terms, terms);
        for (const QString &line : s->paragraphs + s->steps + s->bullets + QStringList{s->note.value_or("x")})
            EXPECT_FALSE(line.trimmed().isEmpty());
    }
}

TEST(HelpCatalogue, GlossaryIsSortedByCodeUnitAndEveryLinkResolves)
{
    const QStringList terms = glossaryTerms();
    ASSERT_EQ(terms.size(), 70);
    EXPECT_EQ(terms.mid(15, 3), (QStringList{"Crossfade", "dB", "Decoder"}));
    EXPECT_EQ(terms.mid(28, 3), (QStringList{"Integer PCM", "kHz", "Library"}));
    EXPECT_EQ(terms.indexOf("MP3"), terms.indexOf("Mono") + 1);
    EXPECT_LT(terms.indexOf("Bit depth (Bits)"), terms.indexOf("Bitrate"));
    EXPECT_EQ(terms.indexOf("Sample rate (SR)"), terms.indexOf("Sample") + 1);
    EXPECT_EQ(terms.indexOf("REX / REX2 / RCY"), terms.indexOf("Restore File Access") + 1);
    for (qsizetype i = 1; i < terms.size(); ++i)
        EXPECT_LT(terms[i - 1].toLower(), terms[i].toLower()) << terms[i].toStdString();

    QSet<QString> linked;
    for (const HelpArticle &a : HelpArticle::all()) {
        for (const HelpSection &s : a.sections) {
            for (const QString &t : s.terms) {
                EXPECT_TRUE(terms.contains(t)) << t.toStdString();
                linked.insert(t);
            }
        }
    }
    QStringList unlinked;
    for (const QString &t : terms) {
        if (!linked.contains(t))
            unlinked << t;
    }
    EXPECT_EQ(unlinked, (QStringList{"AAC", "AIFF", "Audition", "Container", "dB", "Encoder", "FLAC", "Gain",
                                     "kHz", "M4A", "Mono", "PCM", "Sample", "Stereo", "WAV"}));
}

TEST(HelpCatalogue, DefinitionsAreTwoToFourSentences)
{
    static const QRegularExpression sentenceEnd(QStringLiteral("[.!?](\\s|$)"));
    for (const GlossaryHelp::Entry &e : GlossaryHelp::entries()) {
        const auto sentences = e.definition.count(sentenceEnd);
        EXPECT_TRUE(sentences >= 2 && sentences <= 4) << e.term.toStdString() << ": " << sentences;
    }
}

TEST(HelpCatalogue, SearchableTexts)
{
    const HelpSection *withoutNote = findSection("Welcome", "next");
    EXPECT_EQ(withoutNote->searchText(), withoutNote->title
                                             + "\n" + withoutNote->bullets.join("\n")
                                             + "\n\nSection loop\nBatch export\nSD2");
    const HelpSection *withNote = findSection("Welcome", "quick-start");
    EXPECT_EQ(withNote->searchText(), (QStringList{withNote->title} + withNote->paragraphs + withNote->steps
                                       + QStringList{*withNote->note, "Library", "Export"})
                                          .join("\n"));
    EXPECT_TRUE(findSection("Third-party software", "notices")->searchText().startsWith("\n"));
    EXPECT_FALSE(findSection("Welcome", "quick-start")->searchText().contains("quick-start"));

    const HelpArticle &welcome = HelpArticle::all().first();
    EXPECT_EQ(welcome.body(), withNote->searchText() + "\n\n" + withoutNote->searchText());
    EXPECT_EQ(HelpArticle::all().last().body(), GlossaryHelp::overview());

    const QString overview = GlossaryHelp::overview();
    EXPECT_TRUE(overview.startsWith(GlossaryHelp::intro() + "\n\nAAC\n"));
    EXPECT_TRUE(overview.endsWith("\n\nZoom\n" + GlossaryHelp::entries().last().definition));
    EXPECT_EQ(overview.count("\n\n"), 70);
}

TEST(HelpCatalogue, FiguresBelongToExistingSectionsAndMatchTitlesExactly)
{
    ASSERT_EQ(HelpIllustration::all().size(), 13);
    for (const HelpIllustration &f : HelpIllustration::all())
        EXPECT_NE(findSection(f.articleTitle, f.sectionID), nullptr) << f.resourceName.toStdString();

    auto names = [](const QString &article) {
        QStringList list;
        for (const HelpIllustration &f : HelpIllustration::figures(article))
            list << f.resourceName;
        return list;
    };
    EXPECT_EQ(names("Section looping"), (QStringList{"Manual_loop_selection", "Manual_loop_exporting"}));
    EXPECT_EQ(names("Settings and export").size(), 5);
    for (const char *none : {"Glossary", "Menus", "section looping", "Nowhere"})
        EXPECT_TRUE(names(none).isEmpty()) << none;
    EXPECT_EQ(HelpIllustration::all()[5].title, "Choosing a linked pair's output");
}

TEST(HelpCatalogue, QuotedControlNamesAppearAsTheWindowShowsThem)
{
    const std::vector<std::pair<const char *, const char *>> literals{
        {"quick-start", "Open Audio…"}, {"quick-start", "Choose Destination…"}, {"next", "Export Checked"},
        {"assumptions", "Advanced SD2 Recovery…"}, {"assumptions", "Prepare Recovery Copy"},
        {"assumptions", "Technical explanation"}, {"link", "Link L and R"}, {"pair-output", "One stereo file"},
        {"pair-output", "Separate left/right mono files"}, {"pair-output", "Choose Folder…"},
        {"save", "Selected loop"}, {"save", "Save Loop…"}, {"save", "Entire file"}, {"detect", "Get"},
        {"format", "N/A"}, {"defaults", "Apply Settings"}, {"export", "Show in Folder"},
        {"export", "Export Selected"}, {"vinyl", "Add Vinyl Hum"}, {"vinyl", "Preview Vinyl"},
        {"vinyl", "Preview Hum"}, {"vinyl", "New Pattern"}, {"limits", "Cancel Export"},
        {"limits", "Restore File Access…"}, {"selected", "Export Linked"}, {"run", "Export Here"},
        {"run", "Show Folder"}, {"run", "Cancel Batch"}, {"run", "-export"}, {"menus", "Ctrl+,"},
    };
    for (const auto &[id, literal] : literals) {
        bool found = false;
        for (const HelpArticle &a : HelpArticle::all()) {
            for (const HelpSection &s : a.sections)
                found = found || (s.id == id && s.searchText().contains(QString::fromUtf8(literal)));
        }
        EXPECT_TRUE(found) << id << ": " << literal;
    }
}

TEST(HelpCatalogue, NoTextNamesTheOtherPlatformsProgramsOrKeys)
{
    const QStringList words{"⌘", "⇧", "Finder", "Dock", "VoiceOver", "Command-click", "Services", "ReCycle",
                            "macOS", "Mac ", "Apple Music", "Core Audio", "Option-"};
    for (const QString &text : allTexts()) {
        for (const QString &word : words)
            EXPECT_FALSE(text.contains(word)) << word.toStdString() << " in: " << text.left(80).toStdString();
    }
}

} // namespace
} // namespace tampod
