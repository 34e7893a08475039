#include "help/menu_help.h"

using namespace Qt::StringLiterals;

namespace tampod::MenuHelp {

const QList<HelpSection> &sections()
{
    static const QList<HelpSection> list{
        {
            .id = u"menus"_s,
            .title = u"Find a command"_s,
            .bullets = {u"The tamPOD menu holds About tamPOD, Settings (Ctrl+,) and Quit tamPOD (Ctrl+Q)."_s,
                        u"The File menu holds “Open Audio…” (Ctrl+O), “Advanced SD2 Recovery…” and "
                        u"“Restore File Access…”."_s,
                        u"The Help menu opens this manual (Ctrl+?)."_s,
                        u"tamPOD has no Window, View or Edit menu; text fields keep Ctrl+X, Ctrl+C, "
                        u"Ctrl+V, Ctrl+A, Ctrl+Z and Ctrl+Shift+Z."_s},
        },
        {
            .id = u"access"_s,
            .title = u"Restore access to an original file"_s,
            .steps = {u"Reconnect the disk that holds the original and try again."_s,
                      u"If the file is still unreachable, select its row and choose File > “Restore File "
                      u"Access…”; a single-file export offers the same command."_s,
                      u"Select the original file at its current location. Copies and replacement files "
                      u"are refused."_s,
                      u"Start playback or the export again yourself."_s},
            .note = u"Restoring access keeps the row’s checks, loop and export choices and starts "
                    u"nothing. To use a replacement file, open it as a new entry."_s,
            .terms = {u"Restore File Access"_s, u"Source file"_s, u"Captured settings"_s},
        },
    };
    return list;
}

} // namespace tampod::MenuHelp
