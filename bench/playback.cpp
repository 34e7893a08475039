// CPU time the player costs per second of audio on the null output: a 44.1 kHz stereo FLAC
// file alone, then with a second (preview) player sounding at the same time; as the peer, the
// cost of decoding the same file with the reader alone.

#include "platform/output/audio_file_player.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/output/null_audio_output.h"

#include "core/number_text.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 10;
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
    return 0;
}
