#include "help/encoding_help.h"

using namespace Qt::StringLiterals;

namespace tampod::EncodingHelp {

const QList<HelpSection> &sections()
{
    static const QList<HelpSection> list{
        {
            .id = u"defaults"_s,
            .title = u"Save your usual settings"_s,
            .steps = {u"Open Settings with the mixer icon or Ctrl+,."_s,
                      u"Choose the format, sample rate, options and effects you use most."_s,
                      u"Click “Apply Settings”."_s},
            .note = u"Vinyl and Hum levels are remembered at once, even when Settings is closed or an "
                    u"export is cancelled. Other edits that are not applied are discarded, and open "
                    u"exports keep the choices they captured."_s,
            .terms = {u"Export defaults"_s},
        },
        {
            .id = u"export"_s,
            .title = u"Export one recording"_s,
            .steps = {u"Select a file and click “EXPORT”. If exactly one box is checked, the checked file "
                      u"is exported instead; the button’s tooltip names the file."_s,
                      u"Choose the settings for this export."_s,
                      u"Click “Choose Destination…”, and afterwards “Show in Folder” to see the new "
                      u"file."_s},
            .bullets = {u"For a prepared section, choose “Selected loop” and click “Save Loop…”."_s,
                        u"For several files, use “Export Checked” or “Export Selected”."_s,
                        u"Opening an export pauses playback."_s},
            .note = u"tamPOD never replaces the original or any existing file, and completed exports "
                    u"are not added to the library."_s,
            .terms = {u"Export"_s, u"Captured settings"_s, u"Repeat count"_s},
        },
        {
            .id = u"formats"_s,
            .title = u"Choose the output format"_s,
            .paragraphs = {u"Settings and the export dialogs offer the same five formats, each in mono or "
                           u"stereo. MP3 can be opened but not saved."_s},
            .bullets = {u"WAV: 8-, 16- or 24-bit Integer PCM."_s,
                        u"AIFF: 16 or 24 bit."_s,
                        u"FLAC: 16 or 24 bit, with Automatic compression."_s,
                        u"WAV, AIFF and FLAC use any of the listed rates from 8 to 192 kHz."_s,
                        u"M4A—AAC: AAC-LC at 44.1 or 48 kHz and an average bit rate of 64, 96, 128, 192 or "
                        u"256 kbps."_s,
                        u"SD2: 16 or 24 bit."_s},
            .note = u"Prefer WAV, AIFF or FLAC when the exact length in samples matters."_s,
            .terms = {u"Lossless"_s, u"Lossy"_s, u"Sample rate (SR)"_s, u"Bit depth (Bits)"_s,
                      u"Bitrate"_s},
        },
        {
            .id = u"channels"_s,
            .title = u"Choose channels and encoding"_s,
            .bullets = {u"Keep source layout keeps mono as mono and stereo as stereo; Stereo copies a mono "
                        u"channel to both sides; Mono averages left and right."_s,
                        u"A linked SD2 pair cannot be mixed down to mono."_s,
                        u"WAV is written as Integer PCM only: no multichannel, floating-point, μ-law or "
                        u"A-law output."_s,
                        u"A saved choice that is no longer available stays visible and must be replaced "
                        u"before you apply the settings or export."_s},
            .terms = {u"Channel"_s, u"Integer PCM"_s, u"Split-channel export"_s},
        },
        {
            .id = u"effects"_s,
            .title = u"Add clipping or lo-fi treatment"_s,
            .bullets = {u"Clipping drive is Off or +1 to +12 dB; the boosted signal is hard-clipped and "
                        u"not normalised."_s,
                        u"Lo-fi treatment is Off, 8-bit or 12-bit: it reduces the amplitude resolution "
                        u"without dither."_s,
                        u"For a true 8-bit file, choose 8-bit WAV with lo-fi treatment Off."_s,
                        u"Processing runs in this order: rate and channel conversion, Vinyl, clipping, "
                        u"lo-fi; it covers the whole export and every repetition."_s},
            .note = u"Ordinary listening is unchanged; the Processed preview plays the effects."_s,
            .terms = {u"Clipping drive"_s, u"Lo-fi treatment"_s, u"Dither"_s, u"Normalization"_s},
        },
        {
            .id = u"vinyl"_s,
            .title = u"Add Vinyl texture or Hum"_s,
            .steps = {u"Turn on Vinyl texture, then choose Vinyl 1, 2 or 3 and a level."_s,
                      u"Optionally turn on “Add Vinyl Hum” and set its level."_s,
                      u"Click “Preview Vinyl” or “Preview Hum” to hear that layer alone for up to one "
                      u"minute."_s,
                      u"Click “New Pattern” to change where the recordings start."_s},
            .note = u"Higher levels lower the song to keep headroom. The noise continues across "
                    u"repetitions, and the preview and the export share the captured pattern."_s,
            .terms = {u"Vinyl texture"_s, u"Hum"_s, u"Headroom"_s, u"New Pattern"_s},
        },
        {
            .id = u"audition"_s,
            .title = u"Compare before saving"_s,
            .steps = {u"Click Original to hear the captured file or section unchanged, in a loop."_s,
                      u"Click Processed to hear the complete prepared output, in a loop."_s,
                      u"Switch between the two to compare; each switch starts again from the beginning."_s,
                      u"Click the active button, which shows a stop square, to stop."_s},
            .bullets = {u"Auditions loop until stopped and never raise the repeat count you save."_s,
                        u"Changing a setting, choosing a destination or closing the dialog stops the "
                        u"preview."_s,
                        u"The two versions are not matched in loudness."_s,
                        u"Settings that change nothing audible do not enable the comparison; AAC output "
                        u"always does."_s,
                        u"The message about subtle differences is guidance only."_s},
            .terms = {u"Original preview"_s, u"Processed preview"_s, u"Listening volume"_s},
        },
        {
            .id = u"limits"_s,
            .title = u"Saving, limits and metadata"_s,
            .bullets = {u"“Cancel Export” reports a save that completed just before as saved; otherwise it "
                        u"removes the temporary work."_s,
                        u"Outputs and intermediate PCM must stay below 4 GB; RF64 is unavailable."_s,
                        u"A known BPM is kept in the output, also in loop, batch and split-channel "
                        u"exports."_s,
                        u"Artwork, markers and regions are not copied."_s,
                        u"If the original cannot be reached, choose File > “Restore File Access…”."_s},
            .terms = {u"Metadata"_s, u"Tagged BPM"_s, u"Resource fork"_s, u"Restore File Access"_s},
        },
    };
    return list;
}

} // namespace tampod::EncodingHelp
