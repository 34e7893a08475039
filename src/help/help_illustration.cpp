#include "help/help_illustration.h"

#include "core/number_text.h"

using namespace Qt::StringLiterals;

namespace tampod {

namespace {

// Seconds of a frame count with three decimals, rounded half up, whatever the locale.
QString seconds(std::int64_t frames)
{
    const std::int64_t rate = HelpFigureSection::sampleRate;
    const std::int64_t ms = (frames * 1000 + rate / 2) / rate;
    return NumberText::wholeQ(ms / 1000) + u'.' + NumberText::wholeQ(ms % 1000).rightJustified(3, u'0');
}

QString selectionCaption()
{
    using S = HelpFigureSection;
    return u"The green region marks the section; its label gives the start and end, from "_s
         + seconds(S::startFrame) + u" to "_s + seconds(S::startFrame + S::lengthFrames)
         + u" seconds. The focused marker has a white outline, and the sidebar slider sets the zoom."_s;
}

QString exportingCaption()
{
    using S = HelpFigureSection;
    return NumberText::wholeQ(S::plays) + u" plays of a "_s + seconds(S::lengthFrames)
         + u"-second section give one "_s + seconds(S::lengthFrames * S::plays)
         + u"-second file. Displayed times are rounded; lengths are counted in frames."_s;
}

} // namespace

const QList<HelpIllustration> &HelpIllustration::all()
{
    static const QList<HelpIllustration> figures{
        {u"Welcome"_s, u"quick-start"_s, u"Manual_main_gui"_s, u"The main window"_s,
         u"The selected row drives the waveform and the transport. SR and Bits describe the source, the "
         u"slider at the upper right sets the listening volume, and EXPORT saves a new copy."_s,
         u"Screenshot of the tamPOD main window with five recordings in the library and one selected."_s},
        {u"Repeating a song"_s, u"repeat"_s, u"Manual_loop_song"_s, u"Repeating the whole recording"_s,
         u"The green repeat button in the transport and the symbol in the row show that the whole song "
         u"repeats."_s,
         u"Screenshot of the transport with the repeat button lit green and the repeat symbol in the "
         u"playing row."_s},
        {u"Section looping"_s, u"choose"_s, u"Manual_loop_selection"_s, u"Choosing a section"_s,
         selectionCaption(),
         u"Screenshot of the waveform in section mode with a green region between two markers."_s},
        {u"Section looping"_s, u"save"_s, u"Manual_loop_exporting"_s, u"Repeating a section into one file"_s,
         exportingCaption(),
         u"Screenshot of the export dialog with Selected loop and a repeat count chosen."_s},
        {u"SD2 recovery"_s, u"link"_s, u"Manual_linked_sd2"_s, u"Linked left and right SD2 channels"_s,
         u"The chain symbol marks the linked pair, the left and right waveforms are stacked, asterisks "
         u"mark assumed values, and Export Linked saves the pair."_s,
         u"Screenshot of a linked SD2 pair with stacked L and R waveforms."_s},
        {u"SD2 recovery"_s, u"pair-output"_s, u"Manual_sd2pair_export_options"_s,
         u"Choosing a linked pair's output"_s,
         u"A linked pair is saved as one stereo file or as separate .L and .R files. WAV, 48 kHz and "
         u"24-bit describe the saved copy."_s,
         u"Screenshot of the pair output choices in the export dialog."_s},
        {u"Batch export"_s, u"checked"_s, u"Manual_export_checked"_s, u"Exporting checked files"_s,
         u"Two rows are checked, and the footer reads “2 checked for export”."_s,
         u"Screenshot of the library with two ticked checkboxes."_s},
        {u"Batch export"_s, u"selected"_s, u"Manual_export_selected"_s, u"Exporting highlighted files"_s,
         u"Three rows are highlighted, and the footer reads “3 selected for export”."_s,
         u"Screenshot of the library with three highlighted rows."_s},
        {u"Settings and export"_s, u"defaults"_s, u"Manual_tamPOD_settings"_s, u"Saving export defaults"_s,
         u"The Settings window with Apply Settings. The values shown are examples, not requirements."_s,
         u"Screenshot of the tamPOD Settings window."_s},
        {u"Settings and export"_s, u"export"_s, u"Manual_export_options"_s,
         u"Choosing settings for this export"_s,
         u"The Export Audio dialog for one source file."_s,
         u"Screenshot of the Export Audio dialog with its format and effect settings."_s},
        {u"Settings and export"_s, u"channels"_s, u"Manual_format_options"_s,
         u"Channel layout and sample encoding"_s,
         u"Keep source layout and Integer PCM chosen for the output."_s,
         u"Screenshot of the channel layout and sample encoding choices."_s},
        {u"Settings and export"_s, u"vinyl"_s, u"Manual_vinyl_settings"_s, u"Mixing Vinyl texture and Hum"_s,
         u"Vinyl 1 at 30% and Hum at 15%, each with its own preview button."_s,
         u"Screenshot of the Vinyl and Hum controls."_s},
        {u"Settings and export"_s, u"audition"_s, u"Manual_audition_options"_s,
         u"Comparing Original and Processed"_s,
         u"The two audition buttons; both loop until stopped."_s,
         u"Screenshot of the Original and Processed preview buttons."_s},
    };
    return figures;
}

QList<HelpIllustration> HelpIllustration::figures(const QString &articleTitle)
{
    QList<HelpIllustration> result;
    for (const HelpIllustration &figure : all()) {
        if (figure.articleTitle == articleTitle)
            result << figure;
    }
    return result;
}

} // namespace tampod
