#include "help/glossary_help.h"
#include "help/help_article.h"
#include "help/help_illustration.h"

#include "bpm/bpm_analysis_service.h"
#include "bpm/bpm_detector_core.h"
#include "export/engine/audio_file_exporter.h"
#include "export/loop_export_options.h"
#include "export/preview/vinyl_preview_renderer.h"
#include "export/export_defaults.h"
#include "import/audio_importer.h"
#include "library/rex_info.h"
#include "library/sd2_metadata.h"
#include "playback/section_range.h"
#include "playback/waveform_viewport.h"
#include "player/player_model.h"
#include "player/sd2_recovery_queue.h"
#include "rex/rex_decoder.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_recovery_service.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tampod {
namespace {

QString grouped(std::int64_t value)
{
    QString digits = QString::number(value);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u',');
    return digits;
}

// Whole units of 2^shift bytes that a "below" limit stays under.
std::int64_t unitsAbove(std::int64_t limit, int shift)
{
    return (limit + (std::int64_t(1) << shift) - 1) >> shift;
}

QString sectionText(const QString &article, const QString &id)
{
    for (const HelpArticle &a : HelpArticle::all()) {
        for (const HelpSection &s : a.sections) {
            if (a.title == article && s.id == id)
                return s.searchText();
        }
    }
    ADD_FAILURE() << "no section " << id.toStdString();
    return {};
}

QString definition(const QString &term)
{
    for (const GlossaryHelp::Entry &e : GlossaryHelp::entries()) {
        if (e.term == term)
            return e.definition;
    }
    ADD_FAILURE() << "no term " << term.toStdString();
    return {};
}

TEST(HelpNumbers, StatedLimitsAgreeWithTheCode)
{
    const QString gb = QString::number(unitsAbove(AudioFileExporter::sizeLimit, 30)) + " GB";
    EXPECT_EQ(unitsAbove(SD2RecoveryService::maximumDataBytes, 30), unitsAbove(AudioFileExporter::sizeLimit, 30));
    const QString repeats = "1 to " + QString::number(LoopExportOptions::maximumRepeats);
    const QString zoom = QString::number(WaveformViewport::maximumMagnification) + "×";
    const QString trialCap = QString::number(std::lround(SD2RecoveryQueue::trialVolumeCap * 100)) + "%";

    const std::vector<std::pair<QString, QString>> cases{
        {sectionText("BPM and file support", "limits"), grouped(BPMAnalysisService::maximumFrames) + " decoded frames"},
        {sectionText("Opening files and folders", "open"), grouped(AudioImporter::maximumFiles) + " files"},
        {sectionText("Section looping", "save"), repeats},
        {definition("Repeat count"), repeats},
        {sectionText("SD2 recovery", "limits"), QString::number(SD2MetadataReader::inspectionLimit >> 20) + " MB"},
        {definition("Resource fork"), QString::number(SD2MetadataReader::inspectionLimit >> 20) + " MB"},
        {sectionText("SD2 recovery", "limits"), "below " + gb},
        {sectionText("Section looping", "controls"), "below " + gb},
        {sectionText("Settings and export", "limits"), "below " + gb},
        {sectionText("Section looping", "refine"), zoom},
        {definition("Zoom"), zoom},
        {sectionText("SD2 recovery", "trial-volume"), trialCap},
        {sectionText("REX loops", "limits"), QString::number(REXDecoder::maximumSourceBytes >> 20) + " MiB per REX file"},
    };
    for (const auto &[text, number] : cases)
        EXPECT_TRUE(text.contains(number)) << number.toStdString();

    ASSERT_EQ(VinylPreviewRenderer::frames, std::int64_t(60) * VinylPreviewRenderer::sampleRate);
    EXPECT_TRUE(sectionText("Settings and export", "vinyl").contains("up to one minute"));
}

// The numbers the manual spells out as words, and whole numbers of a unit.
QString word(double value)
{
    const char *const words[] = {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten"};
    const auto whole = std::lround(value);
    EXPECT_TRUE(whole == value && whole >= 0 && whole <= 10) << value;
    return whole >= 0 && whole <= 10 ? QString::fromLatin1(words[whole]) : QString();
}

QString kilo(double value)
{
    return QString::number(value / 1000);
}

TEST(HelpNumbers, NumbersThatLiveInsideTheirModulesAgreeToo)
{
    const QString bpmRange = "between " + QString::number(BPMDetectorCore::minimumBPM) + " and " +
                             QString::number(BPMDetectorCore::maximumBPM) + " BPM";
    const QString shortest = "at least " + word(BPMAnalysisService::minimumSeconds) + " seconds";
    const QString rexRates = "from " + kilo(REXInfo::minimumSampleRate) + " to " + kilo(REXInfo::maximumSampleRate) + " kHz";
    const QString rexTempo = "original tempo from " + kilo(REXInfo::minimumTempo) + " to " + kilo(REXInfo::maximumTempo) + " BPM";
    const QString rendered = QString::number(std::lround(REXInfo::maximumDecodedBytes / (1 << 20))) + " MiB of rendered audio";
    const QString sd2Rates =
        "rates from " + kilo(SD2Metadata::minimumSampleRate) + " to " + kilo(SD2Metadata::maximumSampleRate) + " kHz";
    const auto &offered = ExportDefaults::sampleRates();
    const QString exportRates = "rates from " + kilo(double(offered.front())) + " to " + kilo(double(offered.back())) + " kHz";
    const QString firstSection = QString::number(SectionRange::initialSeconds) + " seconds around the middle";
    const QString step = "move " + word(PlayerModel::skipSeconds) + " seconds back or ahead";

    const std::vector<std::pair<QString, QString>> cases{
        {sectionText("BPM and file support", "limits"), bpmRange},
        {sectionText("BPM and file support", "limits"), shortest},
        {sectionText("REX loops", "limits"), rexRates},
        {sectionText("REX loops", "limits"), rexTempo},
        {sectionText("REX loops", "limits"), rendered},
        {sectionText("SD2 recovery", "open"), sd2Rates},
        {sectionText("Settings and export", "formats"), exportRates},
        {definition("Sample rate (SR)"), exportRates},
        {sectionText("Section looping", "choose"), firstSection},
        {sectionText("Playback and navigation", "position"), step},
    };
    for (const auto &[text, number] : cases)
        EXPECT_TRUE(text.contains(number)) << number.toStdString();
}

TEST(HelpNumbers, SectionFigureTimesComeFromItsFrames)
{
    using S = HelpFigureSection;
    auto seconds = [](std::int64_t frames) { return QString::number(double(frames) / S::sampleRate, 'f', 3); };
    const QString start = seconds(S::startFrame);
    const QString end = seconds(S::startFrame + S::lengthFrames);
    const QString length = seconds(S::lengthFrames);
    const QString total = seconds(S::lengthFrames * S::plays);
    EXPECT_EQ(QStringList({start, end, length, total}), QStringList({"62.990", "64.496", "1.506", "12.046"}));

    const QList<HelpIllustration> figures = HelpIllustration::figures("Section looping");
    ASSERT_EQ(figures.size(), 2);
    EXPECT_TRUE(figures[0].caption.contains(start + " to " + end + " seconds")) << figures[0].caption.toStdString();
    EXPECT_TRUE(figures[1].caption.startsWith(QString::number(S::plays) + " plays of a " + length + "-second section"));
    EXPECT_TRUE(figures[1].caption.contains(total + "-second"));
}

} // namespace
} // namespace tampod
