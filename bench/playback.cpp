// CPU time the player costs per second of audio on the null output: a 44.1 kHz stereo FLAC
// file alone, then with a second (preview) player sounding at the same time; as the peer, the
// cost of decoding the same file with the reader alone. Then the playback engine driven by its
// command queue with the position monitor polling every 33 ms, as the main window plays.

#include "process_race.h"

#include "playback/audio_playback.h"
#include "player/playback_command_coordinator.h"
#include "platform/output/audio_file_player.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/output/null_audio_output.h"

#include "core/number_text.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace tampod;

namespace {

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool makeFlac(const QString &path, int seconds, int frequency)
{
    QProcess ffmpeg;
    const QString source = QStringLiteral("sine=frequency=%1:sample_rate=44100:duration=%2")
                               .arg(NumberText::wholeQ(frequency), NumberText::wholeQ(seconds));
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                  QStringLiteral("lavfi"), QStringLiteral("-i"), source, QStringLiteral("-ac"),
                  QStringLiteral("2"), QStringLiteral("-c:a"), QStringLiteral("flac"), path});
    return ffmpeg.waitForFinished(120000) && ffmpeg.exitStatus() == QProcess::NormalExit
           && ffmpeg.exitCode() == 0;
}

void print(const std::string &text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

std::string percent(double fraction)
{
    return NumberText::describe(std::round(fraction * 10000) / 100) + " %";
}

// Plays for the given wall-clock time and returns the process CPU seconds spent.
double measure(const std::vector<AudioFilePlayer *> &players, std::chrono::seconds span)
{
    for (auto *player : players) {
        player->setCurrentTime(0);
        player->prepareToPlay();
    }
    const double cpuBefore = processCpuSeconds();
    for (auto *player : players)
        player->play();
    std::this_thread::sleep_for(span);
    for (auto *player : players)
        player->pause();
    return processCpuSeconds() - cpuBefore;
}

// CPU seconds for decoding the whole file as fast as possible, per second of its audio.
double decodeOnly(const QString &path)
{
    AudioFileReader reader(path);
    std::vector<float> block(static_cast<size_t>(AudioFileReader::defaultBlockFrames) * reader.channels());
    const double cpuBefore = processCpuSeconds();
    std::int64_t frames = 0;
    while (const auto n = reader.readFloatInterleaved(block.data(), AudioFileReader::defaultBlockFrames))
        frames += n;
    return (processCpuSeconds() - cpuBefore) / (static_cast<double>(frames) / reader.fileSampleRate());
}

void runEventLoop(std::chrono::milliseconds span)
{
    QEventLoop loop;
    QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Plays the file through the engine from the start with the monitor running; returns the
// process CPU seconds spent per second of audio and the number of polls seen.
std::pair<double, int> measureEngine(const QString &path, std::chrono::seconds span)
{
    auto engine = std::make_shared<AudioPlayback>();
    PlaybackCommandCoordinator commands(engine);
    int polls = 0;
    commands.shouldMonitor = [] { return true; };
    commands.updated = [&polls](const PlaybackSnapshot &, bool refresh) { polls += refresh ? 0 : 1; };
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    commands.enqueue(false, [track](PlaybackServing &engine) -> QCoro::Task<> {
        co_await engine.load(track, 0.7, false);
        co_await engine.play();
    });
    // Loading is not part of the figure: measure from the first poll on.
    while (polls == 0)
        runEventLoop(std::chrono::milliseconds(5));
    const double cpuBefore = processCpuSeconds();
    runEventLoop(span);
    const double cpu = processCpuSeconds() - cpuBefore;
    const int seen = polls;
    commands.enqueue(false, [](PlaybackServing &engine) -> QCoro::Task<> { co_await engine.unload(); });
    commands.shouldMonitor = [] { return false; };
    runEventLoop(std::chrono::milliseconds(100)); // let the unload and the monitor's last sleep end
    return {cpu / static_cast<double>(span.count()), seen};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 10;
    tampod::bench::Conditions conditions;
    if (argc > 1) {
        const auto parsed = NumberText::parse(std::string_view(argv[1]));
        const auto whole = parsed ? NumberText::toInt32(*parsed) : std::nullopt;
        if (!whole || *whole < 1 || *whole > 3600) {
            print("usage: bench_playback [seconds]\n");
            return 2;
        }
        seconds = *whole;
    }
    AudioOutput::setShared(std::make_shared<NullAudioOutput>());

    QTemporaryDir dir;
    const QString mainPath = dir.filePath(QStringLiteral("main.flac"));
    const QString previewPath = dir.filePath(QStringLiteral("preview.flac"));
    if (!makeFlac(mainPath, seconds + 5, 440) || !makeFlac(previewPath, 3, 660)) {
        print("bench_playback: ffmpeg could not make the test files\n");
        return 1;
    }
    AudioFilePlayer mainPlayer(mainPath);
    AudioFilePlayer preview(previewPath);
    preview.setNumberOfLoops(-1);
    const auto span = std::chrono::seconds(seconds);

    print("null output, 44.1 kHz stereo FLAC, " + NumberText::whole(seconds) + " s each\n");
    const double alone = measure({&mainPlayer}, span) / seconds;
    print("main player alone:        " + percent(alone) + " of one core per second of audio\n");
    const double both = measure({&mainPlayer, &preview}, span) / seconds;
    print("main player with preview: " + percent(both) + " of one core per second of audio\n");
    const double decoding = decodeOnly(mainPath);
    print("decoding alone (peer):    " + percent(decoding) + " of one core per second of audio\n");
    print("player / decoding alone:  " + NumberText::describe(std::round(alone / decoding * 10) / 10) + "\n");
    print("target: under 2 % each\n");

    // The engine with its monitor: several runs, as one run can catch a busy moment.
    constexpr int runs = 5;
    std::vector<double> engineCpu;
    int polls = 0;
    for (int run = 0; run < runs; ++run) {
        const auto [cpu, seen] = measureEngine(mainPath, span);
        engineCpu.push_back(cpu);
        polls += seen;
    }
    std::sort(engineCpu.begin(), engineCpu.end());
    const double median = engineCpu[runs / 2];
    print("engine with 33 ms monitor: " + percent(median) + " of one core per second of audio (median of "
          + NumberText::whole(runs) + " runs; " + NumberText::describe(std::round(polls * 10.0 / (runs * seconds)) / 10)
          + " polls a second)\n");
    print("engine / player alone:     " + NumberText::describe(std::round(median / alone * 10) / 10) + "\n");
    conditions.finish();
    print("GOAL playback-cpu: " + NumberText::describe(std::round(median * 10000) / 100) + " (target <= 2), " +
          conditions.text() + "\n");
    return 0;
}
