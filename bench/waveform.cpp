// Cost of a waveform overview: 1,024 bins over a 10-minute 44.1 kHz stereo WAV and FLAC file,
// against a plain decode of the same file through the reader, in the same process. The
// overview adds only the peak scan to the decode, so the two should be close.

#include "process_race.h"

#include "playback/waveform_reader.h"

#include "library/audio_track.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace tampod;

namespace {

constexpr int rate = 44100;
constexpr std::int64_t frames = std::int64_t(rate) * 600;
constexpr int rounds = 7;

void say(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

QString fixed(double value, int digits)
{
    return QString::number(value, 'f', digits);
}

// A chord with a slow swell, so that the bins differ.
void write(const QString &path, AudioFileType type)
{
    AudioWriteFormat format;
    format.type = type;
    format.sampleRate = rate;
    format.channels = 2;
    format.bitsPerChannel = 16;
    AudioFileWriter writer(path, format);
    std::vector<float> block(2 * 8192);
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t n = std::min<std::int64_t>(8192, frames - done);
        for (std::int64_t i = 0; i < n; ++i) {
            const double t = double(done + i) / rate;
            const double swell = 0.5 + 0.4 * std::sin(t * 0.5);
            block[std::size_t(2 * i)] = float(swell * std::sin(t * 2 * M_PI * 220));
            block[std::size_t(2 * i + 1)] = float(swell * std::sin(t * 2 * M_PI * 331));
        }
        writer.writeInterleaved(block.data(), n);
        done += n;
    }
    writer.finish();
}

std::int64_t plainDecode(const QString &path)
{
    AudioFileReader reader(path);
    std::vector<float> left(8192), right(8192);
    float *planes[] = {left.data(), right.data()};
    std::int64_t total = 0;
    while (const std::int64_t n = reader.readFloatPlanar(planes, 8192))
        total += n;
    return total;
}

template <typename Fn>
double seconds(Fn &&fn)
{
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    tampod::bench::Conditions conditions;
    struct Source {
        const char *name;
        AudioFileType type;
    };
    const Source sources[] = {{"wav", AudioFileType::wav}, {"flac", AudioFileType::flac}};
    say(QStringLiteral("10 minutes, 44.1 kHz stereo, 1,024 bins; best of %1 runs each").arg(rounds));
    say(QStringLiteral("format  decode s  overview s  ratio"));
    double worst = 0;
    for (const Source &source : sources) {
        const QString path = dir.filePath(QStringLiteral("take.") + QLatin1String(source.name));
        write(path, source.type);
        AudioTrack track;
        track.id = QUuid::createUuid();
        track._url = TrackedFileURL(QUrl::fromLocalFile(path));
        double decode = 1e9;
        double overview = 1e9;
        bool complete = true;
        // Interleaved runs, so that both meet the same cache and clock conditions.
        for (int r = 0; r < rounds; ++r) {
            decode = std::min(decode, seconds([&] { complete = complete && plainDecode(path) == frames; }));
            overview = std::min(overview, seconds([&] {
                const WaveformPeaks peaks = WaveformReader::peaks(track, {}, 1024, std::nullopt);
                complete = complete && peaks.size() == 1024 && peaks.front() > 0;
            }));
        }
        if (!complete) {
            say(QStringLiteral("%1: the decode or the overview came back incomplete").arg(source.name));
            return 1;
        }
        const double ratio = overview / decode;
        worst = std::max(worst, ratio);
        say(QStringLiteral("%1  %2  %3  %4x")
                .arg(QLatin1String(source.name), -6)
                .arg(fixed(decode, 3), 8)
                .arg(fixed(overview, 3), 10)
                .arg(fixed(ratio, 2), 5));
    }
    conditions.finish();
    say(QStringLiteral("GOAL overview-cost: %1 (target <= 1.2), ").arg(fixed(worst, 2)) +
        QString::fromStdString(conditions.text()));
    return 0;
}
