#include "help/section_loop_help.h"

using namespace Qt::StringLiterals;

namespace tampod::SectionLoopHelp {

const QList<HelpSection> &sections()
{
    static const QList<HelpSection> list{
        {
            .id = u"choose"_s,
            .title = u"Choose and play a section"_s,
            .steps = {u"Click the loop button in the left sidebar."_s,
                      u"Drag a green marker to where the section should start or end, and release it."_s,
                      u"Wait until the section is prepared, then press Play."_s},
            .note = u"The first selection covers 30 seconds around the middle of the song, or the whole "
                    u"song if it is shorter. Changing a boundary pauses playback, and preparing a "
                    u"section never starts playback."_s,
            .terms = {u"Section loop"_s, u"Loop boundary"_s},
        },
        {
            .id = u"refine"_s,
            .title = u"Refine the boundaries"_s,
            .bullets = {u"Click a marker to focus it (it shows a white outline) and press Left or Right "
                        u"to move it; a screen reader’s increment and decrement actions do the same."_s,
                        u"The sidebar slider zooms in up to 64× and centres the view on the section."_s,
                        u"Ctrl+Z and Ctrl+Shift+Z undo and redo boundary changes, as do the commands in "
                        u"the marker’s context menu; playback stays paused."_s,
                        u"Times refer to the original recording, and boundaries snap to whole frames."_s},
            .note = u"tamPOD adds no crossfade, does not move boundaries to zero crossings and does not "
                    u"snap them to the tempo."_s,
            .terms = {u"Zoom"_s, u"Frame"_s, u"Crossfade"_s},
        },
        {
            .id = u"save"_s,
            .title = u"Save a repeated section"_s,
            .steps = {u"Click “EXPORT”. If exactly one file is checked, that file is exported rather "
                      u"than the selected row."_s,
                      u"Choose “Selected loop” and a repeat count from 1 to 999; the quick choices and "
                      u"Custom count set the same value. Optionally compare Original and Processed."_s,
                      u"Click “Save Loop…” and choose where to save."_s},
            .note = u"All the repetitions are joined into one file. An open export dialog keeps the "
                    u"values it captured, and “Entire file” saves the whole recording instead."_s,
            .terms = {u"Repeat count"_s, u"Captured settings"_s, u"Processed preview"_s},
        },
        {
            .id = u"controls"_s,
            .title = u"While section mode is active"_s,
            .bullets = {u"Return to Start goes to the start marker, and Jump to End pauses at the end "
                        u"marker."_s,
                        u"Seeking stays inside the section, while the position slider still shows the "
                        u"whole recording."_s,
                        u"Clicking the sidebar loop button again leaves section mode. Selecting, removing "
                        u"or clearing files clears the section and its undo history."_s,
                        u"A section needs temporary audio below 4 GB. If preparing it is cancelled or "
                        u"fails, whole-file playback returns, paused."_s},
            .terms = {u"Temporary audio"_s},
        },
    };
    return list;
}

} // namespace tampod::SectionLoopHelp
