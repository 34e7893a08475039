#include "help/batch_export_help.h"

using namespace Qt::StringLiterals;

namespace tampod::BatchExportHelp {

const QList<HelpSection> &sections()
{
    static const QList<HelpSection> list{
        {
            .id = u"checked"_s,
            .title = u"Choose files using checkboxes"_s,
            .steps = {u"Tick the checkbox of each recording you want; the count of checked files appears "
                      u"below the library."_s,
                      u"Click “Export Checked”."_s},
            .note = u"Checked boxes take priority over highlighted rows and stay checked while you "
                    u"listen. Batch export always saves whole recordings, ignoring section bounds and "
                    u"repeat counts."_s,
            .terms = {u"Checked files"_s, u"Batch export"_s},
        },
        {
            .id = u"selected"_s,
            .title = u"Use highlighted rows instead"_s,
            .paragraphs = {u"A linked pair counts as one item, and “Export Linked” appears when the batch "
                           u"is made only of pairs. Highlighting rows never ticks their checkboxes."_s},
            .steps = {u"Clear all checkboxes, then highlight rows with Ctrl-click, Shift-click or "
                      u"Ctrl+A."_s,
                      u"Click “Export Selected”. For a single ordinary file, use the main “EXPORT” "
                      u"button."_s},
            .terms = {u"Selected files"_s, u"Linked pair"_s},
        },
        {
            .id = u"run"_s,
            .title = u"Choose settings and export"_s,
            .steps = {u"Review the captured list of files and the shared settings."_s,
                      u"Click “Choose Folder…”, then “Export Here”."_s,
                      u"Review the Saved, Failed, Cancelled and Not exported results, click “Show "
                      u"Folder” to see the files, and “Done” to close."_s},
            .bullets = {u"Each new name adds “-export” to the original name."_s,
                        u"When that name is taken, a number is added; existing files are never "
                        u"overwritten."_s,
                        u"Files are exported one at a time, and a failure does not stop the rest."_s,
                        u"“Cancel Batch” keeps the exports that are already complete."_s,
                        u"An open batch keeps the files it captured, even if you change the checks."_s},
            .note = u"Opening a batch export pauses the main player, and batch export has no audition "
                    u"preview."_s,
            .terms = {u"Export defaults"_s, u"Captured settings"_s, u"Split-channel export"_s},
        },
    };
    return list;
}

} // namespace tampod::BatchExportHelp
