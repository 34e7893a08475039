#include "library/audio_source_format.h"
#include "library/bpm_value.h"
#include "library/export_format.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

using namespace tampod;
using Resolution = AudioSourceFormat::Resolution;

namespace {

AudioSourceFormat described(const char (&id)[5], double rate, std::uint32_t bits, std::uint32_t flags = 0)
{
    return AudioSourceFormat::fromFileFormat({rate, AudioSourceFormat::fourCC(id), flags, bits});
}

// Runs the body with the given default locale and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale &locale) : previous_(QLocale()) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

} // namespace

TEST(ExportFormat, RawValuesExtensionsAndTitles)
{
    EXPECT_EQ(ExportFormats::allCases().front(), ExportFormat::wav);
    EXPECT_EQ(ExportFormats::allCases().back(), ExportFormat::ac3);
    for (ExportFormat format : ExportFormats::allCases())
        EXPECT_EQ(ExportFormats::fromRawValue(ExportFormats::rawValue(format)), format);
    EXPECT_EQ(ExportFormats::rawValue(ExportFormat::m4aAAC), "m4aAAC");
    EXPECT_EQ(ExportFormats::fileExtension(ExportFormat::bwf), "wav");
    EXPECT_EQ(ExportFormats::fileExtension(ExportFormat::m4aAAC), "m4a");
    EXPECT_EQ(ExportFormats::fileExtension(ExportFormat::m4aALAC), "m4a");
    EXPECT_EQ(ExportFormats::fileExtension(ExportFormat::oggVorbis), "ogg");
    EXPECT_EQ(ExportFormats::title(ExportFormat::m4aAAC), QString::fromUtf8("M4A \u2014 AAC"));
    EXPECT_EQ(ExportFormats::title(ExportFormat::m4aALAC), QString::fromUtf8("M4A \u2014 Apple Lossless"));
    EXPECT_EQ(ExportFormats::title(ExportFormat::oggVorbis), QString::fromUtf8("OGG \u2014 Vorbis"));
    EXPECT_EQ(ExportFormats::title(ExportFormat::bwf), "BWF");
    EXPECT_EQ(ExportFormats::title(ExportFormat::sd2), "SD2");
    // Raw values are case-sensitive names; anything else names no format.
    EXPECT_EQ(ExportFormats::fromRawValue("WAV"), std::nullopt);
    EXPECT_EQ(ExportFormats::fromRawValue("m4a"), std::nullopt);
    EXPECT_EQ(ExportFormats::fromRawValue(""), std::nullopt);
}

TEST(AudioSourceFormat, ResolutionFromStreamDescription)
{
    EXPECT_EQ(described("lpcm", 44100, 16).resolution, Resolution::integer(16));
    EXPECT_EQ(described("lpcm", 44100, 32, AudioSourceFormat::floatFlag).resolution, Resolution::floatingPoint(32));
    EXPECT_EQ(described("lpcm", 44100, 0).resolution, Resolution::unknown());
    EXPECT_EQ(described("flac", 44100, 24).resolution, Resolution::integer(24));
    EXPECT_EQ(described("flac", 44100, 0).resolution, Resolution::unknown());
    EXPECT_EQ(described("alac", 44100, 0, 2).resolution, Resolution::integer(20));
    EXPECT_EQ(described("alac", 44100, 0, 4).resolution, Resolution::integer(32));
    EXPECT_EQ(described("alac", 44100, 0, 0).resolution, Resolution::unknown());
    for (const auto *id : {"aac ", "aach", "aacl", "aace", "aacp", ".mp1", ".mp2", ".mp3", "ac-3", "ec-3", "opus"}) {
        const char code[5] = {id[0], id[1], id[2], id[3], 0};
        EXPECT_EQ(described(code, 48000, 16).resolution, Resolution::notApplicable()) << id;
    }
    EXPECT_EQ(described("vorb", 48000, 16).resolution, Resolution::unknown());
    // Bits that do not fit an int are not a bit depth.
    EXPECT_EQ(described("lpcm", 44100, 0x80000000u).resolution, Resolution::unknown());

    EXPECT_EQ(described("lpcm", 0, 16).sampleRate, std::nullopt);
    EXPECT_EQ(described("lpcm", -44100, 16).sampleRate, std::nullopt);
    EXPECT_EQ(described("lpcm", std::nan(""), 16).sampleRate, std::nullopt);
    EXPECT_FALSE(described("lpcm", 44100, 16).assumed);
}

TEST(AudioSourceFormat, TextsFollowTheUserLocale)
{
    AudioSourceFormat assumed24;
    assumed24.sampleRate = 48000;
    assumed24.resolution = Resolution::integer(24);
    assumed24.assumed = true;
    {
        LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
        EXPECT_EQ(described("lpcm", 44100, 16).summary(), "44.1 kHz, 16-bit");
        EXPECT_EQ(described("lpcm", 48000, 16).sampleRateText(), "48 kHz");
        EXPECT_EQ(described("lpcm", 22050, 16).sampleRateText(), "22.05 kHz");
        EXPECT_EQ(described("lpcm", 11025.0001, 16).sampleRateText(), "11.025 kHz");
        EXPECT_EQ(described("aac ", 44100, 0).summary(), "44.1 kHz, N/A; this encoding has no fixed PCM bit depth");
        EXPECT_EQ(described("lpcm", 96000, 32, AudioSourceFormat::floatFlag).summary(), "96 kHz, 32-bit float");
        EXPECT_EQ(assumed24.summary(), "48 kHz*, 24-bit*; * assumed SD2 recovery format");
        EXPECT_EQ(described("lpcm", 0, 16).summary(), QString::fromUtf8("\u2014, 16-bit"));
        EXPECT_EQ(AudioSourceFormat().summary(), QString::fromUtf8("\u2014, \u2014"));
    }
    {
        LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_EQ(described("lpcm", 44100, 16).summary(), "44,1 kHz, 16-bit");
        EXPECT_EQ(described("lpcm", 48000, 16).sampleRateText(), "48 kHz");
        EXPECT_EQ(described("lpcm", 22050, 16).sampleRateText(), "22,05 kHz");
    }
}

TEST(BPMValue, WholeTextRoundsHalfDownWithoutLocale)
{
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(BPMValue::wholeText(119.5), "119");
    EXPECT_EQ(BPMValue::wholeText(119.500001), "120");
    EXPECT_EQ(BPMValue::wholeText(119.51), "120");
    EXPECT_EQ(BPMValue::wholeText(120), "120");
    EXPECT_EQ(BPMValue::wholeText(1000), "1000");
    EXPECT_EQ(BPMValue::wholeText(1234567.6), "1234568");
}

TEST(BPMValue, ExportSummary)
{
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    const QString unknown = QString::fromUtf8("BPM unknown \u2014 no tempo tag");
    EXPECT_EQ(BPMValue::exportSummary(std::nullopt, ExportFormat::sd2), unknown);
    EXPECT_EQ(BPMValue::exportSummary(0.0, ExportFormat::wav), unknown);
    EXPECT_EQ(BPMValue::exportSummary(-120.0, std::nullopt), unknown);
    EXPECT_EQ(BPMValue::exportSummary(std::numeric_limits<double>::infinity(), ExportFormat::wav), unknown);
    EXPECT_EQ(BPMValue::exportSummary(std::nan(""), ExportFormat::wav), unknown);

    EXPECT_EQ(BPMValue::exportSummary(120.0, ExportFormat::wav),
              "BPM 120.0 retained; standard whole-number tag 120");
    EXPECT_EQ(BPMValue::exportSummary(123.456, std::nullopt),
              "BPM 123.456 retained; standard whole-number tag 123");
    EXPECT_EQ(BPMValue::exportSummary(120.0, ExportFormat::sd2),
              "BPM 120.0 retained in native SD2 tempo and precise tamPOD metadata");
    // The 16.16 beats-per-second word would be 0, or beyond 2,147,483,647.
    const QString outside = " retained in precise tamPOD metadata; outside native SD2 tempo range";
    EXPECT_EQ(BPMValue::exportSummary(0.0002, ExportFormat::sd2), "BPM 0.0002" + outside);
    EXPECT_EQ(BPMValue::exportSummary(2e6, ExportFormat::sd2), "BPM 2000000.0" + outside);
}
