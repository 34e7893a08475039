// One import of 2,000 files (WAV, FLAC, MP3 with a LAME header, M4A; three seconds each, every
// fourth with a tempo tag) by a process of ours against the same files read for length and tags
// by one python3 process using mutagen: whole processes both, timed from outside, in pairs whose
// order alternates, on all cores and then both pinned to one core; the medians of the pairs'
// ratios. And the peak memory of one 10,000-file import, in a process of its own (the same
// files, each linked five times).
#include "../process_race.h"

#include "core/number_text.h"
#include "import/audio_importer.h"
#include "tags/export_tempo_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sched.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

using namespace tampod;
using tampod::bench::fixed;
using tampod::bench::median;
using tampod::bench::say;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int filesPerKind = 500;
constexpr int pairs = 5;
const char *const kinds[] = {"wav", "flac", "mp3", "m4a"};

// Runs program to its end and returns its wall time in seconds; pinned: on one core only.
double run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr, bool pinned = false)
{
    QProcess process;
    if (pinned) {
        process.setChildProcessModifier([] {
            cpu_set_t allowed, one;
            CPU_ZERO(&one);
            if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
                for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
                    if (CPU_ISSET(cpu, &allowed)) {
                        CPU_SET(cpu, &one);
                        break;
                    }
                }
                sched_setaffinity(0, sizeof one, &one);
            }
        });
    }
    const auto start = Clock::now();
    process.start(program, arguments);
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " + process.readAllStandardError().toStdString());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (output)
        *output = process.readAllStandardOutput();
    return seconds;
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
import sys, mutagen
paths = [line.rstrip('\n') for line in open(sys.argv[1])]
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
print(files, tempos)
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

// Ours, one process: one import of the folder, as the import queue starts it. Prints its
// records, the tempos of full-length ones, and its refusals.
int importFolder(const QString &folder)
{
    const AudioImportResult result = AudioImporter().load({QUrl::fromLocalFile(folder)}, {}, {}).wait();
    int tempos = 0;
    for (const AudioTrack &track : result.tracks)
        tempos += track.bpm.has_value() && track.duration > 2.9;
    std::printf("%s %s %s\n", NumberText::whole(result.tracks.size()).c_str(), NumberText::whole(tempos).c_str(),
                NumberText::whole(result.rejections.size()).c_str());
    return result.rejections.isEmpty() ? 0 : 1;
}

struct Counts {
    int files = 0;
    int tempos = 0;
    int refusals = 0;
};

Counts countsOf(const QByteArray &output)
{
    const QList<QByteArray> fields = output.trimmed().split(' ');
    return {fields.value(0).toInt(), fields.value(1).toInt(), fields.value(2).toInt()};
}

// The median of paired runs' ratios (ours ÷ theirs, files/s), the first of each pair alternating.
struct Race {
    double ratio = 0;
    double ours = 0;   // files/s, median
    double theirs = 0; // files/s, median
    Counts ourCounts, theirCounts;
};

Race race(const QString &files, const QString &list, int all, bool pinned)
{
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> ratios, ours, theirs;
    Race result;
    for (int i = 0; i < pairs; ++i) {
        QByteArray ourOutput, theirOutput;
        double ourSeconds = 0, theirSeconds = 0;
        const auto runOurs = [&] { ourSeconds = run(self, {"--import", files}, &ourOutput, pinned); };
        const auto runTheirs = [&] {
            theirSeconds = run("/usr/bin/python3", {"-c", QString::fromUtf8(mutagenScript), list}, &theirOutput, pinned);
        };
        if (i % 2 == 0) {
            runOurs();
            runTheirs();
        } else {
            runTheirs();
            runOurs();
        }
        result.ourCounts = countsOf(ourOutput);
        result.theirCounts = countsOf(theirOutput);
        ours.push_back(all / ourSeconds);
        theirs.push_back(result.theirCounts.files / theirSeconds);
        ratios.push_back(ours.back() / theirs.back());
    }
    result.ratio = median(ratios);
    result.ours = median(ours);
    result.theirs = median(theirs);
    return result;
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

    const QString list = dir.filePath("files.txt");
    QFile listFile(list);
    if (!listFile.open(QIODevice::WriteOnly) || listFile.write((paths.join('\n') + '\n').toUtf8()) < 0)
        return 1;
    listFile.close();

    const Race wide = race(files, list, all, false);
    const Race narrow = race(files, list, all, true);
    say("Import of " + NumberText::whole(all) + " files (WAV, FLAC, MP3, M4A; 3 s each, "
        + NumberText::whole(tagged) + " with a tempo tag); whole processes, medians of "
        + NumberText::whole(pairs) + " alternating pairs");
    for (const Race *r : {&wide, &narrow}) {
        say(std::string(r == &wide ? "  all cores:" : "  one core: ") + " tamPOD importer " + fixed(r->ours, 0)
            + " files/s, " + NumberText::whole(r->ourCounts.files) + " records, "
            + NumberText::whole(r->ourCounts.tempos) + " tempos; mutagen (python) " + fixed(r->theirs, 0)
            + " files/s, " + NumberText::whole(r->theirCounts.files) + " files, "
            + NumberText::whole(r->theirCounts.tempos) + " tempos");
    }
    const double peak = peakMegabytesOfImport(linked);
    say(bench::goal("import", wide.ratio, 2, ">= 1.0"));
    say(bench::goal("import-1core", narrow.ratio, 2, ">= 0.5"));
    say(bench::goal("import-rss", peak, 1, "<= 120"));
    for (const Race *r : {&wide, &narrow}) {
        if (r->ourCounts.files != all || r->ourCounts.refusals != 0 || r->ourCounts.tempos != tagged
            || r->theirCounts.files != all || r->theirCounts.tempos != tagged) {
            say("FAILED: a side missed files or tempos, so the rates are not comparable");
            return 1;
        }
    }
    return 0;
}
