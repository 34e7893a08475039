#include "import/audio_source_format_reader.h"

#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QLocale>

using namespace tampod;

namespace {

// The summaries below are English texts.
class EnglishLocale {
public:
    EnglishLocale() { QLocale::setDefault({QLocale::English, QLocale::UnitedStates}); }
    ~EnglishLocale() { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

const QString noDepth = QStringLiteral(", N/A; this encoding has no fixed PCM bit depth");

} // namespace

TEST(AudioSourceFormatReader, ReadFromFiles)
{
    test::TempDir dir;
    EnglishLocale english;
    auto made = [&](const QString &name, const QStringList &args) {
        test::runChecked("ffmpeg", QStringList{"-v", "error", "-f", "lavfi", "-i", "sine=duration=0.2"} + args + QStringList{dir.file(name)});
        return AudioSourceFormatReader::read(QUrl::fromLocalFile(dir.file(name))).summary();
    };
    EXPECT_EQ(made("a.wav", {"-ar", "44100", "-c:a", "pcm_s16le"}), "44.1 kHz, 16-bit");
    EXPECT_EQ(made("b.wav", {"-ar", "96000", "-c:a", "pcm_f32le"}), "96 kHz, 32-bit float");
    EXPECT_EQ(made("c.flac", {"-ar", "48000", "-c:a", "flac", "-sample_fmt", "s32"}), "48 kHz, 24-bit");
    EXPECT_EQ(made("d.m4a", {"-ar", "22050", "-c:a", "aac", "-b:a", "64k"}), "22.05 kHz" + noDepth);
    // A FLAC file is described by its STREAMINFO alone, even when its frames are gone.
    test::writeFile(dir.file("head.flac"), test::readAll(dir.file("c.flac")).left(42));
    EXPECT_EQ(AudioSourceFormatReader::read(QUrl::fromLocalFile(dir.file("head.flac"))).summary(), "48 kHz, 24-bit");

    test::writeFile(dir.file("notes.wav"), "this is text, not audio");
    for (const QUrl &unreadable : {QUrl::fromLocalFile(dir.file("notes.wav")), QUrl::fromLocalFile(dir.file("absent.wav")),
                                   QUrl("https://example.invalid/a.wav")})
        EXPECT_EQ(AudioSourceFormatReader::read(unreadable), AudioSourceFormat()) << unreadable.toString().toStdString();
}
