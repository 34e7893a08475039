// Whole processes raced against each other: each side started and measured the same way (fork,
// exec, wait4), so start-up counts on both; pairs alternate which side goes first, so a busy
// moment of the machine or a warm cache falls on both alike; figures are medians of the pairs.
//
// A child's peak resident size as wait4 reports it is at least the benchmark's own at the fork,
// so benchmarks that report it hold little memory themselves.
#pragma once

#include "core/number_text.h"

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

namespace tampod::bench {

inline void say(const std::string &line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

inline std::string fixed(double value, int digits)
{
    const double scale = std::pow(10, digits);
    return NumberText::describe(std::round(value * scale) / scale);
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0; // user and system, over all the child's threads
    double peakMB = 0;
    std::string output; // standard output, when asked for
};

// Runs a program to its end, timed from fork to wait4; its standard output is kept when capture
// is set, else discarded.
inline Run spawn(const std::vector<std::string> &arguments, bool capture = false)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    int out[2] = {-1, -1};
    if (capture && pipe2(out, O_CLOEXEC) != 0)
        return {};
    const int null = capture ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(capture ? out[1] : null, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    if (capture) {
        close(out[1]);
        char buffer[65536];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
            if (n > 0)
                run.output.append(buffer, static_cast<size_t>(n));
            else if (errno != EINTR)
                break;
        }
        close(out[0]);
    } else if (null >= 0) {
        close(null);
    }
    int status = 0;
    rusage usage{};
    while (pid > 0 && wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto time = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    run.cpuSeconds = time(usage.ru_utime) + time(usage.ru_stime);
    run.peakMB = double(usage.ru_maxrss) / 1024; // Linux counts KiB
    run.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The medians of paired runs, the ratio being the peer's time over ours (above 1: ours faster).
struct Race {
    bool ok = true;
    std::vector<double> ours, peer, ourCpu, peerCpu, ratios;
    double ourPeakMB = 0, peerPeakMB = 0;

    double ratio() const { return median(ratios); }
    std::string summary() const
    {
        return "ours " + fixed(median(ours), 3) + " s, peer " + fixed(median(peer), 3) + " s, speed " +
               fixed(ratio(), 2) + " (cpu s: ours " + fixed(median(ourCpu), 3) + ", peer " +
               fixed(median(peerCpu), 3) + "; peak MB: ours " + fixed(ourPeakMB, 1) + ", peer " +
               fixed(peerPeakMB, 1) + ")";
    }
};

// pairs pairs of one run each; each side's run is the function given (its preparation, such as
// emptying an output folder, is its own affair and not timed when done before spawn).
inline Race race(int pairs, const std::function<Run()> &ours, const std::function<Run()> &peer)
{
    Race result;
    for (int pair = 0; pair < pairs && result.ok; ++pair) {
        Run our, their;
        if (pair % 2 == 0) {
            our = ours();
            their = peer();
        } else {
            their = peer();
            our = ours();
        }
        result.ok = our.ok && their.ok && our.seconds > 0;
        if (!result.ok)
            break;
        result.ours.push_back(our.seconds);
        result.peer.push_back(their.seconds);
        result.ourCpu.push_back(our.cpuSeconds);
        result.peerCpu.push_back(their.cpuSeconds);
        result.ratios.push_back(their.seconds / our.seconds);
        result.ourPeakMB = std::max(result.ourPeakMB, our.peakMB);
        result.peerPeakMB = std::max(result.peerPeakMB, their.peakMB);
    }
    return result;
}

// The one shape of a goal line; target as "<= 100" or ">= 0.9".
inline std::string goal(const std::string &name, double value, int digits, const std::string &target)
{
    return "GOAL " + name + ": " + fixed(value, digits) + " (target " + target + ")";
}

} // namespace tampod::bench
