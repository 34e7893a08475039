// Full decode of ten-minute files, per format: our decoder as a whole process (the
// decode_to_nowhere tool: AudioFileReader, float, block by block) against
// `ffmpeg -v error -i FILE -f null -`. Both are started and measured the same way, fork, exec
// and wait4, so start-up counts on both sides and the peak memory is the child's own maximum
// resident size.
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
constexpr int rounds = 5;

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0; // user and system, over all the child's threads
    double peakMB = 0;
    std::string output;
};

// The best time and the largest peak of several runs of one command.
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
    const auto path = [&](const char *extension) {
        return dir.filePath(QStringLiteral("ten.") + QLatin1String(extension)).toStdString();
    };
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
    // file is made first; the others are encoded from it.
    const std::string timing =
        ":sample_rate=" + NumberText::whole(rate) + ":duration=" + NumberText::whole(seconds);
    std::vector<std::string> input{
        "-f", "lavfi", "-i",
        "aevalsrc=0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)"
            + timing,
        "-f", "lavfi", "-i", "anoisesrc=c=pink:a=0.1" + timing,
        "-filter_complex", "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0"};
    for (const Format &format : formats) {
        std::vector<std::string> arguments = input;
        arguments.insert(arguments.end(), format.codec.begin(), format.codec.end());
        arguments.push_back(path(format.name));
        if (!ffmpeg(arguments)) {
            say(std::string("could not make the file: ") + format.name);
            return 1;
        }
        input = {"-i", path("wav")};
    }

    const Run floor = spawn({"true"});
    say("Ten-minute 44.1 kHz stereo files, full decode, whole processes (best of "
        + NumberText::whole(rounds) + "; peak = largest resident size; a child that only starts "
        "`true` peaks at " + fixed(floor.peakMB, 1) + " MB):");
    say("format  ours s  ffmpeg s  ratio  (cpu s: ours  ffmpeg)  ours MB  ffmpeg MB  frames");
    bool failed = false;
    double worstMemory = 0;
    std::vector<std::string> goals;
    for (const Format &format : formats) {
        Tally ours, theirs;
        std::string frames;
        // Taking turns, so a busy moment of the machine falls on both sides alike.
        for (int round = 0; round < rounds; ++round) {
            const Run run = spawn({TAMPOD_DECODE_TOOL, path(format.name)});
            ours.add(run);
            frames = run.output.substr(0, run.output.find('\n'));
            theirs.add(
                spawn({"ffmpeg", "-v", "error", "-i", path(format.name), "-f", "null", "-"}));
        }
        // A short decode would look fast: every frame must arrive.
        if (!ours.ok || !theirs.ok || frames != NumberText::whole(int64_t{rate} * seconds)) {
            say(std::string(format.name) + ": a decode failed (ours " + (ours.ok ? "ran" : "failed")
                + ", " + frames + " frames; ffmpeg " + (theirs.ok ? "ran" : "failed") + ")");
            failed = true;
            continue;
        }
        const double ratio = theirs.seconds / ours.seconds;
        worstMemory = std::max(worstMemory, ours.peakMB / theirs.peakMB);
        say(std::string(format.name) + "  " + fixed(ours.seconds, 3) + "  "
            + fixed(theirs.seconds, 3) + "  " + fixed(ratio, 2) + "x  ("
            + fixed(ours.cpuSeconds, 3) + "  " + fixed(theirs.cpuSeconds, 3) + ")  "
            + fixed(ours.peakMB, 1) + "  " + fixed(theirs.peakMB, 1) + "  " + frames);
        goals.push_back("GOAL decode-" + std::string(format.name) + ": " + fixed(ratio, 2)
                        + "x (target >= 1.1)");
    }
    for (const std::string &goal : goals)
        say(goal);
    if (failed)
        return 1;
    say("GOAL decode-peak-memory: " + fixed(worstMemory, 2) + " (target <= 1.0)");
    return 0;
}
