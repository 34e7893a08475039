#include "library/audio_source_format.h"
#include "library/bpm_value.h"
#include "library/export_format.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

using namespace tampod;
using Resolution = AudioSourceFormat::Resolution;

namespace {

AudioSourceFormat described(AudioCodecKind codec, double rate, int bits, bool isFloat = false, int alacDepth = 0)
{
    AudioFileFormat format;
    format.codec = codec;
    format.sampleRate = rate;
    format.bitsPerChannel = bits;
    format.isFloat = isFloat;
    format.alacSourceBitDepth = alacDepth;
    return AudioSourceFormat::fromFileFormat(format);
}

// The default locale for a scope.
class LocaleScope {
public:
    explicit LocaleScope(QLocale::Language language, QLocale::Country country) { QLocale::setDefault({language, country}); }
    ~LocaleScope() { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

constexpr auto lpcm = AudioCodecKind::lpcm;
const QString noDepth = QStringLiteral(", N/A; this encoding has no fixed PCM bit depth");

} // namespace

TEST(ExportFormat, RawValuesRoundTripAndTitlesAreUserTexts)
{
    for (ExportFormat format : ExportFormats::allCases())
        EXPECT_EQ(ExportFormats::fromRawValue(ExportFormats::rawValue(format)), format);
    // Raw values are case-sensitive names; anything else names no format.
    for (const char *other : {"WAV", "m4a", ""})
        EXPECT_EQ(ExportFormats::fromRawValue(other), std::nullopt) << other;
    for (const auto &[format, text] : {std::pair{ExportFormat::m4aAAC, "m4aAAC m4a M4A \u2014 AAC"}, {ExportFormat::bwf, "bwf wav BWF"},
                                       {ExportFormat::m4aALAC, "m4aALAC m4a M4A \u2014 Apple Lossless"},
                                       {ExportFormat::oggVorbis, "oggVorbis ogg OGG \u2014 Vorbis"}})
        EXPECT_EQ(ExportFormats::rawValue(format) + ' ' + ExportFormats::fileExtension(format) + ' ' + ExportFormats::title(format),
                  QString::fromUtf8(text));
}

TEST(AudioSourceFormat, DescriptionAndItsTextsInTheUsersLocale)
{
    AudioSourceFormat assumed24{48000.0, Resolution::integer(24), true};
    const std::vector<std::tuple<AudioSourceFormat, QString, QString>> cases = {
        {described(lpcm, 44100, 16), "44.1 kHz, 16-bit", "44,1 kHz, 16-bit"},
        {described(lpcm, 11025.0001, 16), "11.025 kHz, 16-bit", "11,025 kHz, 16-bit"},
        {described(lpcm, 96000, 32, true), "96 kHz, 32-bit float", "96 kHz, 32-bit float"},
        {described(lpcm, 44100, -8), "44.1 kHz, \u2014", "44,1 kHz, \u2014"},
        {described(AudioCodecKind::aac, 44100, 0), "44.1 kHz" + noDepth, "44,1 kHz" + noDepth},
        // ALAC's bits come from its source depth, and only the depths it can carry count.
        {described(AudioCodecKind::alac, 48000, 0, false, 20), "48 kHz, 20-bit", "48 kHz, 20-bit"},
        {described(AudioCodecKind::alac, 48000, 0, false, 12), "48 kHz, \u2014", "48 kHz, \u2014"},
        {described(AudioCodecKind::flac, 48000, 0), "48 kHz, \u2014", "48 kHz, \u2014"},
        {described(AudioCodecKind::vorbis, 48000, 16), "48 kHz, \u2014", "48 kHz, \u2014"},
        {described(lpcm, 0, 16), "\u2014, 16-bit", "\u2014, 16-bit"},
        {described(lpcm, std::nan(""), 16), "\u2014, 16-bit", "\u2014, 16-bit"},
        {AudioSourceFormat(), "\u2014, \u2014", "\u2014, \u2014"},
        {assumed24, "48 kHz*, 24-bit*; * assumed SD2 recovery format", "48 kHz*, 24-bit*; * assumed SD2 recovery format"},
    };
    for (const auto &[format, english, german] : cases) {
        {
            LocaleScope scope(QLocale::English, QLocale::UnitedStates);
            EXPECT_EQ(format.summary(), english);
        }
        LocaleScope scope(QLocale::German, QLocale::Germany);
        EXPECT_EQ(format.summary(), german);
    }
}

TEST(BPMValue, ExportSummaryWithoutLocale)
{
    LocaleScope german(QLocale::German, QLocale::Germany);
    const QString unknown = QString::fromUtf8("BPM unknown \u2014 no tempo tag");
    for (double bpm : {0.0, -120.0, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_EQ(BPMValue::exportSummary(bpm, ExportFormat::wav), unknown) << bpm;
    EXPECT_EQ(BPMValue::exportSummary(std::nullopt, ExportFormat::sd2), unknown);
    // The 16.16 beats-per-second word would be 0, or beyond 2,147,483,647.
    const QString outside = " retained in precise tamPOD metadata; outside native SD2 tempo range";
    for (const auto &[bpm, format, text] :
         {std::tuple{120.0, std::optional(ExportFormat::wav), QString("BPM 120.0 retained; standard whole-number tag 120")},
          {123.456, std::nullopt, "BPM 123.456 retained; standard whole-number tag 123"},
          {120.0, ExportFormat::sd2, "BPM 120.0 retained in native SD2 tempo and precise tamPOD metadata"},
          {0.0002, ExportFormat::sd2, "BPM 0.0002" + outside}, {2e6, ExportFormat::sd2, "BPM 2000000.0" + outside}})
        EXPECT_EQ(BPMValue::exportSummary(bpm, format), text) << bpm;
}
