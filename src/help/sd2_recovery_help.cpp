#include "help/sd2_recovery_help.h"

using namespace Qt::StringLiterals;

namespace tampod::SD2RecoveryHelp {

const QList<HelpSection> &sections()
{
    static const QList<HelpSection> list{
        {
            .id = u"open"_s,
            .title = u"Open an SD2 recording"_s,
            .steps = {u"Open the SD2 files, or the folder that holds them, with File > “Open Audio…” or "
                      u"by dropping them onto the main window."_s,
                      u"tamPOD first tries to decode each file directly. When that fails, it reads the "
                      u"format from the file’s resource metadata: a resource fork kept in an extended "
                      u"attribute (as Samba and netatalk store it), on an HFS+ volume, or in a “._” "
                      u"or .AppleDouble companion file."_s,
                      u"If SR and Bits show asterisks, the format was assumed; follow the steps in "
                      u"“When format metadata is missing”."_s},
            .note = u"Recovery from metadata supports signed 8-, 16-, 24- and 32-bit PCM, mono or "
                    u"stereo, at whole-number rates from 8 to 192 kHz. Invalid or conflicting metadata "
                    u"is rejected unless direct decoding succeeds; then a note explains that the "
                    u"decoder supplied the format."_s,
            .terms = {u"SD2"_s, u"Resource fork"_s, u"AppleDouble"_s, u"Recovery copy"_s},
        },
        {
            .id = u"assumptions"_s,
            .title = u"When format metadata is missing"_s,
            .paragraphs = {u"An eligible file without format metadata starts with a recovery copy that "
                           u"assumes 16-bit audio at 44.1 kHz: mono for names ending in .L or .R, stereo "
                           u"otherwise. Asterisks beside SR and Bits mark the assumed values."_s},
            .steps = {u"Lower the listening volume and check the sound by ear."_s,
                      u"Try 44.1 or 48 kHz and 16 or 24 bits with the buttons of the SD2 status; each "
                      u"change pauses playback."_s,
                      u"For any other format, choose File > “Advanced SD2 Recovery…”, set the bit depth, "
                      u"the rate in Hz and Mono or Stereo, and click “Prepare Recovery Copy”."_s,
                      u"If preparation fails, expand “Technical explanation” to see why."_s},
            .note = u"A wrong bit depth can give loud noise and a different duration. tamPOD "
                    u"reinterprets the same bytes; it never trims or pads them."_s,
            .terms = {u"Assumed format"_s, u"Bit depth (Bits)"_s, u"Sample rate (SR)"_s},
        },
        {
            .id = u"trial-volume"_s,
            .title = u"Volume during depth trials"_s,
            .bullets = {u"Trying 8, 24 or 32 bits limits tamPOD’s listening gain to 5%, or keeps it "
                        u"lower if it already is."_s,
                        u"Returning to 16 bits on purpose restores the level you had before the trial, "
                        u"once the copy is prepared."_s,
                        u"If preparation fails or is cancelled, the reduced gain stays. Cancelling the "
                        u"warning changes nothing, and playback never starts by itself."_s},
            .note = u"The system volume and the output device are never touched, and the limit never "
                    u"makes exports quieter."_s,
            .terms = {u"Listening volume"_s, u"Recovery copy"_s},
        },
        {
            .id = u"link"_s,
            .title = u"Link left and right channels"_s,
            .steps = {u"Open matching mono .L and .R files from one folder."_s,
                      u"Highlight both rows and click “Link L and R” below the list."_s,
                      u"Play the pair to check that the channels line up."_s},
            .bullets = {u"Linking needs matching names, sample rates, bit depths and exactly the same "
                        u"number of decoded frames."_s,
                        u"Both waveforms share playback, seeking, zoom and loop bounds, and the pair "
                        u"counts as one item when exporting."_s,
                        u"Different BPM tags do not prevent linking; a value both files agree on is kept "
                        u"for the pair."_s,
                        u"Unlink restores two rows, and a checked pair becomes two checked files. "
                        u"Removing either row removes both entries."_s},
            .note = u"Matching names and lengths do not prove that the channels are aligned. tamPOD "
                    u"never aligns, trims or pads them, and links last only until you quit."_s,
            .terms = {u"Linked pair"_s, u"Frame"_s, u"Waveform"_s},
        },
        {
            .id = u"pair-output"_s,
            .title = u"Save the recovered audio"_s,
            .steps = {u"Confirm the recovery by listening."_s,
                      u"Click “EXPORT”, or start a batch export."_s,
                      u"Choose “One stereo file” or “Separate left/right mono files”, and Keep source "
                      u"layout or Stereo."_s,
                      u"For separate mono files, enter a base filename and click “Choose Folder…”; "
                      u"tamPOD adds .L and .R to the names."_s},
            .bullets = {u"L goes to the left channel and R to the right. Separate files are made from one "
                        u"processed stereo mix."_s,
                        u"To export only one member, unlink the pair first. An open export keeps the pair "
                        u"it captured."_s,
                        u"Changing the sample rate resamples the audio without changing its speed."_s,
                        u"SD2 output is 16- or 24-bit, mono or stereo, and keeps a known BPM. Its resource "
                        u"metadata is written to an extended attribute of the new file."_s},
            .terms = {u"Split-channel export"_s, u"Resampling"_s, u"Resource fork"_s},
        },
        {
            .id = u"interrupted"_s,
            .title = u"If separate-channel saving is interrupted"_s,
            .paragraphs = {u"Saving two files cannot happen in one step. After an ordinary failure, "
                           u"tamPOD removes the new, incomplete output. After a crash, the next start "
                           u"removes incomplete output it can verify and explains how to try again; "
                           u"completed pairs and unrelated or changed files are kept."_s},
            .steps = {u"Reconnect the disk and start tamPOD again."_s,
                      u"Follow the recovery notice and add the originals to the library again."_s,
                      u"Reuse the output name only once the notice confirms the cleanup."_s},
            .terms = {u"Split-channel export"_s, u"Temporary audio"_s},
        },
        {
            .id = u"limits"_s,
            .title = u"Recovery limits"_s,
            .bullets = {u"Recovery verifies the saved PCM bytes and format, not the settings of the "
                        u"original session."_s,
                        u"Resource metadata is read up to 4 MB; working audio and outputs must stay "
                        u"below 4 GB."_s,
                        u"MacBinary and BinHex unpacking, compressed parameter resources, fractional-rate "
                        u"fallback and surround pairing are unavailable."_s,
                        u"If the source has moved, use Restore File Access instead of changing the bit "
                        u"depth."_s},
            .terms = {u"Restore File Access"_s, u"Source file"_s},
        },
    };
    return list;
}

} // namespace tampod::SD2RecoveryHelp
