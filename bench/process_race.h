// Whole processes raced against each other: each side started and measured the same way (fork,
// exec, wait4), so start-up counts on both; pairs alternate which side goes first, so a busy
// moment of the machine or a warm cache falls on both alike; figures are medians of the pairs.
//
// A child's peak resident size as wait4 reports it is at least the benchmark's own at the fork,
// so benchmarks that report it hold little memory themselves.
#pragma once

#include "core/number_text.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
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

// Runs programs to their end as one side, each one's standard output feeding the next as a
// shell pipe would: timed from the first fork to the last wait4, with the CPU time of all and
// the largest peak. The last one's standard output is kept when capture is set, else discarded.
inline Run spawnChain(const std::vector<std::vector<std::string>> &programs, bool capture = false)
{
    std::vector<std::vector<char *>> argvs;
    for (const std::vector<std::string> &arguments : programs) {
        argvs.emplace_back();
        for (const std::string &argument : arguments)
            argvs.back().push_back(const_cast<char *>(argument.c_str()));
        argvs.back().push_back(nullptr);
    }
    int out[2] = {-1, -1};
    if (capture && pipe2(out, O_CLOEXEC) != 0)
        return {};
    const int null = capture ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);

    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> pids;
    int input = -1; // the previous program's output, read by the next
    for (size_t i = 0; i < argvs.size(); ++i) {
        int link[2] = {-1, -1};
        const bool last = i + 1 == argvs.size();
        if (!last && pipe2(link, O_CLOEXEC) != 0)
            break;
        const pid_t pid = fork();
        if (pid == 0) {
            if (input >= 0)
                dup2(input, STDIN_FILENO);
            dup2(!last ? link[1] : capture ? out[1] : null, STDOUT_FILENO);
            execvp(argvs[i][0], argvs[i].data());
            _exit(127);
        }
        pids.push_back(pid);
        if (input >= 0)
            close(input);
        input = link[0];
        if (!last)
            close(link[1]);
    }
    if (input >= 0)
        close(input);
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
    const auto time = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    run.ok = pids.size() == argvs.size();
    for (const pid_t pid : pids) {
        int status = 0;
        rusage usage{};
        while (pid > 0 && wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        run.cpuSeconds += time(usage.ru_utime) + time(usage.ru_stime);
        run.peakMB = std::max(run.peakMB, double(usage.ru_maxrss) / 1024); // Linux counts KiB
        run.ok = run.ok && pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

// Runs a program to its end, timed from fork to wait4; its standard output is kept when capture
// is set, else discarded.
inline Run spawn(const std::vector<std::string> &arguments, bool capture = false)
{
    return spawnChain({arguments}, capture);
}

// Bytes this process has read by read(2) and pread(2) so far; -1 where the kernel does not say.
inline long long bytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

// The one-minute load average, or -1 when the system does not say.
inline double loadAverage()
{
    double load[1];
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// The cores this process, and so every child it starts, may run on.
inline int coresAvailable()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return CPU_COUNT(&set);
    return int(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
}

// The machine a figure was measured on: a ratio of a multi-threaded side means little without
// how many cores it had and how busy they were.
struct Conditions {
    int cores = coresAvailable();
    double loadBefore = loadAverage(), loadAfter = loadBefore;

    void finish() { loadAfter = loadAverage(); }
    std::string text() const
    {
        return "on " + NumberText::whole(cores) + " cores, load " + fixed(loadBefore, 1) +
               (fixed(loadAfter, 1) == fixed(loadBefore, 1) ? std::string() : " to " + fixed(loadAfter, 1));
    }
};

// The medians of paired runs, the ratio being the peer's time over ours (above 1: ours faster).
struct Race {
    bool ok = true;
    std::vector<double> ours, peer, ourCpu, peerCpu, ratios, cpuRatios;
    double ourPeakMB = 0, peerPeakMB = 0;
    Conditions conditions;

    double ratio() const { return median(ratios); }
    // The peer's CPU time over ours: above 1, ours spends less of the machine.
    double cpuRatio() const { return median(cpuRatios); }
    // The cores a side kept busy on average: its CPU time over its wall time.
    double ourCores() const { return median(ours) > 0 ? median(ourCpu) / median(ours) : 0; }
    double peerCores() const { return median(peer) > 0 ? median(peerCpu) / median(peer) : 0; }
    std::string summary() const
    {
        return "ours " + fixed(median(ours), 3) + " s, peer " + fixed(median(peer), 3) + " s, speed " +
               fixed(ratio(), 2) + ", cpu ratio " + fixed(cpuRatio(), 2) + " (cpu s: ours " + fixed(median(ourCpu), 3) +
               ", peer " + fixed(median(peerCpu), 3) + "; cores busy: ours " + fixed(ourCores(), 2) + ", peer " +
               fixed(peerCores(), 2) + "; peak MB: ours " + fixed(ourPeakMB, 1) + ", peer " + fixed(peerPeakMB, 1) +
               "; " + conditions.text() + ")";
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
        if (our.cpuSeconds > 0)
            result.cpuRatios.push_back(their.cpuSeconds / our.cpuSeconds);
        result.ourPeakMB = std::max(result.ourPeakMB, our.peakMB);
        result.peerPeakMB = std::max(result.peerPeakMB, their.peakMB);
    }
    result.conditions.finish();
    return result;
}

// The one shape of a goal line; target as "<= 100" or ">= 0.9".
inline std::string goal(const std::string &name, double value, int digits, const std::string &target)
{
    return "GOAL " + name + ": " + fixed(value, digits) + " (target " + target + ")";
}

// A race's goal line, with the CPU ratio beside it and the cores and load it ran at.
inline std::string goal(const std::string &name, const Race &race, int digits, const std::string &target)
{
    return goal(name, race.ratio(), digits, target) + ", cpu ratio " + fixed(race.cpuRatio(), 2) + ", " +
           race.conditions.text();
}

} // namespace tampod::bench
