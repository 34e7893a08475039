#include "help/getting_started_help.h"

using namespace Qt::StringLiterals;

namespace tampod::GettingStartedHelp {

const QList<HelpSection> &welcome()
{
    static const QList<HelpSection> sections{
        {
            .id = u"quick-start"_s,
            .title = u"Start here"_s,
            .paragraphs = {u"tamPOD plays audio recordings, repeats whole songs or chosen sections, "
                           u"and saves converted copies in the format you choose. Pick an article in the "
                           u"list on the left, or type in the search field to find every article that "
                           u"mentions a word. Underlined terms open their glossary entry, and Back returns "
                           u"you to the place you left."_s},
            .steps = {u"Choose File > “Open Audio…” (Ctrl+O), or drag files or folders into the main "
                      u"window."_s,
                      u"Select a row in the library and press Play. Stop pauses playback."_s,
                      u"Click “EXPORT”, choose the settings for the new copy, then click “Choose "
                      u"Destination…”."_s},
            .note = u"tamPOD never changes your original files. The listening volume never changes "
                    u"exported audio. The library and any loop selections last only until you quit."_s,
            .terms = {u"Library"_s, u"Export"_s},
        },
        {
            .id = u"next"_s,
            .title = u"Try another task"_s,
            .bullets = {u"To repeat an excerpt, click the loop button in the left sidebar and drag the "
                        u"green markers around the part you want."_s,
                        u"To convert several recordings at once, tick their checkboxes and click “Export "
                        u"Checked”."_s,
                        u"To recover legacy audio, read the SD2 recovery article."_s},
            .terms = {u"Section loop"_s, u"Batch export"_s, u"SD2"_s},
        },
    };
    return sections;
}

const QList<HelpSection> &opening()
{
    static const QList<HelpSection> sections{
        {
            .id = u"open"_s,
            .title = u"Add audio"_s,
            .steps = {u"Choose File > “Open Audio…” (Ctrl+O), or drop files and folders onto the main "
                      u"window."_s,
                      u"Wait until the new rows are prepared, select one and press Play. Files never "
                      u"start playing when they are added."_s},
            .bullets = {u"Opening audio files with tamPOD from your file manager adds them through the "
                        u"desktop entry and selects the first new file."_s,
                        u"A folder adds the audio files of its subfolders too, in name order. Hidden "
                        u"files and files already in the library are skipped, and tamPOD reads at most "
                        u"10,000 files from one drop."_s,
                        u"Supported files are added even when others fail, and a warning explains why "
                        u"each rejected file could not be opened."_s},
            .terms = {u"Decoder"_s, u"Library"_s},
        },
        {
            .id = u"legacy"_s,
            .title = u"Opening older recordings"_s,
            .paragraphs = {u"For SD2 recordings, open the folder that contains them, so that tamPOD can "
                           u"read the companion metadata stored beside them or in their extended "
                           u"attributes. Legacy .L and .R files and files without an extension are "
                           u"recognised without renaming."_s,
                           u"Eligible SD2 files without format metadata get a listening copy that assumes "
                           u"16-bit audio at 44.1 kHz. REX files are prepared as one complete loop at their "
                           u"original tempo."_s},
            .terms = {u"AppleDouble"_s, u"Assumed format"_s, u"REX / REX2 / RCY"_s},
        },
    };
    return sections;
}

const QList<HelpSection> &playback()
{
    static const QList<HelpSection> sections{
        {
            .id = u"listen"_s,
            .title = u"Play and pause"_s,
            .steps = {u"Click a row in the library, then click Play, or double-click the row."_s,
                      u"Click Stop to pause; click Play to continue from the same place."_s,
                      u"When the library or the window background has the focus, press Space to "
                      u"start or pause playback."_s},
            .bullets = {u"Selecting another row stops the previous file and prepares the new one at its "
                        u"start."_s,
                        u"At the end of a file, playback moves on to the next row and stops after the "
                        u"last one."_s,
                        u"Double-clicking the row that is already playing or paused resumes it; it never "
                        u"starts the file again from the beginning."_s},
            .terms = {u"Transport"_s},
        },
        {
            .id = u"position"_s,
            .title = u"Position and level"_s,
            .bullets = {u"Return to Start goes to the beginning; Jump to End goes to the end and pauses."_s,
                        u"Rewind and Fast Forward move five seconds back or ahead."_s,
                        u"The position slider and the red line on the waveform always show the same "
                        u"place. The time counter is green while playing and red while paused or idle."_s,
                        u"The volume slider sets the listening level and the peak lights only."_s},
            .note = u"A focused button or text field keeps its own keys. Tab moves the focus between "
                    u"controls."_s,
            .terms = {u"Listening volume"_s, u"Playhead"_s},
        },
    };
    return sections;
}

const QList<HelpSection> &removing()
{
    static const QList<HelpSection> sections{
        {
            .id = u"remove"_s,
            .title = u"Remove library entries"_s,
            .bullets = {u"Press Delete or Backspace to remove the selected rows from the library."_s,
                        u"The trash-can button below the sidebar loop button clears the whole library "
                        u"and cancels imports that are still running."_s},
            .note = u"The original files stay on disk. If the playing file is removed, playback stops, "
                    u"repeat and the waveform clear, and the next available row is selected without "
                    u"playing."_s,
            .terms = {u"Library"_s, u"Source file"_s},
        },
    };
    return sections;
}

const QList<HelpSection> &repeating()
{
    static const QList<HelpSection> sections{
        {
            .id = u"repeat"_s,
            .title = u"Repeat the entire recording"_s,
            .steps = {u"Click the repeat button between Play and Fast Forward."_s,
                      u"Press Play. The green button and the symbol in the row show that the song "
                      u"repeats."_s,
                      u"Click the repeat button again to stop after the current pass. Stop pauses "
                      u"without turning repeat off."_s},
            .note = u"Selecting another file turns repeat off. To repeat only part of a song, use the "
                    u"sidebar loop button instead; switching between the two modes pauses playback."_s,
            .terms = {u"Whole-file repeat"_s, u"Section loop"_s},
        },
    };
    return sections;
}

const QList<HelpSection> &windows()
{
    static const QList<HelpSection> sections{
        {
            .id = u"windows"_s,
            .title = u"Windows and quitting"_s,
            .bullets = {u"Under X11, tamPOD’s windows reopen where you last moved them, kept on the "
                        u"connected screens. In a native Wayland session the desktop places the windows, and "
                        u"no position is remembered. The main window has a fixed size."_s,
                        u"The main window’s close button asks whether to quit; Cancel keeps playing. "
                        u"Ctrl+Q quits at once."_s,
                        u"The library is not restored the next time tamPOD starts."_s},
        },
        {
            .id = u"privacy"_s,
            .title = u"Local audio and temporary files"_s,
            .paragraphs = {u"tamPOD processes your audio on this computer and never uploads it. The About "
                           u"window shows the version you are running."_s,
                           u"Each time tamPOD starts, it removes temporary audio that an earlier session "
                           u"left behind, once it has verified that the files are its own. It leaves "
                           u"running sessions, originals, completed exports and any location it cannot "
                           u"verify alone."_s},
            .terms = {u"Temporary audio"_s, u"Split-channel export"_s},
        },
    };
    return sections;
}

} // namespace tampod::GettingStartedHelp
