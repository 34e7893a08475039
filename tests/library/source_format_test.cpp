#include "library/audio_source_format.h"
#include "library/bpm_value.h"
#include "library/export_format.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QProcess>

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
    format.isSignedInteger = !isFloat;
    format.channels = 2;
    format.alacSourceBitDepth = alacDepth;
    return AudioSourceFormat::fromFileFormat(format);
}

constexpr auto lpcm = AudioCodecKind::lpcm;

// Runs the body with the given default locale and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale &locale) : previous_(QLocale()) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

} // namespace

TEST(ExportFormat, RawValuesRoundTripAndTitlesAreUserTexts)
{
    for (ExportFormat format : ExportFormats::allCases())
        EXPECT_EQ(ExportFormats::fromRawValue(ExportFormats::rawValue(format)), format);
    // Raw values are case-sensitive names; anything else names no format.
    for (const char *other : {"WAV", "m4a", ""})
        EXPECT_EQ(ExportFormats::fromRawValue(other), std::nullopt) << other;
    EXPECT_EQ(ExportFormats::rawValue(ExportFormat::m4aAAC), "m4aAAC");
    EXPECT_EQ(ExportFormats::fileExtension(ExportFormat::bwf), "wav");
    EXPECT_EQ(ExportFormats::fileExtension(ExportFormat::m4aALAC), "m4a");
    EXPECT_EQ(ExportFormats::title(ExportFormat::m4aAAC), QString::fromUtf8("M4A \u2014 AAC"));
    EXPECT_EQ(ExportFormats::title(ExportFormat::m4aALAC), QString::fromUtf8("M4A \u2014 Apple Lossless"));
    EXPECT_EQ(ExportFormats::title(ExportFormat::oggVorbis), QString::fromUtf8("OGG \u2014 Vorbis"));
}

TEST(AudioSourceFormat, ResolutionFromStreamDescription)
{
    // ALAC's bits come from its source depth, and only the depths it can carry count.
    EXPECT_EQ(described(AudioCodecKind::alac, 44100, 0, false, 20).resolution, Resolution::integer(20));
    EXPECT_EQ(described(AudioCodecKind::alac, 44100, 0, false, 12).resolution, Resolution::unknown());
    EXPECT_EQ(described(AudioCodecKind::flac, 44100, 0).resolution, Resolution::unknown());
    EXPECT_EQ(described(AudioCodecKind::mpegLayer3, 48000, 16).resolution, Resolution::notApplicable());
    EXPECT_EQ(described(AudioCodecKind::vorbis, 48000, 16).resolution, Resolution::unknown());
    EXPECT_EQ(described(lpcm, 44100, -8).resolution, Resolution::unknown());
    for (double rate : {0.0, -44100.0, std::nan("")})
        EXPECT_EQ(described(lpcm, rate, 16).sampleRate, std::nullopt) << rate;
}

TEST(AudioSourceFormat, ReadFromFiles)
{
    test::TempDir dir;
    auto make = [&](const QString &name, const QStringList &args) {
        const QString path = dir.file(name);
        QProcess tool;
        tool.start("ffmpeg", QStringList{"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.2"} + args + QStringList{path});
        EXPECT_TRUE(tool.waitForFinished(60'000) && tool.exitCode() == 0) << tool.readAllStandardError().constData();
        return QUrl::fromLocalFile(path);
    };
    LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(AudioSourceFormat::read(make("a.wav", {"-ar", "44100", "-c:a", "pcm_s16le"})).summary(), "44.1 kHz, 16-bit");
    EXPECT_EQ(AudioSourceFormat::read(make("b.wav", {"-ar", "96000", "-c:a", "pcm_f32le"})).summary(), "96 kHz, 32-bit float");
    EXPECT_EQ(AudioSourceFormat::read(make("c.flac", {"-ar", "48000", "-c:a", "flac", "-sample_fmt", "s32"})).summary(),
              "48 kHz, 24-bit");
    EXPECT_EQ(AudioSourceFormat::read(make("d.m4a", {"-ar", "22050", "-c:a", "aac", "-b:a", "64k"})).summary(),
              "22.05 kHz, N/A; this encoding has no fixed PCM bit depth");
    // A FLAC file is described by its STREAMINFO alone, even when its frames are gone.
    test::writeFile(dir.file("head.flac"), test::readAll(dir.file("c.flac")).left(42));
    EXPECT_EQ(AudioSourceFormat::read(QUrl::fromLocalFile(dir.file("head.flac"))).summary(), "48 kHz, 24-bit");

    test::writeFile(dir.file("notes.wav"), "this is text, not audio");
    for (const QUrl &unreadable : {QUrl::fromLocalFile(dir.file("notes.wav")), QUrl::fromLocalFile(dir.file("absent.wav")),
                                   QUrl("https://example.invalid/a.wav")})
        EXPECT_EQ(AudioSourceFormat::read(unreadable), AudioSourceFormat()) << unreadable.toString().toStdString();
}

TEST(AudioSourceFormat, TextsFollowTheUserLocale)
{
    AudioSourceFormat assumed24;
    assumed24.sampleRate = 48000;
    assumed24.resolution = Resolution::integer(24);
    assumed24.assumed = true;
    {
        LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
        EXPECT_EQ(described(lpcm, 44100, 16).summary(), "44.1 kHz, 16-bit");
        EXPECT_EQ(described(lpcm, 48000, 16).sampleRateText(), "48 kHz");
        EXPECT_EQ(described(lpcm, 11025.0001, 16).sampleRateText(), "11.025 kHz");
        EXPECT_EQ(described(AudioCodecKind::aac, 44100, 0).summary(), "44.1 kHz, N/A; this encoding has no fixed PCM bit depth");
        EXPECT_EQ(described(lpcm, 96000, 32, true).summary(), "96 kHz, 32-bit float");
        EXPECT_EQ(assumed24.summary(), "48 kHz*, 24-bit*; * assumed SD2 recovery format");
        EXPECT_EQ(described(lpcm, 0, 16).summary(), QString::fromUtf8("\u2014, 16-bit"));
        EXPECT_EQ(AudioSourceFormat().summary(), QString::fromUtf8("\u2014, \u2014"));
    }
    {
        LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_EQ(described(lpcm, 44100, 16).summary(), "44,1 kHz, 16-bit");
        EXPECT_EQ(described(lpcm, 22050, 16).sampleRateText(), "22,05 kHz");
    }
}

TEST(BPMValue, WholeTextRoundsHalfDownWithoutLocale)
{
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(BPMValue::wholeText(119.5), "119");
    EXPECT_EQ(BPMValue::wholeText(119.500001), "120");
    EXPECT_EQ(BPMValue::wholeText(1234567.6), "1234568") << "no group separator";
}

TEST(BPMValue, ExportSummary)
{
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    const QString unknown = QString::fromUtf8("BPM unknown \u2014 no tempo tag");
    EXPECT_EQ(BPMValue::exportSummary(std::nullopt, ExportFormat::sd2), unknown);
    for (double bpm : {0.0, -120.0, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_EQ(BPMValue::exportSummary(bpm, ExportFormat::wav), unknown) << bpm;

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
