// Whole exports of a ten-minute 44.1 kHz stereo WAV, whole process against whole process: to FLAC
// against `flac -5`, to M4A (AAC, 256 kbps) against the ffmpeg command line, to 24-bit WAV
// against sox; a treated WAV → WAV export (Vinyl and Hum, clipping, lo-fi) on its own; the peak
// memory of one-hour exports; and a batch of 200 three-second WAV files to FLAC (the
// batch_to_folder tool, one process) against one `flac -5` process over the same files. With
// the argument "batch", only the batch.
//
// Our side is the export_file tool, which does all of an export's work: render, encode, tag,
// decode back in full, publish. Each figure is the median of pairs that alternate which side
// goes first. The batch race also prints the load average around it, the cores there were and
// the cores each side kept busy, its CPU ratio beside its wall ratio, and how many times one
// more run of ours (under strace, not timed) flushed a file or folder.
#include "../process_race.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>


#include <sstream>

#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {

constexpr int rate = 44100;
constexpr int pairs = 5;

// A source with real work in it for the codecs: a chord under pink noise; no LIST chunk, which
// flac would warn of for every file.
bool makeSource(const std::string &path, int seconds)
{
    const std::string timing = ":sample_rate=" + NumberText::whole(rate) + ":duration=" + NumberText::whole(seconds);
    return spawn({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                  "aevalsrc=0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)" + timing,
                  "-f", "lavfi", "-i", "anoisesrc=c=pink:a=0.1" + timing, "-filter_complex",
                  "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0", "-fflags", "+bitexact",
                  "-c:a", "pcm_s16le", path})
        .ok;
}

// One export by the export_file tool into a destination emptied first (not timed).
Run ours(const QTemporaryDir &dir, const QString &source, const QString &destination, const char *format, int bits,
         bool treated = false)
{
    QFile::remove(destination);
    std::vector<std::string> arguments{TAMPOD_EXPORT_TOOL, dir.filePath("store").toStdString(), source.toStdString(),
                                       destination.toStdString(), format, NumberText::whole(bits)};
    if (treated)
        arguments.push_back("treated");
    return spawn(arguments);
}

// Both sides start from an empty output folder, the folder's emptying not timed.
Run emptied(const QString &folder, const std::vector<std::string> &arguments)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return spawn(arguments);
}

// The flushes (fsync, fdatasync, syncfs, sync_file_range) of one run of the program, counted by
// strace; -1 when it could not be counted.
int flushesOf(const QTemporaryDir &dir, const std::vector<std::string> &arguments)
{
    const std::string summary = dir.filePath("strace-summary").toStdString();
    std::vector<std::string> traced{"strace", "-f", "-c", "-o", summary, "-e",
                                    "trace=fsync,fdatasync,syncfs,sync_file_range"};
    traced.insert(traced.end(), arguments.begin(), arguments.end());
    if (!spawn(traced).ok)
        return -1;
    QFile file(QString::fromStdString(summary));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // The last line: "100.00 seconds usecs/call calls [errors] total"; none at all without a call.
    for (const QByteArray &line : file.readAll().split('\n')) {
        std::istringstream fields(line.toStdString());
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        if (words.size() >= 5 && words.back() == "total") {
            const auto calls = NumberText::parse(words[3]);
            return calls ? NumberText::toInt32(*calls).value_or(-1) : -1;
        }
    }
    return 0;
}

// The goal line, or an empty text when a side failed.
std::string raceBatch(const QTemporaryDir &dir)
{
    constexpr int files = 200;
    const QString one = dir.filePath("batch-source.wav");
    if (!makeSource(one.toStdString(), 3))
        return {};
    const QString sources = dir.filePath("batch-sources");
    QDir().mkpath(sources);
    const QString ourFolder = dir.filePath("batch-ours");
    const QString peerFolder = dir.filePath("batch-peer");
    std::vector<std::string> ourArguments{TAMPOD_BATCH_TOOL, dir.filePath("batch-store").toStdString(),
                                          ourFolder.toStdString()};
    std::vector<std::string> peerArguments{"flac", "-5", "-f", "-s", "--output-prefix=" + peerFolder.toStdString() + "/"};
    for (int i = 1; i <= files; ++i) {
        const QString path = sources + QStringLiteral("/take ") + QString::number(i) + QStringLiteral(".wav");
        QFile::copy(one, path);
        ourArguments.push_back(path.toStdString());
        peerArguments.push_back(path.toStdString());
    }
    const Race batch = race(
        pairs, [&] { return emptied(ourFolder, ourArguments); }, [&] { return emptied(peerFolder, peerArguments); });
    if (!batch.ok)
        return {};
    QDir(ourFolder).removeRecursively();
    QDir().mkpath(ourFolder);
    const int flushes = flushesOf(dir, ourArguments);
    say("batch of " + NumberText::whole(files) + " three-second WAV files to FLAC against flac -5: " + batch.summary());
    say(std::string("batch: our flushes (fsync and kin) in one run: ") +
        (flushes < 0 ? std::string("not counted (no strace)") : NumberText::whole(flushes)));
    return goal("export-batch", batch, 2, ">= 0.8");
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    if (argc == 2 && std::string(argv[1]) == "batch") {
        const std::string batchGoal = raceBatch(dir);
        say(batchGoal.empty() ? "batch: an export failed" : batchGoal);
        return batchGoal.empty() ? 1 : 0;
    }
    const QString ten = dir.filePath("ten.wav");
    const QString hour = dir.filePath("hour.wav");
    if (!makeSource(ten.toStdString(), 600)) {
        say("could not make the ten-minute file");
        return 1;
    }
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };

    say("Ten-minute 44.1 kHz stereo WAV, whole processes, medians of " + NumberText::whole(pairs) + " pairs:");
    struct Peer {
        const char *name;
        const char *format; // ours
        int bits;
        const char *output;
        std::vector<std::string> command;
        const char *target; // none: no goal line
    };
    const Peer peers[] = {
        {"flac", "flac", 16, "ours.flac",
         {"flac", "-5", "-f", "-s", "-o", path("peer.flac").toStdString(), ten.toStdString()}, ">= 0.9"},
        {"m4a", "m4aAAC", 16, "ours.m4a",
         {"ffmpeg", "-v", "error", "-y", "-i", ten.toStdString(), "-c:a", "aac", "-b:a", "256k",
          path("peer.m4a").toStdString()},
         ">= 0.95"},
        {"wav24", "wav", 24, "ours.wav",
         {"sox", ten.toStdString(), "-b", "24", "-e", "signed-integer", path("peer.wav").toStdString()}, nullptr},
    };
    std::vector<std::string> goals;
    bool failed = false;
    for (const Peer &peer : peers) {
        const Race result = race(
            pairs, [&] { return ours(dir, ten, path(peer.output), peer.format, peer.bits); },
            [&] { return spawn(peer.command); });
        if (!result.ok) {
            say(std::string(peer.name) + ": an export failed");
            failed = true;
            continue;
        }
        say(std::string(peer.name) + ": " + result.summary());
        if (peer.target)
            goals.push_back(goal(std::string("export-") + peer.name, result, 2, peer.target));
    }

    std::vector<double> treatedSeconds, treatedCpu;
    for (int round = 0; round < 3 && !failed; ++round) {
        const Run run = ours(dir, ten, path("treated.wav"), "wav", 16, true);
        if (!run.ok) {
            say("treated wav: the export failed");
            failed = true;
            break;
        }
        treatedSeconds.push_back(run.seconds);
        treatedCpu.push_back(run.cpuSeconds);
    }
    if (!treatedSeconds.empty() && !failed)
        say("treated wav (median of 3): " + fixed(median(treatedSeconds), 3) + " s, " +
            fixed(600 / median(treatedSeconds), 1) + "x realtime (cpu " + fixed(median(treatedCpu), 3) + " s)");

    QFile::remove(ten);
    if (!makeSource(hour.toStdString(), 3600)) {
        say("could not make the one-hour file");
        return 1;
    }
    const Run longFlac = ours(dir, hour, path("hour.flac"), "flac", 16);
    QFile::remove(path("hour.flac"));
    const Run longM4a = ours(dir, hour, path("hour.m4a"), "m4aAAC", 16);
    QFile::remove(path("hour.m4a"));
    QFile::remove(hour);
    if (!longFlac.ok || !longM4a.ok) {
        say("one-hour export failed");
        return 1;
    }
    say("one hour: flac " + fixed(longFlac.seconds, 1) + " s, " + fixed(longFlac.peakMB, 1) + " MB; m4a " +
        fixed(longM4a.seconds, 1) + " s, " + fixed(longM4a.peakMB, 1) + " MB");

    const std::string batchGoal = raceBatch(dir);
    if (batchGoal.empty())
        say("batch: an export failed"), failed = true;
    for (const std::string &line : goals)
        say(line);
    if (!batchGoal.empty())
        say(batchGoal);
    say(goal("export-rss", std::max(longFlac.peakMB, longM4a.peakMB), 1, "<= 100"));
    return failed ? 1 : 0;
}
