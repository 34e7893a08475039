#include "journey.h"

#include "bpm/synthetic_audio.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/forks/fork_store.h"
#include "sd2/resource_fork_builder.h"

#include <cmath>

namespace tampod::test {

void writeTone(const QString &path, double seconds, int channels, int rate)
{
    const auto frames = std::int64_t(std::llround(seconds * rate));
    std::vector<float> samples(size_t(frames * channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            samples[size_t(i * channels + c)] = float(0.3 * std::sin(2 * M_PI * (440.0 + 110.0 * c) * double(i) / rate));
    }
    writeWav(path, samples, channels, rate);
}

void writeSD2Channel(const QString &path, std::int64_t frames)
{
    QByteArray data(frames * 2, 0);
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto value = std::int16_t(8000 * std::sin(double(i) * 0.05));
        data[qsizetype(i * 2)] = char(value >> 8);
        data[qsizetype(i * 2 + 1)] = char(value & 0xFF);
    }
    writeFile(path, data);
    ForkStore().write(path, buildFork(parameters("2", "44100", "1")));
}

std::int64_t decodedFrames(const QString &path)
{
    try {
        AudioFileReader reader(path);
        return reader.length();
    } catch (...) {
        return -1;
    }
}

} // namespace tampod::test
