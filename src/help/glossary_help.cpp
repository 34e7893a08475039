#include "help/glossary_help.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tampod::GlossaryHelp {

namespace {

QList<Entry> stored()
{
    return {
        {u"AAC"_s, u"Advanced Audio Coding, a lossy format that keeps sound in far less space than PCM. "
                   u"tamPOD opens AAC files and exports AAC-LC inside an M4A file at an average bit rate "
                   u"of 64 to 256 kbps."_s},
        {u"AIFF"_s, u"Audio Interchange File Format, an uncompressed PCM format. tamPOD opens AIFF files "
                    u"and exports them at 16 or 24 bits."_s},
        {u"AppleDouble"_s, u"A way of keeping a file’s resource fork and other metadata in a separate "
                           u"companion file, named with a “._” prefix or stored in an .AppleDouble folder. "
                           u"tamPOD reads SD2 format metadata from such companions when the file itself "
                           u"carries none. Open the whole folder so that the companions are found."_s},
        {u"Assumed format"_s, u"The format tamPOD uses for an SD2 file whose format metadata is missing: "
                              u"16-bit audio at 44.1 kHz, mono for .L and .R names and stereo otherwise. "
                              u"Asterisks beside SR and Bits mark assumed values. Check them by ear and "
                              u"change them if the sound is wrong."_s},
        {u"Audition"_s, u"Listening to the result of an export before saving it. tamPOD’s export dialogs "
                        u"offer Original and Processed previews, which loop until you stop them."_s},
        {u"Batch export"_s, u"Exporting several recordings in one run with shared settings. tamPOD saves "
                            u"each checked or highlighted file into one folder, one at a time, and reports "
                            u"a result for each."_s},
        {u"Bit depth (Bits)"_s, u"The number of bits that store each sample, which sets the resolution of "
                                u"the sound. The Bits column shows the source’s depth, floating point "
                                u"included, and “N/A” for MP3 and AAC. Export offers 8, 16 or 24 bits, "
                                u"depending on the format."_s},
        {u"Bitrate"_s, u"The amount of data used for each second of audio, in kilobits per second (kbps). "
                       u"For AAC output tamPOD sets an average bit rate of 64, 96, 128, 192 or 256 kbps; "
                       u"higher values sound closer to the original."_s},
        {u"BPM"_s, u"Beats per minute, the usual measure of tempo. tamPOD reads it from supported tags or "
                   u"estimates it when you click Get. The BPM column rounds to the nearest whole number, "
                   u"with exactly .500 rounding down, while exports keep the precise value. BPM never "
                   u"changes the playback speed."_s},
        {u"Captured settings"_s, u"The choices an export dialog takes when it opens: the files, the section, "
                                 u"the BPM and the settings. Later changes in the main window do not reach a "
                                 u"dialog that is already open; close and reopen it to capture them."_s},
        {u"Channel"_s, u"One separate stream of audio, such as the left or right side of a stereo "
                       u"recording. tamPOD plays and exports mono and stereo audio and can keep, duplicate "
                       u"or average channels on export."_s},
        {u"Checked files"_s, u"Library rows whose checkbox is ticked. Checked files take priority over "
                             u"highlighted rows for export, and their count appears below the library."_s},
        {u"Clipping drive"_s, u"A boost applied before the signal is cut off at full scale, which adds "
                              u"distortion. tamPOD offers Off or +1 to +12 dB of drive, with hard clipping "
                              u"and no normalisation afterwards."_s},
        {u"Codec"_s, u"The method that encodes and decodes audio data, such as PCM, FLAC or AAC. The "
                     u"tooltip of a library row shows the source’s format."_s},
        {u"Container"_s, u"The file format that wraps encoded audio and its metadata, such as WAV, AIFF or "
                         u"M4A. One container can hold different codecs, so tamPOD looks at the encoding "
                         u"inside, not only at the extension."_s},
        {u"Crossfade"_s, u"A gradual blend from one sound into another. tamPOD never crossfades the joins "
                         u"of a section loop, in playback or in export. The Vinyl and Hum recordings "
                         u"crossfade only where they wrap around to their own beginning."_s},
        {u"dB"_s, u"Decibels, a logarithmic measure of level and gain. Each 6 dB roughly doubles or halves "
                  u"the amplitude. tamPOD uses decibels for the clipping drive and the peak lights."_s},
        {u"Decoder"_s, u"The software that turns an encoded file back into samples. tamPOD decodes through "
                       u"FFmpeg and uses its own readers for SD2 metadata; REX loops need the vendor’s "
                       u"decoder library."_s},
        {u"Dither"_s, u"Low-level noise added when reducing bit depth, so that the error sounds smooth "
                      u"rather than gritty. tamPOD adds no dither, neither in the lo-fi treatment nor when "
                      u"it converts to a lower bit depth."_s},
        {u"Encoder"_s, u"The software that turns samples into an encoded file. tamPOD writes WAV and AIFF "
                       u"through libsndfile, FLAC through libFLAC and AAC through FFmpeg."_s},
        {u"Export"_s, u"Saving a new copy of a recording with the settings you choose. tamPOD never changes "
                      u"the original or replaces an existing file, and the new file is not added to the "
                      u"library."_s},
        {u"Export defaults"_s, u"The settings that every new export starts from. Change them in Settings "
                               u"and click Apply Settings; exports that are already open keep what they "
                               u"captured."_s},
        {u"FLAC"_s, u"Free Lossless Audio Codec, a compressed format that restores the exact samples. "
                    u"tamPOD opens FLAC files and exports them at 16 or 24 bits with automatic "
                    u"compression."_s},
        {u"Frame"_s, u"One sample of every channel at one instant; a stereo frame holds two samples. Loop "
                     u"boundaries and output lengths are counted in decoded frames, and the seconds tamPOD "
                     u"displays are rounded from them."_s},
        {u"Gain"_s, u"A change in level, usually given in decibels. The listening volume changes only what "
                    u"you hear; the clipping drive and the Vinyl and Hum levels change the export."_s},
        {u"Get"_s, u"The button in the BPM column that estimates the tempo of a file without a BPM value. "
                   u"A progress bar replaces it while the analysis runs, and × cancels it."_s},
        {u"Headroom"_s, u"The space between a signal’s peaks and full scale. When Vinyl texture or Hum is "
                        u"mixed in at a higher level, tamPOD lowers the song so that the mix keeps its "
                        u"headroom."_s},
        {u"Hum"_s, u"A steady low tone, like the hum of mains power in old equipment. tamPOD can mix a Hum "
                   u"recording into an export at a chosen level, and Preview Hum plays it alone."_s},
        {u"Integer PCM"_s, u"PCM in which each sample is a whole number rather than a floating-point value. "
                           u"tamPOD writes WAV, AIFF, FLAC and SD2 with integer samples; 8-bit WAV samples "
                           u"are unsigned."_s},
        {u"kHz"_s, u"Kilohertz, thousands of cycles per second. tamPOD shows sample rates in kHz, so 44.1 "
                   u"kHz means 44,100 samples per second in each channel."_s},
        {u"Library"_s, u"The list of recordings in the main window. Adding files never copies or changes "
                       u"them, and the list lasts only until you quit tamPOD."_s},
        {u"Linked pair"_s, u"Two mono SD2 files, left (.L) and right (.R), joined into one stereo item. They "
                           u"share playback, seeking, zoom and loop bounds and export as one item. The link "
                           u"lasts only until you quit."_s},
        {u"Listening volume"_s, u"The playback level set with the volume slider at the upper right of the "
                                u"main window. It affects only what you hear and the peak lights, never "
                                u"exported audio."_s},
        {u"Lo-fi treatment"_s, u"An effect that reduces the amplitude resolution to 8 or 12 bits for a "
                               u"gritty sound. tamPOD applies it after clipping and without dither; the "
                               u"file keeps the bit depth of its format."_s},
        {u"Loop boundary"_s, u"The start or end marker of a section loop, shown as a green handle on the "
                             u"waveform. Drag it, or focus it and press Left or Right, to move it; "
                             u"boundaries snap to frames."_s},
        {u"Lossless"_s, u"Storing audio so that decoding gives back the exact samples. WAV, AIFF, FLAC and "
                        u"SD2 output are lossless at the chosen depth and rate."_s},
        {u"Lossy"_s, u"Storing audio in less space by discarding detail the ear is unlikely to notice. AAC "
                     u"and MP3 are lossy; decoding them does not restore the original samples."_s},
        {u"M4A"_s, u"The MPEG-4 audio file, a container for AAC. tamPOD’s M4A—AAC format saves AAC-LC in an "
                   u"M4A file."_s},
        {u"Metadata"_s, u"Information stored with the audio, such as tempo tags, artwork or markers. tamPOD "
                        u"keeps a known BPM in exports but copies no artwork, markers or regions."_s},
        {u"Mono"_s, u"Audio with a single channel. tamPOD can export mono by averaging the left and right "
                    u"channels of a stereo source."_s},
        {u"MP3"_s, u"A widespread lossy format. tamPOD opens and plays MP3 files through FFmpeg but cannot "
                   u"save them."_s},
        {u"New Pattern"_s, u"The button that picks new starting positions within the Vinyl and Hum "
                           u"recordings. The preview and the export use the same captured pattern."_s},
        {u"Normalization"_s, u"Adjusting a recording’s level to a target, such as a peak or a loudness "
                             u"value. tamPOD never normalises or loudness-matches audio automatically. Only "
                             u"the Vinyl recordings are peak-normalised, before their levels apply."_s},
        {u"Original preview"_s, u"The export dialog’s audition of the captured file or section, unchanged, "
                                u"in a loop. Compare it with the Processed preview to hear what the settings "
                                u"do."_s},
        {u"PCM"_s, u"Pulse-code modulation, the plain way of storing audio as a series of samples. WAV, AIFF "
                   u"and SD2 files hold PCM, and tamPOD decodes every format to PCM for playback."_s},
        {u"Playhead"_s, u"The current playback position, shown as the red line on the waveform. It moves "
                        u"together with the position slider."_s},
        {u"Processed preview"_s, u"The export dialog’s audition of the complete prepared output, with every "
                                 u"effect and repetition, in a loop. It stops when you change a setting."_s},
        {u"Recovery copy"_s, u"A listening copy that tamPOD prepares from an SD2 file’s bytes in the format "
                             u"you choose. The original file is never changed, so a wrong guess only costs "
                             u"a new copy."_s},
        {u"Repeat count"_s, u"How many plays of a section are joined into one exported file. A count of 1 "
                            u"plays it once; any count from 1 to 999 is possible."_s},
        {u"Resampling"_s, u"Converting audio to another sample rate. tamPOD resamples on export when you "
                          u"choose a different rate, without changing speed or pitch."_s},
        {u"Resource fork"_s, u"A second stream of data attached to a file, where older systems kept SD2 "
                             u"format metadata. tamPOD reads it from an extended attribute, an HFS+ volume "
                             u"or an AppleDouble companion, up to 4 MB, and writes it to an extended "
                             u"attribute for SD2 output."_s},
        {u"Restore File Access"_s, u"The File menu command that reconnects a library row to its original "
                                   u"file after tamPOD lost access to it. Select the original at its current "
                                   u"location; copies and replacements are refused."_s},
        {u"REX / REX2 / RCY"_s, u"Loop formats that store a beat as slices, in .rex, .rx2 and .rcy files. "
                                u"With the vendor’s REX decoder library installed as lib/tampod/librex.so "
                                u"in tamPOD’s installation folder, tamPOD renders one complete loop at the "
                                u"original tempo for playback and export; without it, REX files are "
                                u"refused."_s},
        {u"Sample"_s, u"One measured value of the sound wave in one channel. A rate of 44.1 kHz means 44,100 "
                      u"samples per second in each channel."_s},
        {u"Sample rate (SR)"_s, u"How many samples per second the audio holds. The SR column shows the "
                                u"source’s rate in kHz; export offers rates from 8 to 192 kHz, depending on "
                                u"the format."_s},
        {u"SD2"_s, u"Sound Designer II, a legacy audio format whose format details are often kept in a "
                   u"resource fork. tamPOD opens SD2 files, recovers them when metadata is missing and "
                   u"exports SD2 at 16 or 24 bits."_s},
        {u"Section loop"_s, u"A chosen part of a recording that plays over and over. Choose it with the "
                            u"sidebar loop button and the green markers; an export can join repeated plays "
                            u"into one file."_s},
        {u"Selected files"_s, u"Library rows highlighted with a click, Ctrl-click, Shift-click or Ctrl+A. "
                              u"When no box is checked, Export Selected exports them."_s},
        {u"Source file"_s, u"The original recording that a library row refers to. tamPOD reads it but never "
                           u"changes, moves or replaces it."_s},
        {u"Split-channel export"_s, u"Saving a linked SD2 pair as two separate mono files, with .L and .R "
                                    u"added to the base name. Both files come from one processed stereo "
                                    u"mix."_s},
        {u"Stereo"_s, u"Audio with two channels, left and right. tamPOD can export a mono source as stereo "
                      u"by copying the channel to both sides."_s},
        {u"Tagged BPM"_s, u"A tempo value read from a file’s metadata. tamPOD shows it without analysing the "
                          u"file again and keeps it in exports."_s},
        {u"Tempo"_s, u"The speed of the music’s pulse, measured in BPM. tamPOD reports and keeps the tempo "
                     u"but never changes the playback speed."_s},
        {u"Temporary audio"_s, u"Working audio files that tamPOD keeps in its cache folder while it prepares "
                               u"sections, recoveries and exports. They are removed when no longer needed, "
                               u"and each start cleans up what a crash left behind."_s},
        {u"Transport"_s, u"The set of playback controls, named after the controls of a tape machine. In "
                         u"tamPOD it is the bar below the waveform with Play, Stop, Rewind, Fast Forward, "
                         u"Return to Start, Jump to End and the repeat button, together with the position "
                         u"slider and the time counter."_s},
        {u"Vinyl texture"_s, u"Crackle and surface noise from one of three vinyl recordings, mixed into an "
                             u"export. Choose Vinyl 1, 2 or 3 and a level; the noise continues across "
                             u"repetitions."_s},
        {u"WAV"_s, u"The common uncompressed audio format. tamPOD exports WAV as 8-, 16- or 24-bit integer "
                   u"PCM, with unsigned samples at 8 bits. It writes no broadcast (BWF) metadata and no "
                   u"RF64."_s},
        {u"Waveform"_s, u"A picture of the audio’s level over time. tamPOD shows the selected file’s "
                        u"waveform above the transport, with the playhead and, in section mode, the loop "
                        u"markers."_s},
        {u"Whole-file repeat"_s, u"Playing the entire recording again each time it ends. Turn it on with "
                                 u"the repeat button; selecting another file turns it off."_s},
        {u"Zoom"_s, u"Showing part of the waveform in more detail. In section mode the sidebar slider zooms "
                    u"up to 64× and centres the view on the section. Zooming changes neither the playback "
                    u"position nor the section’s bounds."_s},
    };
}

} // namespace

const QList<Entry> &entries()
{
    static const QList<Entry> sorted = [] {
        QList<Entry> list = stored();
        // By code unit, not collation: a space sorts before letters.
        std::stable_sort(list.begin(), list.end(), [](const Entry &a, const Entry &b) {
            return QStringView(a.term.toLower()).compare(QStringView(b.term.toLower()), Qt::CaseSensitive) < 0;
        });
        return list;
    }();
    return sorted;
}

const QString &intro()
{
    static const QString text = u"Audio terms and tamPOD controls, in alphabetical order. Use Search the "
                                u"manual to find a term. Definitions describe this version of tamPOD; the "
                                u"other articles explain the complete workflows."_s;
    return text;
}

const QString &overview()
{
    static const QString text = [] {
        QStringList blocks{intro()};
        for (const Entry &entry : entries())
            blocks << entry.term + u'\n' + entry.definition;
        return blocks.join(u"\n\n"_s);
    }();
    return text;
}

} // namespace tampod::GlossaryHelp
