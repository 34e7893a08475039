// Full decode of ten-minute files, per format, and of a sixty-minute FLAC file: our decoder as a
// whole process (the decode_to_nowhere tool: AudioFileReader, float, block by block) against
// `ffmpeg -v error -i FILE -f null -`. Both are started and measured the same way, fork, exec
// and wait4, so start-up counts on both sides and the peak memory is the child's own maximum
// resident size. Runs come in pairs, the side that starts first alternating, and each figure is
// the median over the pairs, so a busy moment of the machine falls on both sides alike.
#include "core/number_text.h"

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
#include <string>
#include <vector>

using namespace tampod;

namespace {

constexpr int rate = 44100;
constexpr int seconds = 600;
constexpr int longSeconds = 3600;
constexpr int rounds = 5;
constexpr int longRounds = 3; // a long run is steadier; keeps the benchmark near two minutes

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0; // user and system, over all the child's threads
    double peakMB = 0;
    std::string output;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One side's runs of a command.
struct Runs {
    bool ok = true;
    std::vector<double> seconds, cpuSeconds;
    double peakMB = 0;

    void add(const Run &run)
    {
        ok = ok && run.ok;
        seconds.push_back(run.seconds);
        cpuSeconds.push_back(run.cpuSeconds);
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

// Runs a program to its end with its standard output captured, timed from fork to wait4.
Run spawn(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Run run;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            run.output.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    while (pid > 0 && wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto time = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    run.cpuSeconds = time(usage.ru_utime) + time(usage.ru_stime);
    run.peakMB = static_cast<double>(usage.ru_maxrss) / 1024; // Linux counts KiB
    run.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

bool ffmpeg(const std::vector<std::string> &arguments)
{
    std::vector<std::string> command{"ffmpeg", "-v", "error", "-y"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return spawn(command).ok;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)).toStdString(); };
    struct Format {
        const char *name;
        std::vector<std::string> codec;
    };
    const std::vector<Format> formats = {
        {"wav", {"-c:a", "pcm_s16le"}},
        {"flac", {"-c:a", "flac"}},
        {"mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {"m4a", {"-c:a", "aac", "-b:a", "192k"}},
    };
    // Music-like content, a chord under pink noise, so codecs have real work to do. The WAV
    // file is made first; the others are encoded from it, the hour from six turns of it.
    const std::string timing =
        ":sample_rate=" + NumberText::whole(rate) + ":duration=" + NumberText::whole(seconds);
    std::vector<std::string> input{
        "-f", "lavfi", "-i",
        "aevalsrc=0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)"
            + timing,
        "-f", "lavfi", "-i", "anoisesrc=c=pink:a=0.1" + timing,
        "-filter_complex", "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0"};
    struct Case {
        std::string goal;
        std::string file;
        int seconds;
        int rounds;
    };
    std::vector<Case> cases;
    for (const Format &format : formats) {
        const std::string file = path((std::string("ten.") + format.name).c_str());
        std::vector<std::string> arguments = input;
        arguments.insert(arguments.end(), format.codec.begin(), format.codec.end());
        arguments.push_back(file);
        if (!ffmpeg(arguments)) {
            say(std::string("could not make the file: ") + format.name);
            return 1;
        }
        input = {"-i", path("ten.wav")};
        cases.push_back({std::string("decode-") + format.name, file, seconds, rounds});
    }
    if (!ffmpeg({"-stream_loop", NumberText::whole(longSeconds / seconds - 1), "-i", path("ten.wav"), "-c:a",
                 "flac", path("sixty.flac")})) {
        say("could not make the file: sixty.flac");
        return 1;
    }
    cases.push_back({"decode-flac-60", path("sixty.flac"), longSeconds, longRounds});

    const Run floor = spawn({"true"});
    say("44.1 kHz stereo files, full decode, whole processes (medians of " + NumberText::whole(rounds)
        + " pairs, " + NumberText::whole(longRounds) + " for the hour; peak = largest resident size; a child "
        "that only starts `true` peaks at " + fixed(floor.peakMB, 1) + " MB):");
    say("case  ours s  ffmpeg s  ratio  (cpu s: ours  ffmpeg)  ours MB  ffmpeg MB  frames");
    bool failed = false;
    double worstMemory = 0;
    std::vector<std::string> goals;
    for (const Case &c : cases) {
        Runs ours, theirs;
        std::vector<double> ratios;
        std::string frames;
        const auto runOurs = [&] {
            const Run run = spawn({TAMPOD_DECODE_TOOL, c.file});
            frames = run.output.substr(0, run.output.find('\n'));
            ours.add(run);
            return run.seconds;
        };
        const auto runTheirs = [&] {
            const Run run = spawn({"ffmpeg", "-v", "error", "-i", c.file, "-f", "null", "-"});
            theirs.add(run);
            return run.seconds;
        };
        for (int round = 0; round < c.rounds; ++round) {
            double mine = 0, peer = 0;
            if (round % 2 == 0) {
                mine = runOurs();
                peer = runTheirs();
            } else {
                peer = runTheirs();
                mine = runOurs();
            }
            ratios.push_back(peer / mine);
        }
        // A short decode would look fast: every frame must arrive.
        if (!ours.ok || !theirs.ok || frames != NumberText::whole(int64_t{rate} * c.seconds)) {
            say(c.goal + ": a decode failed (ours " + (ours.ok ? "ran" : "failed") + ", " + frames
                + " frames; ffmpeg " + (theirs.ok ? "ran" : "failed") + ")");
            failed = true;
            continue;
        }
        const double ratio = median(ratios);
        worstMemory = std::max(worstMemory, ours.peakMB / theirs.peakMB);
        say(c.goal + "  " + fixed(median(ours.seconds), 3) + "  " + fixed(median(theirs.seconds), 3) + "  "
            + fixed(ratio, 2) + "x  (" + fixed(median(ours.cpuSeconds), 3) + "  "
            + fixed(median(theirs.cpuSeconds), 3) + ")  " + fixed(ours.peakMB, 1) + "  "
            + fixed(theirs.peakMB, 1) + "  " + frames);
        goals.push_back("GOAL " + c.goal + ": " + fixed(ratio, 2) + " (target >= 1.1)");
    }
    for (const std::string &goal : goals)
        say(goal);
    if (failed)
        return 1;
    say("GOAL decode-peak-memory: " + fixed(worstMemory, 2) + " (target <= 1.0)");
    return 0;
}
