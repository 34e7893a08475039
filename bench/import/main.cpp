// One import of 2,000 files (WAV, FLAC, MP3 with a LAME header, M4A; three seconds each, every
// fourth with a tempo tag) by a process of ours against the same files read for length and tags
// by one python3 process using mutagen: whole processes both, timed from outside, in pairs whose
// order alternates, on all cores and then both pinned to one core; the medians of the pairs'
// ratios. Then the same race on a set of every extension the importer admits and can be made
// here, and on Ogg (Vorbis and Opus) alone, 10 s to 5 min long. Each race prints the load
// average, both sides' CPU time and the cores they kept busy. And the peak memory of one
// 10,000-file import, in a process of its own (the same files, each linked five times).
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

// Runs program to its end and returns its wall time in seconds.
double run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    const auto start = Clock::now();
    process.start(program, arguments);
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " + process.readAllStandardError().toStdString());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// While one lives, this process and the children it starts run on its first allowed core only.
class OneCore {
public:
    explicit OneCore(bool pin)
    {
        if (!pin || sched_getaffinity(0, sizeof allowed_, &allowed_) != 0)
            return;
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &allowed_)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        pinned_ = sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~OneCore()
    {
        if (pinned_)
            sched_setaffinity(0, sizeof allowed_, &allowed_);
    }
    OneCore(const OneCore &) = delete;
    OneCore &operator=(const OneCore &) = delete;

private:
    cpu_set_t allowed_{};
    bool pinned_ = false;
};

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
// A file it cannot read (no AU, CAF, AIFC, ADTS or AC-3 here) is counted out, not fatal.
const char *mutagenScript = R"(
import sys, mutagen
paths = [line.rstrip('\n') for line in open(sys.argv[1])]
files = tempos = 0
for path in paths:
    try:
        f = mutagen.File(path)
    except Exception:
        continue
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

// The shared race of whole processes: the ratio is mutagen's time over ours on the same list of
// files (above 1: ours faster), as files/s where both read them all.
struct ImportRace {
    bench::Race race;
    Counts ourCounts, theirCounts;

    double ratio() const { return race.ratio(); }
    std::string summary(int files) const
    {
        const auto side = [&](const std::vector<double> &wall, const std::vector<double> &cpu) {
            return fixed(files / median(wall), 0) + " files/s, " + fixed(median(wall), 3) + " s, cpu "
                   + fixed(median(cpu), 3) + " s, cores used " + fixed(median(cpu) / median(wall), 2);
        };
        return "tamPOD importer " + side(race.ours, race.ourCpu) + " (" + NumberText::whole(ourCounts.files)
               + " records, " + NumberText::whole(ourCounts.tempos) + " tempos); mutagen (python) "
               + side(race.peer, race.peerCpu) + " (" + NumberText::whole(theirCounts.files) + " files, "
               + NumberText::whole(theirCounts.tempos) + " tempos); wall ratio " + fixed(ratio(), 2) + ", cpu ratio "
               + fixed(race.cpuRatio(), 2) + "; " + race.conditions.text();
    }
};

ImportRace race(const QString &files, const QString &list, bool pinned)
{
    const OneCore oneCore(pinned);
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    ImportRace result;
    result.race = bench::race(
        pairs,
        [&] {
            bench::Run run = bench::spawn({self, "--import", files.toStdString()}, true);
            // Refusals make the import exit 1: they are counted, and judged after the race.
            run.ok = run.ok || !run.output.empty();
            result.ourCounts = countsOf(QByteArray::fromStdString(run.output));
            return run;
        },
        [&] {
            bench::Run run = bench::spawn({"/usr/bin/python3", "-c", mutagenScript, list.toStdString()}, true);
            result.theirCounts = countsOf(QByteArray::fromStdString(run.output));
            return run;
        });
    if (!result.race.ok)
        throw std::runtime_error("a side of the import race failed");
    return result;
}

// Writes the list of paths mutagen reads, one a line.
void writeList(const QString &list, const QStringList &paths)
{
    QFile file(list);
    if (!file.open(QIODevice::WriteOnly) || file.write((paths.join('\n') + '\n').toUtf8()) < 0)
        throw std::runtime_error("cannot write the list of files");
}

// Every extension the importer admits that a command-line encoder here writes (Monkey's Audio
// has none), with the encoder's options and the tempo tag it keeps.
struct Kind {
    const char *extension;
    QStringList options;
    const char *tempoKey; // nullptr: no tempo tag both sides read
};

const std::vector<Kind> mixedKinds = {
    {"wav", {"-c:a", "pcm_s16le"}, "wav"},
    {"wave", {"-c:a", "pcm_s16le", "-f", "wav"}, nullptr},
    {"bwf", {"-c:a", "pcm_s24le", "-f", "wav"}, nullptr},
    {"aif", {"-c:a", "pcm_s16be", "-f", "aiff"}, nullptr},
    {"aiff", {"-c:a", "pcm_s24be"}, "aiff"},
    {"aifc", {"-c:a", "pcm_s16be", "-f", "aiff"}, nullptr},
    {"caf", {"-c:a", "pcm_s16le"}, nullptr},
    {"au", {"-c:a", "pcm_s16be"}, nullptr},
    {"snd", {"-c:a", "pcm_mulaw", "-f", "au"}, nullptr},
    {"flac", {"-c:a", "flac"}, "BPM"},
    {"mp3", {"-c:a", "libmp3lame", "-b:a", "192k", "-id3v2_version", "3"}, "TBPM"},
    {"m4a", {"-c:a", "aac", "-b:a", "160k"}, "tmpo"},
    {"aac", {"-c:a", "aac", "-b:a", "160k", "-f", "adts"}, nullptr},
    {"ac3", {"-c:a", "ac3"}, nullptr},
    {"wma", {"-c:a", "wmav2"}, nullptr},
    {"ogg", {"-c:a", "libvorbis"}, "BPM"},
    {"opus", {"-c:a", "libopus", "-ar", "48000"}, "BPM"},
};
const int lengths[] = {10, 40, 100, 300}; // seconds

// A tone of seconds seconds in that kind, tagged with a tempo where the kind keeps one.
QString longSeed(const QString &folder, const Kind &kind, int seconds, bool tagged)
{
    const QString extension = QString::fromLatin1(kind.extension);
    const QString path = folder + "/seed-" + NumberText::wholeQ(seconds) + (tagged ? "-tagged." : ".") + extension;
    QStringList arguments{"-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=" + NumberText::wholeQ(seconds),
                          "-ar", "44100", "-ac", "2"};
    arguments << kind.options;
    const QString key = QString::fromLatin1(kind.tempoKey ? kind.tempoKey : "");
    if (tagged && !key.isEmpty() && key != "wav" && key != "aiff")
        arguments << "-metadata" << key + "=123";
    arguments << "-y" << path;
    run("ffmpeg", arguments);
    if (tagged && (key == "wav" || key == "aiff"))
        ExportTempoWriter::write(123.0, path, key == "wav" ? ExportTempoWriter::Container::wav
                                                           : ExportTempoWriter::Container::aiff);
    return path;
}

// count files of each kind in folder, linked to seeds of every length in turn, every fourth
// one tagged where the kind keeps a tempo; returns the paths and how many carry a tempo.
std::pair<QStringList, int> makeSet(const QString &seeds, const QString &folder, const std::vector<Kind> &kinds, int count)
{
    QDir().mkpath(folder);
    QStringList paths;
    int tagged = 0;
    for (const Kind &kind : kinds) {
        std::vector<QString> plain;
        for (const int seconds : lengths)
            plain.push_back(longSeed(seeds, kind, seconds, false));
        const QString withTempo = kind.tempoKey ? longSeed(seeds, kind, 40, true) : QString();
        for (int i = 0; i < count; ++i) {
            const bool tag = kind.tempoKey && i % 4 == 0;
            const QString &seed = tag ? withTempo : plain[size_t(i) % plain.size()];
            const QString path = folder + "/take-" + NumberText::wholeQ(i) + "." + kind.extension;
            if (::link(QFile::encodeName(seed).constData(), QFile::encodeName(path).constData()) != 0)
                throw std::runtime_error("cannot link a file");
            paths << path;
            tagged += tag;
        }
    }
    return {paths, tagged};
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
    writeList(list, paths);

    const ImportRace wide = race(files, list, false);
    const ImportRace narrow = race(files, list, true);
    say("Import of " + NumberText::whole(all) + " files (WAV, FLAC, MP3, M4A; 3 s each, "
        + NumberText::whole(tagged) + " with a tempo tag); whole processes, medians of "
        + NumberText::whole(pairs) + " alternating pairs");
    say("  all cores: " + wide.summary(all));
    say("  one core:  " + narrow.summary(all));
    const double peak = peakMegabytesOfImport(linked);

    // Every admitted extension, and Ogg alone, 10 s to 5 min long.
    const QString longSeeds = dir.filePath("long-seeds");
    QDir().mkpath(longSeeds);
    const auto [mixedPaths, mixedTagged] = makeSet(longSeeds, dir.filePath("mixed"), mixedKinds, 24);
    const QString mixedList = dir.filePath("mixed.txt");
    writeList(mixedList, mixedPaths);
    const ImportRace mixed = race(dir.filePath("mixed"), mixedList, false);
    QStringList extensions;
    for (const Kind &kind : mixedKinds)
        extensions << kind.extension;
    say("Import of " + NumberText::whole(mixedPaths.size()) + " files, 24 each of " + extensions.join(", ").toStdString()
        + " (10 s to 5 min, " + NumberText::whole(mixedTagged) + " with a tempo tag)");
    say("  all cores: " + mixed.summary(int(mixedPaths.size())));

    const std::vector<Kind> oggKinds(mixedKinds.end() - 2, mixedKinds.end());
    const auto [oggPaths, oggTagged] = makeSet(longSeeds, dir.filePath("ogg"), oggKinds, 170);
    const QString oggList = dir.filePath("ogg.txt");
    writeList(oggList, oggPaths);
    const ImportRace ogg = race(dir.filePath("ogg"), oggList, false);
    say("Import of " + NumberText::whole(oggPaths.size()) + " Ogg files (Vorbis .ogg and Opus .opus, 10 s to 5 min, "
        + NumberText::whole(oggTagged) + " with a tempo tag)");
    say("  all cores: " + ogg.summary(int(oggPaths.size())));

    say(bench::goal("import", wide.race, 2, ">= 1.0"));
    say(bench::goal("import-1core", narrow.race, 2, ">= 0.5"));
    say(bench::goal("import-rss", peak, 1, "<= 120"));
    say(bench::goal("import-mixed", mixed.race, 2, ">= 1.0"));
    say(bench::goal("import-ogg", ogg.race, 2, ">= 1.0"));
    for (const ImportRace *r : {&wide, &narrow}) {
        if (r->ourCounts.files != all || r->ourCounts.refusals != 0 || r->ourCounts.tempos != tagged
            || r->theirCounts.files != all || r->theirCounts.tempos != tagged) {
            say("FAILED: a side missed files or tempos, so the rates are not comparable");
            return 1;
        }
    }
    // mutagen reads no AU, CAF or AC-3 length; ours must take every file and every tempo.
    if (mixed.ourCounts.files != mixedPaths.size() || mixed.ourCounts.refusals != 0
        || mixed.ourCounts.tempos < mixedTagged || ogg.ourCounts.files != oggPaths.size()
        || ogg.ourCounts.tempos != oggTagged || ogg.theirCounts.files != oggPaths.size()
        || ogg.theirCounts.tempos != oggTagged) {
        say("FAILED: the importer missed files or tempos of the long sets");
        return 1;
    }
    return 0;
}
