// Build step: synthesises the Vinyl texture and hum samples, since we ship no recordings.
// Three record-surface characters (hiss, clicks and pops of varied size, low rumble) and a
// 50 Hz mains hum with harmonics, as 48 kHz FLAC files. The output depends only on this
// program: the same build always writes the same samples.
//
//   generate_vinyl_samples FOLDER

#include "core/error.h"
#include "platform/encode/audio_file_writer.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

using namespace tampod;

namespace {

constexpr int rate = 48000;

// splitmix64: portable and fixed, unlike the standard library's distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; } // [0, 1)
    double symmetric() { return 2 * uniform() - 1; }
    // Roughly normal: the sum of four uniforms, scaled to unit variance.
    double gaussian() { return (uniform() + uniform() + uniform() + uniform() - 2) * std::sqrt(3.0); }

private:
    std::uint64_t state_;
};

// One-pole filters, enough for noise colours and click shapes.
struct LowPass {
    double a = 0, y = 0;
    LowPass(double cutoff) : a(1 - std::exp(-2 * std::numbers::pi * cutoff / rate)) {}
    double operator()(double x) { return y += a * (x - y); }
};
struct HighPass {
    LowPass low;
    HighPass(double cutoff) : low(cutoff) {}
    double operator()(double x) { return x - low(x); }
};

struct Character {
    std::uint64_t seed;
    int frames;
    double hiss;          // level of the band-limited surface noise
    double hissLow, hissHigh;
    double clicksPerSecond;
    double clickSize;     // typical click peak
    double popsPerSecond;
    double popSize;
    double rumble;        // level of the low-frequency wobble
};

// A record surface: stereo, each channel its own hiss, clicks mostly shared between sides.
std::vector<float> surface(const Character &c)
{
    Random random(c.seed);
    std::vector<double> left(size_t(c.frames)), right(size_t(c.frames));
    for (auto *channel : {&left, &right}) {
        HighPass band(c.hissLow);
        LowPass top(c.hissHigh);
        LowPass rumbleFilter(25);
        LowPass rumbleSmooth(12);
        for (double &v : *channel) {
            v = c.hiss * top(band(random.gaussian()));
            v += c.rumble * 40 * rumbleSmooth(rumbleFilter(random.gaussian()));
        }
    }
    // Clicks: a few samples of sharp impulse with a quick, bright decay; sizes spread widely
    // (most are small, a few stand out), as dust and scratches give.
    const auto addEvents = [&](double perSecond, double size, double decayMs, double tone) {
        const int events = int(perSecond * c.frames / rate);
        for (int e = 0; e < events; ++e) {
            const int at = int(random.uniform() * (c.frames - 1));
            const double peak = size * std::pow(random.uniform(), 3.0) * (random.uniform() < 0.5 ? -1 : 1);
            const double spread = 0.6 + 0.4 * random.uniform(); // one side a little weaker
            const bool leftLouder = random.uniform() < 0.5;
            const double decay = std::exp(-1000.0 / (decayMs * (0.5 + random.uniform()) * rate));
            LowPass shape(tone * (0.5 + random.uniform()));
            double envelope = 1;
            for (int i = at; i < c.frames && envelope > 1e-4; ++i, envelope *= decay) {
                const double x = shape(i == at ? peak * 4 : 0) + peak * envelope * random.symmetric() * 0.3;
                left[size_t(i)] += leftLouder ? x : x * spread;
                right[size_t(i)] += leftLouder ? x * spread : x;
            }
        }
    };
    addEvents(c.clicksPerSecond, c.clickSize, 0.4, 9000);
    addEvents(c.popsPerSecond, c.popSize, 4.0, 1800);

    double peak = 0;
    for (size_t i = 0; i < left.size(); ++i)
        peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
    std::vector<float> interleaved(left.size() * 2);
    for (size_t i = 0; i < left.size(); ++i) {
        interleaved[2 * i] = float(0.9 * left[i] / peak);
        interleaved[2 * i + 1] = float(0.9 * right[i] / peak);
    }
    return interleaved;
}

// Mains hum, mono: 50 Hz and its harmonics, a touch of noise. Two seconds hold a whole number
// of cycles both in the file and in the loop period (the length less 0.1 s).
std::vector<float> hum()
{
    Random random(0x48554D);
    const int frames = 2 * rate;
    const double harmonics[] = {1.0, 0.55, 0.35, 0.18, 0.1, 0.06, 0.03};
    std::vector<float> samples(static_cast<size_t>(frames));
    LowPass noiseColour(2000);
    double peak = 0;
    std::vector<double> values(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        double v = 0;
        for (int h = 0; h < int(std::size(harmonics)); ++h)
            v += harmonics[h] * std::sin(2 * std::numbers::pi * 50 * (h + 1) * i / rate + 0.7 * h);
        v += 0.02 * noiseColour(random.gaussian());
        values[size_t(i)] = v;
        peak = std::max(peak, std::abs(v));
    }
    for (int i = 0; i < frames; ++i)
        samples[size_t(i)] = float(0.9 * values[size_t(i)] / peak);
    return samples;
}

void write(const QString &path, int channels, const std::vector<float> &interleaved)
{
    QFile::remove(path);
    AudioWriteFormat format;
    format.type = AudioFileType::flac;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerChannel = 16;
    AudioFileWriter writer(path, format);
    writer.writeInterleaved(interleaved.data(), int64_t(interleaved.size()) / channels);
    writer.finish();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: generate_vinyl_samples FOLDER\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "generate_vinyl_samples: cannot make %s\n", argv[1]);
        return 1;
    }
    // Light dust; a worn, rumbling record; sparse crackle with now and then a big pop.
    const Character characters[] = {
        {0x56494E594C31ULL, 8 * rate, 0.010, 900, 9000, 45, 0.35, 0.6, 0.5, 0.004},
        {0x56494E594C32ULL, 7 * rate, 0.022, 400, 6000, 90, 0.5, 2.5, 0.9, 0.012},
        {0x56494E594C33ULL, 9 * rate, 0.006, 1500, 4500, 14, 0.45, 0.25, 1.0, 0.007},
    };
    try {
        for (int i = 0; i < 3; ++i)
            write(folder + QStringLiteral("/lo-fi_vinyl%1.flac").arg(i + 1), 2, surface(characters[i]));
        write(folder + QStringLiteral("/vinyl_hum.flac"), 1, hum());
    } catch (const Error &error) {
        std::fprintf(stderr, "generate_vinyl_samples: %s\n", error.what());
        return 1;
    }
    return 0;
}
