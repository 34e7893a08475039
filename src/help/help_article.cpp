#include "help/help_article.h"

#include "help/batch_export_help.h"
#include "help/encoding_help.h"
#include "help/getting_started_help.h"
#include "help/glossary_help.h"
#include "help/menu_help.h"
#include "help/rex_help.h"
#include "help/sd2_recovery_help.h"
#include "help/section_loop_help.h"
#include "help/tempo_help.h"

namespace tampod {

namespace {

QList<HelpSection> notices()
{
    return {{
        .id = QStringLiteral("notices"),
        .title = QString(),
        .paragraphs = {QStringLiteral(
            "tamPOD is built on free software: Qt (LGPL 3) for its windows and core services, with "
            "the XCB libraries (MIT) under X11; FFmpeg (LGPL 2.1 or later, or GPL 2 or later as "
            "your distribution builds it) for decoding, MP3 included, for resampling and for AAC "
            "encoding; "
            "libsndfile (LGPL 2.1 or later) for WAV and AIFF; libFLAC (BSD 3-clause) for FLAC; "
            "PortAudio (MIT) for sound output; QCoro (MIT) for its background tasks; and "
            "nlohmann-json (MIT) for its settings and records. The full licence texts come with "
            "each library’s package on your system. REX loops need the vendor’s REX decoder "
            "library, which is not included with tamPOD; without it, REX files are refused. "
            "MP3 files are decoded only, and MP3 output is unavailable.")},
        .terms = {QStringLiteral("Decoder"), QStringLiteral("MP3")},
    }};
}

} // namespace

const QList<HelpArticle> &HelpArticle::all()
{
    static const QList<HelpArticle> articles{
        {QStringLiteral("Welcome"), GettingStartedHelp::welcome()},
        {QStringLiteral("Opening files and folders"), GettingStartedHelp::opening()},
        {QStringLiteral("SD2 recovery"), SD2RecoveryHelp::sections()},
        {QStringLiteral("REX loops"), REXHelp::sections()},
        {QStringLiteral("Playback and navigation"), GettingStartedHelp::playback()},
        {QStringLiteral("Removing and clearing files"), GettingStartedHelp::removing()},
        {QStringLiteral("Repeating a song"), GettingStartedHelp::repeating()},
        {QStringLiteral("Section looping"), SectionLoopHelp::sections()},
        {QStringLiteral("BPM and file support"), TempoHelp::sections()},
        {QStringLiteral("Settings and export"), EncodingHelp::sections()},
        {QStringLiteral("Third-party software"), notices()},
        {QStringLiteral("Batch export"), BatchExportHelp::sections()},
        {QStringLiteral("Windows and quitting"), GettingStartedHelp::windows()},
        {QStringLiteral("Menus"), MenuHelp::sections()},
        {glossaryTitle, {}},
    };
    return articles;
}

QString HelpArticle::body() const
{
    if (title == glossaryTitle)
        return GlossaryHelp::overview();
    QStringList texts;
    for (const HelpSection &section : sections)
        texts << section.searchText();
    return texts.join(QStringLiteral("\n\n"));
}

} // namespace tampod
