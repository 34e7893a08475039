#include "help/rex_help.h"

using namespace Qt::StringLiterals;

namespace tampod::REXHelp {

const QList<HelpSection> &sections()
{
    static const QList<HelpSection> list{
        {
            .id = u"use"_s,
            .title = u"Play and convert a REX loop"_s,
            .steps = {u"Open or drop a .rex, .rx2 or .rcy file and wait until the complete loop is "
                      u"prepared, then press Play."_s,
                      u"Click “EXPORT” to save it as WAV, AIFF, FLAC, M4A—AAC or SD2. Section loops and "
                      u"batch export work as for any other file."_s},
            .note = u"REX files need the vendor’s REX decoder library, which is not included with "
                    u"tamPOD; without it, REX files are refused. tamPOD loads it from "
                    u"lib/tampod/librex.so in its installation folder, for example "
                    u"/usr/lib/tampod/librex.so when tamPOD is /usr/bin/tampod. The audio and its BPM follow the loop’s original tempo, which may differ "
                    u"from a playback tempo saved in the file. tamPOD does not change the tempo, edit "
                    u"slices or export REX files."_s,
            .terms = {u"REX / REX2 / RCY"_s, u"Tempo"_s},
        },
        {
            .id = u"limits"_s,
            .title = u"What is rendered"_s,
            .paragraphs = {u"The slices, their mute and gate settings and the decoder’s processing are "
                           u"rendered into one loop that ends at its musical boundary, with no tail. "
                           u"Playback, the waveform, previews and export all use that same loop."_s},
            .bullets = {u"Mono or stereo loops from 8 to 192 kHz, with an original tempo from 20 to "
                        u"450 BPM."_s,
                        u"At most 32 MiB per REX file and 256 MiB of rendered audio."_s,
                        u"Listening copies are released as soon as they are no longer needed."_s},
            .terms = {u"Decoder"_s, u"Temporary audio"_s},
        },
    };
    return list;
}

} // namespace tampod::REXHelp
