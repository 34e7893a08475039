// Full decode of ten-minute files, per format, and of a sixty-minute FLAC file: our decoder as a
// whole process (the decode_to_nowhere tool: AudioFileReader, float, block by block) against
// `ffmpeg -v error -i FILE -f null -`. Both are started and measured the same way, fork, exec
// and wait4, so start-up counts on both sides and the peak memory is the child's own maximum
// resident size. Runs come in pairs, the side that starts first alternating, and each figure is
// the median over the pairs, so a busy moment of the machine falls on both sides alike.
#include "../process_race.h"

#include "core/number_text.h"

#include <QTemporaryDir>

#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {

constexpr int rate = 44100;
constexpr int seconds = 600;
constexpr int longSeconds = 3600;
constexpr int rounds = 5;
constexpr int longRounds = 3; // a long run is steadier; keeps the benchmark near two minutes

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
        std::string frames;
        const Race result = race(
            c.rounds,
            [&] {
                Run run = spawn({TAMPOD_DECODE_TOOL, c.file}, true);
                frames = run.output.substr(0, run.output.find('\n'));
                return run;
            },
            [&] { return spawn({"ffmpeg", "-v", "error", "-i", c.file, "-f", "null", "-"}); });
        // A short decode would look fast: every frame must arrive.
        if (!result.ok || frames != NumberText::whole(int64_t{rate} * c.seconds)) {
            say(c.goal + ": a decode failed (" + frames + " frames of ours)");
            failed = true;
            continue;
        }
        const double ratio = result.ratio();
        worstMemory = std::max(worstMemory, result.ourPeakMB / result.peerPeakMB);
        say(c.goal + "  " + fixed(median(result.ours), 3) + "  " + fixed(median(result.peer), 3) + "  "
            + fixed(ratio, 2) + "x  (" + fixed(median(result.ourCpu), 3) + "  " + fixed(median(result.peerCpu), 3)
            + ")  " + fixed(result.ourPeakMB, 1) + "  " + fixed(result.peerPeakMB, 1) + "  " + frames);
        goals.push_back(goal(c.goal, result, 2, ">= 1.1"));
    }
    for (const std::string &goal : goals)
        say(goal);
    if (failed)
        return 1;
    say(goal("decode-peak-memory", worstMemory, 2, "<= 1.0"));
    return 0;
}
