// One import of 2,000 files (WAV, FLAC, MP3 with a LAME header, M4A; three seconds each, every
// fourth with a tempo tag) against the same files read for length and tags by one python3
// process using mutagen, in the same run; and the peak memory of one 10,000-file import, in a
// child process of its own (the same files, each linked five times).
#include "core/number_text.h"
#include "import/audio_importer.h"
#include "tags/export_tempo_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

using namespace tampod;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int filesPerKind = 500;
const char *const kinds[] = {"wav", "flac", "mp3", "m4a"};

void say(const std::string &line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string fixed(double value, int digits)
{
    const double scale = std::pow(10, digits);
    return NumberText::describe(std::round(value * scale) / scale);
}

void run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " + process.readAllStandardError().toStdString());
    if (output)
        *output = process.readAllStandardOutput();
}

// Three seconds of a tone, made by ffmpeg, with or without a tempo tag where the format keeps one.
QString seed(const QString &folder, const char *kind, bool tagged)
{
    const QString path = folder + "/seed-" + (tagged ? "tagged." : "plain.") + kind;
    QStringList arguments{"-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=3", "-ar", "44100", "-ac", "2"};
    const QString kindText = QString::fromLatin1(kind);
    if (kindText == "mp3")
        arguments << "-c:a" << "libmp3lame" << "-b:a" << "128k" << "-id3v2_version" << "3";
    else if (kindText == "m4a")
        arguments << "-c:a" << "aac" << "-b:a" << "128k";
    else if (kindText == "wav")
        arguments << "-c:a" << "pcm_s16le" << "-bitexact";
    if (tagged && kindText != "wav")
        arguments << "-metadata" << (kindText == "m4a" ? "tmpo=123" : "TBPM=123");
    arguments << "-y" << path;
    run("ffmpeg", arguments);
    // WAV tags as our own exports write them: an ID3 chunk and an acid chunk.
    if (tagged && kindText == "wav")
        ExportTempoWriter::write(123.0, path, ExportTempoWriter::Container::wav);
    return path;
}

// mutagen, one process: each file's length and its tempo tag, whatever the container calls it.
const char *mutagenScript = R"(
import sys, time, mutagen
paths = [line.rstrip('\n') for line in open(sys.argv[1])]
start = time.perf_counter()
files = tempos = 0
for path in paths:
    f = mutagen.File(path)
    if f is None or not f.info.length > 0:
        continue
    files += 1
    tags = f.tags or {}
    for key in ('TBPM', 'bpm', 'BPM', 'tmpo'):
        if key in tags:
            tempos += 1
            break
print(files, tempos, time.perf_counter() - start)
)";

double peakMegabytesOfImport(const QString &folder)
{
    const pid_t pid = fork();
    if (pid == 0) {
        execl(QCoreApplication::applicationFilePath().toLocal8Bit().constData(), "bench_import", "--import",
              folder.toLocal8Bit().constData(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the 10,000-file import failed");
    return double(usage.ru_maxrss) / 1024; // KiB on Linux
}

int importFolder(const QString &folder)
{
    const AudioImportResult result = AudioImporter().load({QUrl::fromLocalFile(folder)}, {}, {}).wait();
    say("  child: " + NumberText::whole(result.tracks.size()) + " records, "
        + NumberText::whole(result.rejections.size()) + " refusals");
    return result.rejections.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--import")
        return importFolder(QString::fromLocal8Bit(argv[2]));

    QTemporaryDir dir;
    const QString files = dir.filePath("files"), seeds = dir.filePath("seeds"), linked = dir.filePath("linked");
    QDir().mkpath(files);
    QDir().mkpath(seeds);
    QDir().mkpath(linked);
    QStringList paths;
    for (const char *kind : kinds) {
        const QString plain = seed(seeds, kind, false), tagged = seed(seeds, kind, true);
        for (int i = 0; i < filesPerKind; ++i) {
            const QString path = files + "/take-" + NumberText::wholeQ(i) + "." + kind;
            if (!QFile::copy(i % 4 == 0 ? tagged : plain, path))
                throw std::runtime_error("cannot copy a seed");
            paths << path;
            for (int copy = 0; copy < 5; ++copy) {
                const QString link = linked + "/take-" + NumberText::wholeQ(i) + "-" + NumberText::wholeQ(copy) + "." + kind;
                if (::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) != 0)
                    throw std::runtime_error("cannot link a file");
            }
        }
    }
    const int all = int(paths.size());
    const int tagged = all / 4;

    // Ours: one import of the folder, as the import queue starts it.
    AudioImporter importer;
    const auto start = Clock::now();
    const AudioImportResult result = importer.load({QUrl::fromLocalFile(files)}, {}, {}).wait();
    const double ourSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    int ourTempos = 0;
    for (const AudioTrack &track : result.tracks)
        ourTempos += track.bpm.has_value() && track.duration > 2.9;

    const QString list = dir.filePath("files.txt");
    QFile listFile(list);
    if (!listFile.open(QIODevice::WriteOnly) || listFile.write((paths.join('\n') + '\n').toUtf8()) < 0)
        return 1;
    listFile.close();
    QByteArray output;
    run("/usr/bin/python3", {"-c", QString::fromUtf8(mutagenScript), list}, &output);
    const QList<QByteArray> fields = output.trimmed().split(' ');
    const int theirFiles = fields.value(0).toInt(), theirTempos = fields.value(1).toInt();
    const double theirSeconds = fields.value(2).toDouble();

    const double ours = all / ourSeconds, theirs = theirFiles / theirSeconds;
    say("Import of " + NumberText::whole(all) + " files (WAV, FLAC, MP3, M4A; 3 s each, "
        + NumberText::whole(tagged) + " with a tempo tag)");
    say("  tamPOD importer:  " + fixed(ours, 0) + " files/s, " + NumberText::whole(result.tracks.size())
        + " records, " + NumberText::whole(ourTempos) + " tempos");
    say("  mutagen (python): " + fixed(theirs, 0) + " files/s, " + NumberText::whole(theirFiles) + " files, "
        + NumberText::whole(theirTempos) + " tempos");
    const double peak = peakMegabytesOfImport(linked);
    say("GOAL import: " + fixed(ours / theirs, 2) + " (goal >= 1.0)");
    say("GOAL import-rss: " + fixed(peak, 1) + " (goal <= 120)");
    if (result.tracks.size() != all || !result.rejections.isEmpty() || ourTempos != tagged || theirFiles != all
        || theirTempos != tagged) {
        say("FAILED: a side missed files or tempos, so the rates are not comparable");
        return 1;
    }
    return 0;
}
