// Seeks and waveform zooms on long MP3s whose Info header states their length, as the program
// does them after an import: the file opened once (its length learned for the process), then
// on one fresh reader a seek to 60 % of the file, then to 65 % and to 70 % (each with a read of
// 4,096 frames after it), and a zoom on the last 64th of the file (its peaks, by a fresh reader,
// as the waveform pane reads them). Each figure is in CPU seconds and bytes read: the median of
// a few rounds in a process of its own, and of a few such processes. A seek shortly after another should cost a small part
// of the first, which walks the frames from the start.
// Files of each length: CBR 192 kb/s ("Info" header) and VBR quality 2 ("Xing" header), made by
// ffmpeg's libmp3lame.
//
// With --peer, the same measures are taken by another build of this benchmark (an older
// commit's, say) on the same files, and the zoom's CPU time is given as ours over the peer's.
//
//   bench_mp3_seek [--peer BENCH] [--files FOLDER] [MINUTES...]     (default: 10 60)

#include "noise_mp3.h"
#include "process_race.h"

#include "core/number_text.h"
#include "library/audio_track.h"
#include "platform/decode/audio_file_reader.h"
#include "playback/waveform_reader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <time.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {

constexpr int rounds = 5; // in one process
constexpr int pairs = 5;  // of processes, ours and the peer's

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Cost {
    double cpu = 0;
    long long bytes = 0;
};

template <typename Fn>
Cost costOf(Fn &&fn)
{
    const double cpu = cpuSeconds();
    const long long bytes = bytesRead();
    fn();
    return {cpuSeconds() - cpu, bytesRead() - bytes};
}

// The child: the measures on path, printed as "name cpu bytes" lines, medians of the rounds.
int measure(const QString &path)
{
    std::map<std::string, std::vector<double>> cpu, bytes;
    const auto keep = [&](const std::string &name, const Cost &cost) {
        cpu[name].push_back(cost.cpu);
        bytes[name].push_back(double(cost.bytes));
    };
    int64_t length = 0;
    keep("import", costOf([&] { length = AudioFileReader(path).length(); }));
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    bool complete = length > 0;
    for (int round = 0; round < rounds && complete; ++round) {
        AudioFileReader reader(path);
        std::vector<float> block(size_t(4096 * reader.channels()));
        for (const int percent : {60, 65, 70})
            keep("seek" + std::to_string(percent), costOf([&] {
                     reader.seek(length * percent / 100);
                     complete = complete && reader.readFloatInterleaved(block.data(), 4096) == 4096;
                 }));
        keep("zoom", costOf([&] {
                 const WaveformPeaks peaks = WaveformReader::peaks(track, {63.0 / 64, 1.0}, 2048, std::nullopt);
                 complete = complete && peaks.size() == 2048 && peaks.back() > 0;
             }));
    }
    if (!complete)
        return 1;
    for (const auto &[name, values] : cpu)
        std::printf("%s %.6f %.0f\n", name.c_str(), median(values), median(bytes[name]));
    return 0;
}

// The measures a fresh process of bench takes on path; empty where it failed.
std::map<std::string, Cost> measured(const QString &bench, const QString &path)
{
    const Run run = spawn({bench.toStdString(), "--measure", path.toStdString()}, true);
    std::map<std::string, Cost> costs;
    if (!run.ok)
        return costs;
    std::istringstream lines(run.output);
    std::string name;
    Cost cost;
    while (lines >> name >> cost.cpu >> cost.bytes)
        costs[name] = cost;
    return costs;
}

std::string describe(const Cost &cost)
{
    return fixed(cost.cpu, 4) + " s, " + NumberText::whole(cost.bytes) + " bytes";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--measure")
        return measure(QString::fromLocal8Bit(argv[2]));
    QString peer, files;
    std::vector<int> minutes;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "--peer" || argument == "--files") && i + 1 < argc)
            (argument == "--peer" ? peer : files) = QString::fromLocal8Bit(argv[++i]);
        else if (const auto n = NumberText::parse(std::string_view(argument)))
            minutes.push_back(int(*n));
    }
    if (minutes.empty())
        minutes = {10, 60};
    QTemporaryDir dir;
    const QString folder = files.isEmpty() ? dir.path() : files;
    std::vector<std::string> goals;
    bool failed = false;
    Conditions conditions;
    std::pair<std::map<std::string, Cost>, std::map<std::string, Cost>> bytes;
    for (const int length : minutes) {
        for (const auto &kind : noiseMp3Kinds) {
            const std::string name = std::to_string(length) + "min-" + kind.name;
            const QString path = folder + "/" + QString::fromStdString(name) + ".mp3";
            if (!QFileInfo::exists(path) && !encodeNoiseMp3(path, length * 60, kind.options)) {
                say("could not make the MP3 files (ffmpeg with libmp3lame)");
                return 1;
            }
            // Pairs of processes, each pair's order the other's, so a busy moment of the machine
            // falls on both sides alike: the medians of the pairs, and of the zoom's ratios.
            std::map<std::string, std::vector<double>> ourRuns, peerRuns;
            std::vector<double> zoomRatios;
            bool complete = true;
            for (int pair = 0; pair < pairs && complete; ++pair) {
                std::map<std::string, Cost> mine, theirs;
                for (int side = 0; side < 2; ++side) {
                    if ((side == 0) == (pair % 2 == 0))
                        mine = measured(QCoreApplication::applicationFilePath(), path);
                    else if (!peer.isEmpty())
                        theirs = measured(peer, path);
                }
                complete = mine.size() == 5 && (peer.isEmpty() || theirs.size() == 5);
                for (const auto &[measure, cost] : mine)
                    ourRuns[measure].push_back(cost.cpu);
                for (const auto &[measure, cost] : theirs)
                    peerRuns[measure].push_back(cost.cpu);
                if (complete && !peer.isEmpty() && theirs.at("zoom").cpu > 0)
                    zoomRatios.push_back(mine.at("zoom").cpu / theirs.at("zoom").cpu);
                if (complete && pair == 0)
                    bytes = {mine, theirs};
            }
            if (!complete) {
                say(name + ": a measure failed");
                failed = true;
                continue;
            }
            std::map<std::string, Cost> ours, theirs;
            for (const auto &[measure, runs] : ourRuns)
                ours[measure] = {median(runs), bytes.first.at(measure).bytes};
            for (const auto &[measure, runs] : peerRuns)
                theirs[measure] = {median(runs), bytes.second.at(measure).bytes};
            say(name + ":");
            for (const auto &[measure, cost] : ours)
                say("  " + measure + ": " + describe(cost) +
                    (theirs.empty() ? std::string() : "; peer " + describe(theirs.at(measure))));
            const double seek60 = ours.at("seek60").cpu;
            const double after = std::max(ours.at("seek65").cpu, ours.at("seek70").cpu);
            if (kind.name == std::string("cbr192"))
                goals.push_back(goal("seeks-after-60-" + name, seek60 > 0 ? after / seek60 : 0, 2, "<= 0.3"));
            if (!zoomRatios.empty())
                goals.push_back(goal("zoom-cpu-against-peer-" + name, median(zoomRatios), 2, "<= 1.1"));
            if (files.isEmpty())
                QFile::remove(path);
        }
    }
    conditions.finish();
    for (const std::string &line : goals)
        say(line + ", " + conditions.text());
    return failed ? 1 : 0;
}
