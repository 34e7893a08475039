// Full decode speed of AudioFileReader against the ffmpeg command line, per format, and the
// peak memory of a streaming read of a one-hour file.
//
//   bench_decode                 run everything (makes its files in a temporary folder)
//   bench_decode --stream FILE   (internal) stream FILE and print this process's peak memory
#include "core/number_text.h"
#include "platform/decode/audio_file_reader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace tampod;

namespace {

constexpr int rate = 44100;

std::string fixed1(double value)
{
    return NumberText::describe(std::round(value * 10) / 10);
}

void say(const std::string &line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

// Music-like content: a chord under pink noise, so codecs have real work to do.
bool makeSource(const QString &path, int seconds, const QStringList &codec)
{
    QStringList arguments{
        QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
        QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("aevalsrc=0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)"
                       "+0.2*sin(2*PI*415*t):s=%1:d=%2")
            .arg(rate)
            .arg(seconds),
        QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("anoisesrc=c=pink:r=%1:a=0.1:d=%2").arg(rate).arg(seconds),
        QStringLiteral("-filter_complex"),
        QStringLiteral("[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0")};
    arguments << codec << path;
    return run(QStringLiteral("ffmpeg"), arguments);
}

int64_t decodeAll(const QString &path)
{
    AudioFileReader reader(path);
    std::vector<float> buffer(size_t(AudioFileReader::defaultBlockFrames * reader.channels()));
    int64_t total = 0;
    for (int64_t n; (n = reader.readFloatInterleaved(buffer.data(), AudioFileReader::defaultBlockFrames)) > 0;)
        total += n;
    return total;
}

int64_t peakMemoryKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--stream")) {
        const int64_t before = peakMemoryKiB();
        const int64_t frames = decodeAll(args[2]);
        say(NumberText::whole(frames) + " " + NumberText::whole(before) + " "
            + NumberText::whole(peakMemoryKiB()));
        return 0;
    }

    QTemporaryDir dir;
    const int seconds = 600;
    struct Format {
        const char *name;
        QStringList codec;
    };
    const std::vector<Format> formats = {
        {"wav", {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}},
        {"flac", {QStringLiteral("-c:a"), QStringLiteral("flac")}},
        {"mp3", {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("192k")}},
        {"m4a", {QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"), QStringLiteral("192k")}},
    };
    say("10-minute 44.1 kHz stereo file, full decode to 32-bit float (x realtime):");
    say("format  ours  ffmpeg  ratio");
    for (const Format &format : formats) {
        const QString path = dir.filePath(QStringLiteral("ten.") + QLatin1String(format.name));
        if (!makeSource(path, seconds, format.codec)) {
            say(std::string(format.name) + ": could not make the file");
            return 1;
        }
        // Best of three for each, so a busy machine disturbs the ratio less.
        int64_t frames = 0;
        double ours = 0;
        double theirs = 0;
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer timer;
            timer.start();
            frames = decodeAll(path);
            ours = std::max(ours, double(seconds) / (double(timer.nsecsElapsed()) / 1e9));
            timer.restart();
            run(QStringLiteral("ffmpeg"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                 QStringLiteral("-f"), QStringLiteral("f32le"), QStringLiteral("-y"),
                 QStringLiteral("/dev/null")});
            theirs = std::max(theirs, double(seconds) / (double(timer.nsecsElapsed()) / 1e9));
        }
        say(std::string(format.name) + "  " + fixed1(ours) + "  " + fixed1(theirs) + "  "
            + NumberText::describe(std::round(ours / theirs * 100) / 100) + "  ("
            + NumberText::whole(frames) + " frames)");
    }

    say("Peak memory of a streaming read of a one-hour file (limit 64 MB):");
    for (const Format &format : {formats[1], formats[3]}) {
        const QString path = dir.filePath(QStringLiteral("hour.") + QLatin1String(format.name));
        if (!makeSource(path, 3600, format.codec)) {
            say(std::string(format.name) + ": could not make the file");
            return 1;
        }
        QProcess child;
        child.start(app.applicationFilePath(), {QStringLiteral("--stream"), path});
        child.waitForFinished(-1);
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        if (fields.size() != 3) {
            say(std::string(format.name) + ": the streaming read failed");
            return 1;
        }
        const double startMB = fields[1].toDouble() / 1024;
        const double peakMB = fields[2].toDouble() / 1024;
        say(std::string(format.name) + "  " + fields[0].toStdString() + " frames, peak "
            + fixed1(peakMB) + " MB (" + fixed1(startMB) + " MB before opening)");
    }
    return 0;
}
