// Developer tool: plays an audio file through the default output device (or the null output
// when there is none) and prints the position and the meters, for checks by ear.
//
//   play_file FILE [--loops N] [--volume V] [--start SECONDS]

#include "platform/output/audio_file_player.h"
#include "platform/output/audio_output.h"

#include "core/error.h"
#include "core/number_text.h"

#include <QCoreApplication>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>

using namespace tampod;

namespace {

std::atomic<bool> interrupted{false};

void print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

QString number(double value)
{
    return NumberText::describeQ(std::round(value * 100) / 100);
}

int usage()
{
    print(QStringLiteral("usage: play_file FILE [--loops N] [--volume V] [--start SECONDS]\n"));
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    for (const auto &setting : AudioOutput::environment) // while this is the only thread
        setenv(setting.name, setting.value, 1);
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    QString path;
    int loops = 0;
    double volume = 1;
    double start = 0;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (!argument.startsWith(QStringLiteral("--"))) {
            if (!path.isEmpty())
                return usage();
            path = argument;
            continue;
        }
        if (i + 1 >= arguments.size())
            return usage();
        const auto value = NumberText::parse(arguments[++i]);
        if (!value)
            return usage();
        if (argument == QStringLiteral("--loops")) {
            const auto whole = NumberText::toInt32(*value);
            if (!whole)
                return usage();
            loops = *whole;
        } else if (argument == QStringLiteral("--volume")) {
            volume = *value;
        } else if (argument == QStringLiteral("--start")) {
            start = *value;
        } else {
            return usage();
        }
    }
    if (path.isEmpty())
        return usage();

    std::signal(SIGINT, [](int) { interrupted = true; });
    try {
        print(QStringLiteral("output: %1\n").arg(AudioOutput::shared()->deviceName()));
        AudioFilePlayer player(path);
        std::atomic<int> finished{-1};
        player.setFinishedHandler([&](bool ok) { finished = ok ? 1 : 0; });
        player.setDecodeErrorHandler([](std::exception_ptr error) {
            print(QStringLiteral("decode error: %1\n").arg(errorText(error)));
        });
        player.setNumberOfLoops(loops);
        player.setVolume(static_cast<float>(volume));
        player.setCurrentTime(start);
        print(QStringLiteral("%1 channel(s), %2 s\n")
                  .arg(NumberText::wholeQ(player.numberOfChannels()), number(player.duration())));
        if (!player.prepareToPlay() || !player.play()) {
            print(QStringLiteral("the file could not be played\n"));
            return 1;
        }
        while (finished < 0 && !interrupted) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            player.updateMeters();
            QString line = QStringLiteral("%1 s").arg(number(player.currentTime()));
            for (int c = 0; c < player.numberOfChannels(); ++c)
                line += QStringLiteral("  %1 dB").arg(number(player.peakPower(c)));
            print(line + QStringLiteral("\n"));
        }
        player.stop();
        print(finished == 1 ? QStringLiteral("finished\n")
                            : finished == 0 ? QStringLiteral("finished with an error\n")
                                            : QStringLiteral("stopped\n"));
        return finished == 0 ? 1 : 0;
    } catch (...) {
        print(QStringLiteral("%1\n").arg(errorText(std::current_exception())));
        return 1;
    }
}
