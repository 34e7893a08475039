// One read of a file the system fails (EIO at the Nth read, from a library loaded into the export
// tool), at every N: the export fails with one of its sentences, or gives the very file a clean
// export gives. Never exit 0 with other audio, never a system error's raw text.
#include "files/journal/audio_export_error.h"

#include "support/run_program.h"
#include "support/tagger_tags.h"
#include "support/test_support.h"

#include <QFile>
#include <QRegularExpression>

#include <atomic>
#include <future>
#include <vector>

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::test;

namespace {

struct Export {
    ProgramRun run;
    QByteArray output; // the destination's bytes, empty where there is none
    long reads = 0;    // of the file the fault was aimed at
};

// Exports source to a new destination in dir with the Nth read of the file named target failing
// (0: none), as export_file does: FORMAT and BITS as it takes them. Each export has a store and
// files of its own, so several may run at once.
Export exportFailing(const TempDir &dir, const QString &source, const QString &target, long n,
                     const QString &format, const QString &bits)
{
    static std::atomic<int> serial = 0;
    const QString key = QString::number(++serial);
    const QString destination = dir.file(QStringLiteral("out%1.%2").arg(key, format == u"aiff" ? "aif" : format));
    const QString count = dir.file(QStringLiteral("reads%1").arg(key));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAILING_READ_LIBRARY));
    environment.insert(QStringLiteral("FAILING_READ_FILE"), target);
    environment.insert(QStringLiteral("FAILING_READ_AT"), QString::number(n));
    environment.insert(QStringLiteral("FAILING_READ_COUNT"), count);
    // A sanitized tool wants its runtime first among the libraries; the shim comes before it.
    const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       sanitizer + (sanitizer.isEmpty() ? "" : ":") + QStringLiteral("verify_asan_link_order=0"));
    Export result;
    result.run = runProgram(QStringLiteral(EXPORT_FILE_TOOL),
                            {dir.file(QStringLiteral("store") + key), source, destination, format, bits}, environment);
    if (QFile::exists(destination))
        result.output = readAll(destination);
    if (QFile::exists(count))
        result.reads = readAll(count).trimmed().toLong();
    QFile::remove(destination);
    QFile::remove(count);
    return result;
}

// The export's own sentences: its fixed ones, and a failed step of the audio layer; and the
// reader's, where the tool's own first open of the source (for its rate) failed, reading the
// header or the first frames it decodes there.
bool isExportSentence(const QString &text)
{
    if (text == u"Opening the audio file failed: the file could not be read"
        || text == u"Decoding audio failed: the file could not be read")
        return true;
    static const QRegularExpression native(QStringLiteral(
        R"(^Audio conversion failed during [a-z ]+ \(audio error -?\d+\)\. No destination file was created\.$)"));
    for (int kind = 2; kind <= 10; ++kind) {
        if (text == AudioExportError::description(AudioExportError::Case(kind)))
            return true;
    }
    return native.match(text).hasMatch();
}

// Sweeps every read of target the clean export makes, a few exports at a time; returns how many
// failed exports gave a sentence, so a sweep that never fails anything is seen.
int sweep(const TempDir &dir, const QString &source, const QString &target, const QString &format,
          const QString &bits)
{
    const Export clean = exportFailing(dir, source, target, 0, format, bits);
    EXPECT_TRUE(clean.run.succeeded) << clean.run.described(EXPORT_FILE_TOOL, {});
    EXPECT_FALSE(clean.output.isEmpty());
    EXPECT_GT(clean.reads, 0);
    constexpr long together = 4;
    int refused = 0;
    for (long first = 1; first <= clean.reads; first += together) {
        std::vector<std::future<Export>> running;
        for (long n = first; n < first + together && n <= clean.reads; ++n)
            running.push_back(std::async(std::launch::async,
                                         [&, n] { return exportFailing(dir, source, target, n, format, bits); }));
        for (long n = first; n < first + long(running.size()); ++n) {
            const Export failing = running[size_t(n - first)].get();
            const std::string where = source.section('/', -1).toStdString() + " → " + format.toStdString() +
                                      ", read " + std::to_string(n) + " of " + target.section('/', -1).toStdString();
            if (failing.run.succeeded) {
                EXPECT_EQ(failing.output, clean.output) << where;
                continue;
            }
            ++refused;
            const QString said = QString::fromUtf8(failing.run.errors).trimmed();
            EXPECT_TRUE(failing.run.exited) << where << ": " << failing.run.ending;
            EXPECT_TRUE(isExportSentence(said)) << where << ": " << said.toStdString();
            EXPECT_TRUE(failing.output.isEmpty()) << where;
        }
    }
    return refused;
}

// Seconds of stereo noise at 44.1 kHz (48 kHz for Opus) made by the ffmpeg command line, coded
// as options say.
void makeNoise(const QString &path, double seconds, const QStringList &options)
{
    const int rate = path.endsWith(u".opus") ? 48000 : 44100;
    runChecked(QStringLiteral("ffmpeg"),
               QStringList{"-v", "error", "-f", "lavfi", "-i",
                           QStringLiteral("anoisesrc=r=%1:a=0.3:d=%2").arg(rate).arg(seconds), "-ac", "2"} +
                   options + QStringList{path});
}

// The tag taggers put before a FLAC stream: ID3v2.4, with a title.
QByteArray id3v2Tag()
{
    const auto syncsafe = [](uint32_t v) {
        const char bytes[] = {char((v >> 21) & 127), char((v >> 14) & 127), char((v >> 7) & 127), char(v & 127)};
        return QByteArray(bytes, 4);
    };
    const QByteArray text = QByteArray(1, '\x03') + "Take one";
    const QByteArray frame = "TIT2" + syncsafe(uint32_t(text.size())) + QByteArray(2, '\0') + text;
    return QByteArray("ID3\x04\x00\x00", 6) + syncsafe(uint32_t(frame.size())) + frame;
}

} // namespace

// The PCM containers libsndfile reads for us: a failed header read must not shift the frames.
TEST(ExportReadFailure, EveryFailedReadOfAPcmSourceFailsTheExportOrChangesNothing)
{
    TempDir dir;
    for (const auto &[name, coding] :
         {std::pair{"source.rf64", QStringList{"-c:a", "pcm_s16le", "-f", "wav", "-rf64", "always"}},
          std::pair{"source.aif", QStringList{"-c:a", "pcm_s16be", "-f", "aiff"}},
          std::pair{"source.wav", QStringList{"-c:a", "pcm_s16le"}},
          std::pair{"source.aifc", QStringList{"-c:a", "pcm_s16le", "-f", "aiff"}},
          std::pair{"source.caf", QStringList{"-c:a", "pcm_s16le"}},
          std::pair{"source.w64", QStringList{"-c:a", "pcm_s16le"}}}) {
        const QString source = dir.file(QString::fromLatin1(name));
        makeNoise(source, 0.1, coding);
        EXPECT_GT(sweep(dir, source, source, QStringLiteral("wav"), QStringLiteral("16")), 0) << name;
    }
}

// The coded sources FFmpeg and libFLAC read: a read the system fails is never taken for the end
// of the data (the last read of an Ogg file), nor for a header that is not there.
TEST(ExportReadFailure, EveryFailedReadOfACodedSourceFailsTheExportOrChangesNothing)
{
    TempDir dir;
    const QString flac = dir.file(QStringLiteral("source.flac"));
    makeNoise(flac, 0.5, {"-c:a", "flac"});
    writeFile(dir.file(QStringLiteral("id3v2.flac")), id3v2Tag() + readAll(flac));
    writeFile(dir.file(QStringLiteral("ape.flac")), readAll(flac) + apeTag());
    for (const auto &[name, coding] : {std::pair{"source.mp3", QStringList{"-c:a", "libmp3lame", "-b:a", "128k"}},
                                       std::pair{"aac.m4a", QStringList{"-c:a", "aac", "-b:a", "128k"}},
                                       std::pair{"alac.m4a", QStringList{"-c:a", "alac"}},
                                       std::pair{"source.ogg", QStringList{"-c:a", "libvorbis", "-q:a", "10"}},
                                       std::pair{"source.opus", QStringList{"-c:a", "libopus"}}})
        makeNoise(dir.file(QString::fromLatin1(name)), 0.5, coding);
    for (const char *name : {"source.flac", "id3v2.flac", "ape.flac", "source.mp3", "aac.m4a", "alac.m4a",
                             "source.ogg", "source.opus"}) {
        const QString source = dir.file(QString::fromLatin1(name));
        EXPECT_GT(sweep(dir, source, source, QStringLiteral("wav"), QStringLiteral("16")), 0) << name;
    }
}

// An MP3 whose frames were damaged after its Info header was written: a walk of its frames finds
// fewer than the header counts, so a failed read of the header must not send the open there.
TEST(ExportReadFailure, AFailedReadOfAnInfoHeaderIsNoMp3WithoutOne)
{
    TempDir dir;
    const QString source = dir.file(QStringLiteral("damaged.mp3"));
    runChecked(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i", "sine=f=440:r=44100:d=2", "-ac", "2",
                                          "-c:a", "libmp3lame", "-b:a", "128k", source});
    // 4,000 zero bytes from the 21st frame on (every frame of 128 kb/s at 44.1 kHz is 417 or
    // 418 bytes, after ffmpeg's ID3v2 tag).
    QByteArray bytes = readAll(source);
    ASSERT_TRUE(bytes.startsWith("ID3"));
    qsizetype at = 10;
    for (int i = 6; i < 10; ++i)
        at += qsizetype(bytes[i]) << (7 * (9 - i));
    for (int frame = 0; frame < 20; ++frame)
        at += 417 + ((uchar(bytes[at + 2]) >> 1) & 1);
    ASSERT_EQ(uchar(bytes[at]), 0xFF);
    bytes.replace(at, 4000, QByteArray(4000, '\0'));
    writeFile(source, bytes);
    EXPECT_GT(sweep(dir, source, source, QStringLiteral("wav"), QStringLiteral("16")), 0);
}

// A short FLAC export reads its staged file back to check it: a failed read there is the
// export's failure, told in its sentence.
TEST(ExportReadFailure, AFailedReadOfTheStagedFlacIsTheExportsFailure)
{
    TempDir dir;
    const QString source = dir.file(QStringLiteral("source.wav"));
    runChecked(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i", "anoisesrc=r=44100:a=0.3:d=0.2",
                                          "-ac", "2", "-c:a", "pcm_s16le", source});
    EXPECT_GT(sweep(dir, source, QStringLiteral("encoded.flac"), QStringLiteral("flac"), QStringLiteral("16")), 0);
}

// An SD2 export reads its staged data fork back to check it: a failed read there is the export's
// failure too.
TEST(ExportReadFailure, AFailedReadOfTheStagedSd2IsTheExportsFailure)
{
    TempDir dir;
    const QString source = dir.file(QStringLiteral("source.wav"));
    makeNoise(source, 0.2, {"-c:a", "pcm_s16le"});
    EXPECT_GT(sweep(dir, source, QStringLiteral("audio.sd2"), QStringLiteral("sd2"), QStringLiteral("16")), 0);
}
