// A seek to 90 % of a twenty-minute Ogg Opus and Ogg Vorbis file, then a tenth of a second of
// audio: our decoder as a whole process (the decode_to_nowhere tool with a start and a duration:
// open, seek, read) against `ffmpeg -ss START -i FILE -t 0.1 -f null -`. Both are started and
// measured the same way, runs come in pairs whose first side alternates, and each figure is the
// median over the pairs. The goal is the time until the audio comes, ours, in milliseconds.
#include "process_race.h"

#include "core/number_text.h"

#include <QTemporaryDir>

#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {

constexpr int seconds = 20 * 60;
constexpr int pairs = 9;

} // namespace

int main()
{
    QTemporaryDir dir;
    struct Case {
        std::string name, file;
        int rate;
        std::vector<std::string> codec;
    };
    std::vector<Case> cases = {
        {"opus",
         dir.filePath(QStringLiteral("twenty.opus")).toStdString(),
         48000,
         {"-c:a", "libopus", "-b:a", "128k"}},
        {"vorbis",
         dir.filePath(QStringLiteral("twenty.ogg")).toStdString(),
         44100,
         {"-c:a", "libvorbis", "-q:a", "5"}},
    };
    const Conditions conditions;
    for (const Case &c : cases) {
        // Music-like content, a chord under pink noise, so the codecs have real work to do.
        const std::string timing = ":sample_rate=" + NumberText::whole(c.rate)
                                   + ":duration=" + NumberText::whole(seconds);
        std::vector<std::string> command{
            "ffmpeg",
            "-v",
            "error",
            "-y",
            "-f",
            "lavfi",
            "-i",
            "aevalsrc=0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)+0.2*sin(2*PI*415*t)"
                + timing,
            "-f",
            "lavfi",
            "-i",
            "anoisesrc=c=pink:a=0.1" + timing,
            "-filter_complex",
            "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0"};
        command.insert(command.end(), c.codec.begin(), c.codec.end());
        command.push_back(c.file);
        if (!spawn(command).ok) {
            say("could not make the file: " + c.file);
            return 1;
        }
    }
    say("seek to 90 % of a twenty-minute stereo file and decode 0.1 s, whole processes (medians of "
        + NumberText::whole(pairs) + " pairs; " + conditions.text() + "):");
    say("case  ours ms  ffmpeg ms  ratio  frames");
    bool failed = false;
    std::vector<std::string> goals;
    for (const Case &c : cases) {
        const std::string start = NumberText::whole(seconds * 9 / 10);
        std::string frames;
        const Race result = race(
            pairs,
            [&] {
                Run run = spawn({TAMPOD_DECODE_TOOL, c.file, start, "0.1"}, true);
                frames = run.output.substr(0, run.output.find('\n'));
                return run;
            },
            [&] {
                return spawn({"ffmpeg", "-v", "error", "-ss", start, "-i", c.file, "-t", "0.1",
                              "-f", "null", "-"});
            });
        // A seek that delivered nothing would look fast: the tenth of a second must arrive.
        if (!result.ok || frames != NumberText::whole(c.rate / 10)) {
            say("ogg-seek-" + c.name + ": a run failed (" + frames + " frames of ours)");
            failed = true;
            continue;
        }
        say(c.name + "  " + fixed(median(result.ours) * 1000, 1) + "  "
            + fixed(median(result.peer) * 1000, 1) + "  " + fixed(result.ratio(), 2) + "x  "
            + frames);
        goals.push_back("GOAL ogg-seek-" + c.name + ": " + fixed(median(result.ours) * 1000, 1)
                        + " ms (target <= 50)");
    }
    for (const std::string &line : goals)
        say(line);
    return failed ? 1 : 0;
}
