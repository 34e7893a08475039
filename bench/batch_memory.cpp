// The peak memory of whole processes that read and write FLAC: the batch_to_folder tool
// exporting 44.1 kHz stereo WAV files to FLAC (six one-minute files, six ten-minute files, and
// all twelve in one batch), and the decode_to_nowhere tool decoding a sixty-minute FLAC file.
// Each figure is the largest peak resident size (wait4) of a few fresh processes.
//
// With a folder as argument, the tools are taken from that folder instead (a build of another
// commit), so both builds are measured by the same benchmark on the same files:
//
//   bench_batch_memory [TOOLS_FOLDER]
//
// The files are made once and kept in the user's own cache folder for later runs.
#include "process_race.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {

constexpr int rate = 44100;
constexpr int runs = 3;

// A chord under pink noise, as the export benchmark's source; kept when it is there already.
bool makeSource(const QString &path, int seconds, const char *codec)
{
    if (QFileInfo(path).size() > 0)
        return true;
    const std::string timing = ":sample_rate=" + NumberText::whole(rate) + ":duration=" + NumberText::whole(seconds);
    const QString partial = path + ".part";
    const bool made = spawn({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                             "aevalsrc=0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)" + timing,
                             "-f", "lavfi", "-i", "anoisesrc=c=pink:a=0.1" + timing, "-filter_complex",
                             "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0", "-fflags",
                             "+bitexact", "-c:a", codec, "-f", QFileInfo(path).suffix().toStdString(),
                             partial.toStdString()})
                          .ok;
    return made && QFile::rename(partial, path);
}

// Copies of one source, named apart as a user's takes are.
std::vector<std::string> copies(const QString &source, const QString &folder, const QString &name, int count)
{
    QDir().mkpath(folder);
    std::vector<std::string> paths;
    for (int i = 1; i <= count; ++i) {
        const QString path = folder + "/" + name + " " + QString::number(i) + ".wav";
        if (!QFileInfo::exists(path))
            QFile::copy(source, path);
        paths.push_back(path.toStdString());
    }
    return paths;
}

// The largest peak of runs fresh processes, in MB; 0 when one failed.
double peakOf(const std::function<Run()> &run)
{
    double peak = 0;
    for (int i = 0; i < runs; ++i) {
        const Run one = run();
        if (!one.ok)
            return 0;
        peak = std::max(peak, one.peakMB);
    }
    return peak;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string batchTool = argc == 2 ? std::string(argv[1]) + "/batch_to_folder" : TAMPOD_BATCH_TOOL;
    const std::string decodeTool = argc == 2 ? std::string(argv[1]) + "/decode_to_nowhere" : TAMPOD_DECODE_TOOL;
    // The user's own, never a folder other users of the machine could have made first.
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/tampod-bench/batch-memory";
    if (!QDir().mkpath(dir) || !QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        say("could not make the folder " + dir.toStdString());
        return 1;
    }
    const QString one = dir + "/one.wav", ten = dir + "/ten.wav", hour = dir + "/hour.flac";
    if (!makeSource(one, 60, "pcm_s16le") || !makeSource(ten, 600, "pcm_s16le") || !makeSource(hour, 3600, "flac")) {
        say("could not make the sources");
        return 1;
    }
    const std::vector<std::string> ones = copies(one, dir + "/one", "one minute", 6);
    const std::vector<std::string> tens = copies(ten, dir + "/ten", "ten minutes", 6);
    std::vector<std::string> twelve = ones;
    twelve.insert(twelve.end(), tens.begin(), tens.end());

    const QString output = dir + "/out";
    const auto batch = [&](const std::vector<std::string> &files) {
        return peakOf([&] {
            QDir(output).removeRecursively();
            QDir().mkpath(output);
            std::vector<std::string> arguments{batchTool, (dir + "/store").toStdString(), output.toStdString()};
            arguments.insert(arguments.end(), files.begin(), files.end());
            return spawn(arguments);
        });
    };
    const double onePeak = batch(ones), tenPeak = batch(tens), twelvePeak = batch(twelve);
    QDir(output).removeRecursively();
    const double decodePeak = peakOf([&] { return spawn({decodeTool, hour.toStdString()}); });
    if (onePeak == 0 || tenPeak == 0 || twelvePeak == 0 || decodePeak == 0) {
        say("a run failed");
        return 1;
    }
    say("Peak resident size, the largest of " + NumberText::whole(runs) + " fresh processes:");
    say("batch of 6 one-minute WAV files to FLAC: " + fixed(onePeak, 1) + " MB");
    say("batch of 6 ten-minute WAV files to FLAC: " + fixed(tenPeak, 1) + " MB");
    say("batch of those 12 files to FLAC: " + fixed(twelvePeak, 1) + " MB");
    say("decode of a sixty-minute FLAC file: " + fixed(decodePeak, 1) + " MB");
    say(goal("batch-flac-one-minute-peak-mb", onePeak, 1, "<= 66"));
    say(goal("batch-flac-ten-minutes-peak-mb", tenPeak, 1, "<= 77"));
    return 0;
}
