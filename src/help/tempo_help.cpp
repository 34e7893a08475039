#include "help/tempo_help.h"

using namespace Qt::StringLiterals;

namespace tampod::TempoHelp {

const QList<HelpSection> &sections()
{
    static const QList<HelpSection> list{
        {
            .id = u"detect"_s,
            .title = u"Find a file’s tempo"_s,
            .steps = {u"Look at the BPM column: a number there comes from a readable tag or an earlier "
                      u"result."_s,
                      u"For a file without a number, click “Get”. A progress bar appears; click × to "
                      u"cancel."_s,
                      u"If an export dialog was already open, close and reopen it to capture the new "
                      u"BPM."_s},
            .note = u"Get does not select, check or play the file, change its speed or rewrite the "
                    u"original. Requests run one at a time, and a failure or cancellation brings the Get "
                    u"button back."_s,
            .terms = {u"BPM"_s, u"Get"_s, u"Captured settings"_s},
        },
        {
            .id = u"limits"_s,
            .title = u"Understand the result"_s,
            .bullets = {u"Detection estimates one overall pulse between 35 and 300 BPM."_s,
                        u"The audio must last at least two seconds and hold at most 67,108,864 decoded "
                        u"frames, about 25 minutes at 44.1 kHz."_s,
                        u"Files with a readable tempo tag are not analysed again."_s,
                        u"The column rounds to a whole number, with exactly .500 rounding down; exports "
                        u"keep the precise value."_s,
                        u"Changing how an SD2 file is interpreted clears its detected BPM."_s},
            .terms = {u"Tagged BPM"_s, u"Tempo"_s},
        },
        {
            .id = u"format"_s,
            .title = u"Read the source columns"_s,
            .paragraphs = {u"tamPOD plays a file when its decoder accepts the actual encoding inside, "
                           u"whatever the extension says. WAV, AIFF, MP3, M4A and AAC are common inputs."_s},
            .bullets = {u"SR is the source’s sample rate in kHz, and Bits its resolution, floating point "
                        u"included."_s,
                        u"MP3 and AAC files show “N/A” for Bits. A dash means the value is unavailable, "
                        u"and an asterisk marks an assumed SD2 value."_s,
                        u"Hovering over a row shows the full file name and format."_s},
            .terms = {u"Sample rate (SR)"_s, u"Bit depth (Bits)"_s, u"Codec"_s},
        },
    };
    return list;
}

} // namespace tampod::TempoHelp
