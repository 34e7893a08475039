// One read of a file the system fails (EIO at the Nth read, from a library loaded into the export
// tool), at every N: the export fails with one of its sentences, or gives the very file a clean
// export gives. Never exit 0 with other audio, never a system error's raw text.
#include "files/journal/audio_export_error.h"

#include "support/run_program.h"
#include "support/test_support.h"

#include <QFile>
#include <QRegularExpression>

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
// (0: none), as export_file does: FORMAT and BITS as it takes them.
Export exportFailing(const TempDir &dir, const QString &source, const QString &target, long n,
                     const QString &format, const QString &bits)
{
    static int serial = 0;
    const QString destination = dir.file(QStringLiteral("out%1.%2").arg(++serial).arg(format == u"aiff" ? "aif" : format));
    const QString count = dir.file(QStringLiteral("reads"));
    QFile::remove(count);
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
                            {dir.file(QStringLiteral("store")), source, destination, format, bits}, environment);
    if (QFile::exists(destination))
        result.output = readAll(destination);
    if (QFile::exists(count))
        result.reads = readAll(count).trimmed().toLong();
    return result;
}

// The export's own sentences: its fixed ones, and a failed step of the audio layer; and the
// reader's, where the tool's own first open of the source (for its rate) failed.
bool isExportSentence(const QString &text)
{
    if (text == u"Opening the audio file failed: the file could not be read")
        return true;
    static const QRegularExpression native(QStringLiteral(
        R"(^Audio conversion failed during [a-z ]+ \(audio error -?\d+\)\. No destination file was created\.$)"));
    for (int kind = 2; kind <= 10; ++kind) {
        if (text == AudioExportError::description(AudioExportError::Case(kind)))
            return true;
    }
    return native.match(text).hasMatch();
}

// Sweeps every read of target the clean export makes; returns how many failed exports gave a
// sentence, so a sweep that never fails anything is seen.
int sweep(const TempDir &dir, const QString &source, const QString &target, const QString &format,
          const QString &bits)
{
    const Export clean = exportFailing(dir, source, target, 0, format, bits);
    EXPECT_TRUE(clean.run.succeeded) << clean.run.described(EXPORT_FILE_TOOL, {});
    EXPECT_FALSE(clean.output.isEmpty());
    EXPECT_GT(clean.reads, 0);
    int refused = 0;
    for (long n = 1; n <= clean.reads; ++n) {
        const Export failing = exportFailing(dir, source, target, n, format, bits);
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
    return refused;
}

} // namespace

// The PCM containers libsndfile reads for us: a failed header read must not shift the frames.
TEST(ExportReadFailure, EveryFailedReadOfAPcmSourceFailsTheExportOrChangesNothing)
{
    TempDir dir;
    for (const auto &[name, coding] :
         {std::pair{"source.rf64", QStringList{"-c:a", "pcm_s16le", "-f", "wav", "-rf64", "always"}},
          std::pair{"source.aif", QStringList{"-c:a", "pcm_s16be", "-f", "aiff"}}}) {
        const QString source = dir.file(QString::fromLatin1(name));
        runChecked(QStringLiteral("ffmpeg"),
                   QStringList{"-v", "error", "-f", "lavfi", "-i", "anoisesrc=r=44100:a=0.3:d=0.1", "-ac", "2"} +
                       coding + QStringList{source});
        EXPECT_GT(sweep(dir, source, source, QStringLiteral("wav"), QStringLiteral("16")), 0) << name;
    }
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
