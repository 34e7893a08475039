// Whole exports of a ten-minute 44.1 kHz stereo WAV: to FLAC against `flac -5`, to M4A (AAC,
// 256 kbps) against the ffmpeg command line, and a treated WAV → WAV export (Vinyl and Hum,
// clipping, lo-fi) on its own; then the peak memory of a one-hour export; and a batch of 200
// three-second WAV files to FLAC (the batch_to_folder tool, one process) against one `flac -5`
// process over the same files. With the argument "batch", only the batch. Each side runs as a
// process of its own (ours forked from here, so no start-up is counted on our side), timed
// from fork to wait4; peak memory is the child's own maximum resident size. Our exports do all
// their work: render, encode, tag, decode back in full, publish.
#include "core/number_text.h"
#include "export/engine/audio_file_exporter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string>
#include <vector>

using namespace tampod;

namespace {

constexpr int rate = 44100;
constexpr int rounds = 3;

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMB = 0;
};

struct Tally {
    bool ok = true;
    double seconds = HUGE_VAL;
    double cpuSeconds = HUGE_VAL;
    double peakMB = 0;

    void add(const Run &run)
    {
        ok = ok && run.ok;
        seconds = std::min(seconds, run.seconds);
        cpuSeconds = std::min(cpuSeconds, run.cpuSeconds);
        peakMB = std::max(peakMB, run.peakMB);
    }
};

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

// Runs child in a forked process (or execs argv when child is empty), timed from fork to wait4.
Run measure(const std::function<int()> &child, const std::vector<std::string> &arguments = {})
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (child)
            _exit(child());
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (pid > 0 && wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto time = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    run.cpuSeconds = time(usage.ru_utime) + time(usage.ru_stime);
    run.peakMB = double(usage.ru_maxrss) / 1024; // Linux counts KiB
    run.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

Run command(const std::vector<std::string> &arguments)
{
    return measure({}, arguments);
}

// A source with real work in it for the codecs: a chord under pink noise.
bool makeSource(const std::string &path, int seconds)
{
    const std::string timing = ":sample_rate=" + NumberText::whole(rate) + ":duration=" + NumberText::whole(seconds);
    return command({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "aevalsrc=0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)" +
                        timing,
                    "-f", "lavfi", "-i", "anoisesrc=c=pink:a=0.1" + timing, "-filter_complex",
                    "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0", "-c:a", "pcm_s16le",
                    path})
        .ok;
}

// One of our exports, in a child process with a store of its own.
Run ours(const QTemporaryDir &dir, const QString &source, const QString &destination, const ExportDefaults &settings)
{
    QFile::remove(destination);
    return measure([&] {
        try {
            const auto store = std::make_shared<TemporaryAudioStore>(QUrl::fromLocalFile(dir.filePath("store")));
            ExportEnvironment environment;
            environment.store = [store]() -> TemporaryAudioStore & { return *store; };
            AudioExportRequest request;
            request.track.id = QUuid::createUuid();
            request.track._url = TrackedFileURL(QUrl::fromLocalFile(source));
            request.track.bpm = 120.0;
            request.settings = settings;
            request.destination = QUrl::fromLocalFile(destination);
            AudioFileExporter::run(request, {}, {}, environment);
            return 0;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "export failed: %s\n", error.what());
            return 1;
        }
    });
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Both sides start from an empty output folder, the folder's emptying not timed.
Run emptied(const QString &folder, const std::function<Run()> &run)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return run();
}

// The goal line, or an empty text when a side failed.
std::string raceBatch(const QTemporaryDir &dir)
{
    constexpr int files = 200;
    constexpr int pairs = 5;
    const QString one = dir.filePath("batch-source.wav");
    if (!makeSource(one.toStdString(), 3))
        return {};
    const QString sources = dir.filePath("batch-sources");
    QDir().mkpath(sources);
    std::vector<std::string> ourArguments{TAMPOD_BATCH_TOOL, dir.filePath("batch-store").toStdString(),
                                          dir.filePath("batch-ours").toStdString()};
    const QString peerFolder = dir.filePath("batch-peer");
    std::vector<std::string> peerArguments{"flac", "-5", "-f", "-s", "--output-prefix=" + peerFolder.toStdString() + "/"};
    for (int i = 1; i <= files; ++i) {
        const QString path = sources + QStringLiteral("/take ") + QString::number(i) + QStringLiteral(".wav");
        QFile::copy(one, path);
        ourArguments.push_back(path.toStdString());
        peerArguments.push_back(path.toStdString());
    }
    std::vector<double> us, them, ratios;
    // Paired and alternating, so a busy moment of the machine falls on both sides alike.
    for (int pair = 0; pair < pairs; ++pair) {
        const Run our = emptied(dir.filePath("batch-ours"), [&] { return command(ourArguments); });
        const Run peer = emptied(peerFolder, [&] { return command(peerArguments); });
        if (!our.ok || !peer.ok)
            return {};
        us.push_back(our.seconds);
        them.push_back(peer.seconds);
        ratios.push_back(peer.seconds / our.seconds);
    }
    say("batch of " + NumberText::whole(files) + " three-second WAV files to FLAC, medians of " +
        NumberText::whole(pairs) + " pairs: ours " + fixed(median(us), 3) + " s, flac -5 " + fixed(median(them), 3) +
        " s");
    return "GOAL export-batch: " + fixed(median(ratios), 2) + " (target >= 0.8)";
}

ExportDefaults settingsFor(ExportFormat format)
{
    ExportDefaults settings;
    settings.format = format;
    settings.bitDepth = 16;
    settings.sampleRate = rate;
    return settings;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    if (argc == 2 && std::string(argv[1]) == "batch") {
        const std::string goal = raceBatch(dir);
        say(goal.empty() ? "batch: an export failed" : goal);
        return goal.empty() ? 1 : 0;
    }
    const QString ten = dir.filePath("ten.wav");
    const QString hour = dir.filePath("hour.wav");
    if (!makeSource(ten.toStdString(), 600)) {
        say("could not make the ten-minute file");
        return 1;
    }
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };

    say("Ten-minute 44.1 kHz stereo WAV, whole processes (best of " + NumberText::whole(rounds) + "):");
    say("export      ours s  peer s  ours/peer speed  (cpu s: ours  peer)  ours MB  peer MB");
    struct Race {
        const char *name;
        ExportFormat format;
        const char *ours;
        std::vector<std::string> peer;
    };
    const Race races[] = {
        {"flac", ExportFormat::flac, "ours.flac",
         {"flac", "-5", "-f", "-s", "-o", path("peer.flac").toStdString(), ten.toStdString()}},
        {"m4a", ExportFormat::m4aAAC, "ours.m4a",
         {"ffmpeg", "-v", "error", "-y", "-i", ten.toStdString(), "-c:a", "aac", "-b:a", "256k",
          path("peer.m4a").toStdString()}},
    };
    std::vector<std::string> goals;
    bool failed = false;
    for (const Race &race : races) {
        Tally us, them;
        // Taking turns, so a busy moment of the machine falls on both sides alike.
        for (int round = 0; round < rounds; ++round) {
            us.add(ours(dir, ten, path(race.ours), settingsFor(race.format)));
            them.add(command(race.peer));
        }
        if (!us.ok || !them.ok) {
            say(std::string(race.name) + ": an export failed");
            failed = true;
            continue;
        }
        const double ratio = them.seconds / us.seconds;
        say(std::string(race.name) + "        " + fixed(us.seconds, 3) + "  " + fixed(them.seconds, 3) + "  " +
            fixed(ratio, 2) + "  (" + fixed(us.cpuSeconds, 3) + "  " + fixed(them.cpuSeconds, 3) + ")  " +
            fixed(us.peakMB, 1) + "  " + fixed(them.peakMB, 1));
        goals.push_back("GOAL export-" + std::string(race.name) + ": " + fixed(ratio, 2) + " (target >= 0.9)");
    }

    ExportDefaults treated = settingsFor(ExportFormat::wav);
    treated.vinyl.enabled = true;
    treated.vinyl.humEnabled = true;
    treated.clippingDB = 3;
    treated.loFi = LoFiTreatment::twelveBit;
    Tally treatedRun;
    for (int round = 0; round < rounds; ++round)
        treatedRun.add(ours(dir, ten, path("treated.wav"), treated));
    if (treatedRun.ok)
        say("treated wav " + fixed(treatedRun.seconds, 3) + " s, " + fixed(600 / treatedRun.seconds, 1) +
            "x realtime (cpu " + fixed(treatedRun.cpuSeconds, 3) + " s), " + fixed(treatedRun.peakMB, 1) + " MB");
    else
        say("treated wav: the export failed"), failed = true;

    QFile::remove(ten);
    if (!makeSource(hour.toStdString(), 3600)) {
        say("could not make the one-hour file");
        return 1;
    }
    const Run long1 = ours(dir, hour, path("hour.flac"), settingsFor(ExportFormat::flac));
    QFile::remove(path("hour.flac"));
    const Run long2 = ours(dir, hour, path("hour.m4a"), settingsFor(ExportFormat::m4aAAC));
    if (!long1.ok || !long2.ok) {
        say("one-hour export failed");
        return 1;
    }
    say("one hour: flac " + fixed(long1.seconds, 1) + " s, " + fixed(long1.peakMB, 1) + " MB; m4a " +
        fixed(long2.seconds, 1) + " s, " + fixed(long2.peakMB, 1) + " MB");
    for (const std::string &goal : goals)
        say(goal);
    const std::string batchGoal = raceBatch(dir);
    if (batchGoal.empty())
        say("batch: an export failed"), failed = true;
    else
        say(batchGoal);
    say("GOAL export-rss: " + fixed(std::max(long1.peakMB, long2.peakMB), 1) + " (target <= 100)");
    return failed ? 1 : 0;
}
