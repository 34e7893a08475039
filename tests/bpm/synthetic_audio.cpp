#include "bpm/synthetic_audio.h"

#include "platform/encode/audio_file_writer.h"

#include <QFile>

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tampod::test {

namespace {

// Kick: a sine falling from 140 to 50 Hz; otherwise noise (brightness: how much of it is
// high-passed) over an optional tone, both decaying.
void addHit(std::vector<float> &out, uint64_t &noise, size_t at, double rate, float gain, bool kick,
            double decay, double tone, float brightness)
{
    double phase = 0;
    float low = 0;
    for (size_t i = 0; i < size_t(5.0 / decay * rate) && at + i < out.size(); ++i) {
        const double t = double(i) / rate;
        noise = noise * 6364136223846793005ULL + 1442695040888963407ULL;
        const float n = float(int32_t(noise >> 32)) / 2147483648.0f;
        low += (n - low) * 0.3f;
        phase += 2.0 * std::numbers::pi * (kick ? 50.0 + 90.0 * std::exp(-t * 30.0) : tone) / rate;
        const double body = kick || tone > 0 ? std::sin(phase) : 0.0;
        const double hiss = kick ? 0.0 : brightness * (n - low) + (1 - brightness) * n;
        out[at + i] += gain * float((body * (kick ? 1.0 : 0.5) + hiss) * std::exp(-t * decay));
    }
}

} // namespace

std::vector<float> drumLoop(double bpm, double sampleRate, double seconds, DrumStyle style)
{
    std::vector<float> out(size_t(seconds * sampleRate), 0.0f);
    uint64_t noise = 0x2545F4914F6CDD1DULL;
    const double sixteenth = 60.0 / bpm / 4.0;
    for (int step = 0; step < int(seconds / sixteenth); ++step) {
        const size_t at = size_t(std::llround(step * sixteenth * sampleRate));
        const int s = step % 16;
        const bool fourFloor = style == DrumStyle::fourFloor;
        if (fourFloor ? s % 4 == 0 : s % 8 == 0)
            addHit(out, noise, at, sampleRate, 0.9f, true, 14, 0, 0);
        if (s == 4 || s == 12)
            addHit(out, noise, at, sampleRate, fourFloor ? 0.3f : 0.5f, false, 25, 200, 0.35f);
        if (fourFloor ? s % 4 == 2 : s % 2 == 0)
            addHit(out, noise, at, sampleRate, fourFloor ? 0.18f : 0.12f, false, fourFloor ? 20 : 90, 0, 1);
    }
    return out;
}

void writeWav(const QString &path, const std::vector<float> &interleaved, int channels, int rate,
              bool floatSamples)
{
    AudioFileWriter writer(path, {AudioFileType::wav, rate, channels, floatSamples ? 32 : 16, floatSamples, 0});
    writer.writeInterleaved(interleaved.data(), int64_t(interleaved.size()) / channels);
    writer.finish();
}

void writeLongSilentWav(const QString &path, std::int64_t frames, int rate)
{
    writeWav(path, {}, 1, rate);
    // Patch the RIFF and data sizes of the plain 44-byte header, then extend the file.
    QFile file(path);
    const auto patch = [&file](qint64 at, uint32_t value) {
        const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
        return file.seek(at) && file.write(bytes, 4) == 4;
    };
    if (!file.open(QIODevice::ReadWrite) || file.size() != 44 || !patch(4, uint32_t(36 + frames * 2))
        || !patch(40, uint32_t(frames * 2)) || !file.resize(44 + frames * 2))
        throw std::runtime_error("cannot make the long WAV");
}

} // namespace tampod::test
