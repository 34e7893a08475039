// Tempo detection against bpm-tools and aubio on one generated set of drum-and-bass pieces of
// known tempo: decode plus analysis speed (× realtime), CPU time and the share of tempos found.
// Every detector is timed the same way: one whole process (or pipeline) per file, fork to
// wait4, in an order that alternates from file to file, over several passes.
//
//   bench_bpm   (makes its files in a temporary folder; needs sox, bpm and aubio on the PATH)
#include "../process_race.h"

#include "core/number_text.h"
#include "platform/encode/audio_file_writer.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

using namespace tampod;
using tampod::bench::fixed;
using tampod::bench::say;

namespace {

constexpr int passes = 3;

// A fixed generator, so every run makes the same set.
class Random {
public:
    double next() // 0 ..< 1
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(state_ >> 11) / 9007199254740992.0;
    }
    float noise() { return float(next() * 2 - 1); }

private:
    uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

enum class Style { house, rock, hiphop, funk, dnb };

// The drums of one bar of sixteen steps: kick, snare, closed hat, open hat velocities (0: none).
struct Bar {
    std::array<float, 16> kick{}, snare{}, hat{}, open{};
};

Bar pattern(Style style)
{
    Bar b;
    const auto set = [](std::array<float, 16> &lane, std::initializer_list<int> steps, float v) {
        for (int s : steps)
            lane[size_t(s)] = v;
    };
    switch (style) {
    case Style::house:
        set(b.kick, {0, 4, 8, 12}, 1.0f);
        set(b.snare, {4, 12}, 0.7f);
        set(b.open, {2, 6, 10, 14}, 0.5f);
        set(b.hat, {1, 3, 5, 7, 9, 11, 13, 15}, 0.25f);
        break;
    case Style::rock:
        set(b.kick, {0, 8, 10}, 1.0f);
        set(b.snare, {4, 12}, 0.9f);
        set(b.hat, {0, 2, 4, 6, 8, 10, 12, 14}, 0.4f);
        break;
    case Style::hiphop:
        set(b.kick, {0, 7, 10}, 1.0f);
        set(b.snare, {4, 12}, 1.0f);
        set(b.hat, {0, 2, 4, 6, 8, 10, 12, 14}, 0.35f);
        break;
    case Style::funk:
        set(b.kick, {0, 3, 10}, 1.0f);
        set(b.snare, {4, 12}, 0.9f);
        set(b.snare, {7, 9, 15}, 0.25f); // ghost notes
        for (int s = 0; s < 16; ++s)
            b.hat[size_t(s)] = s % 2 ? 0.2f : 0.35f;
        break;
    case Style::dnb:
        set(b.kick, {0, 10}, 1.0f);
        set(b.snare, {4, 12}, 1.0f);
        set(b.hat, {0, 2, 4, 6, 8, 10, 12, 14}, 0.3f);
        set(b.open, {14}, 0.3f);
        break;
    }
    return b;
}

// Drum sounds made once per rate; noise hits come in four variants.
struct Kit {
    std::vector<float> kick;
    std::array<std::vector<float>, 4> snare, hat, open;

    explicit Kit(double rate, Random &random)
    {
        kick.resize(size_t(0.35 * rate));
        double phase = 0;
        for (size_t i = 0; i < kick.size(); ++i) {
            const double t = double(i) / rate;
            phase += 2 * std::numbers::pi * (48 + 100 * std::exp(-t * 35)) / rate;
            kick[i] = float(std::sin(phase) * std::exp(-t * 12));
        }
        for (size_t v = 0; v < 4; ++v) {
            snare[v] = noiseHit(rate, random, 0.22, 22, 190, 0.5);
            hat[v] = noiseHit(rate, random, 0.05, 90, 0, 0.95);
            open[v] = noiseHit(rate, random, 0.25, 14, 0, 0.9);
        }
    }

    static std::vector<float> noiseHit(double rate, Random &random, double seconds, double decay, double tone,
                                       double brightness)
    {
        std::vector<float> hit(size_t(seconds * rate));
        float low = 0;
        for (size_t i = 0; i < hit.size(); ++i) {
            const double t = double(i) / rate;
            const float n = random.noise();
            low += (n - low) * 0.2f;
            const double hiss = brightness * (n - low) + (1 - brightness) * n;
            const double body = tone > 0 ? 0.6 * std::sin(2 * std::numbers::pi * tone * t) : 0;
            hit[i] = float((hiss + body) * std::exp(-t * decay));
        }
        return hit;
    }
};

void mix(std::vector<float> &out, const std::vector<float> &hit, size_t at, float gain)
{
    for (size_t i = 0; i < hit.size() && at + i < out.size(); ++i)
        out[at + i] += gain * hit[i];
}

struct Piece {
    double bpm;
    Style style;
    double seconds;
    int rate;
    bool flac;
};

// Stereo frames: drums in the middle, a bass note on each beat, a pad chord per bar, a quiet
// noise floor; hits vary in loudness, the hip-hop pattern swings.
std::vector<float> render(const Piece &piece, Random &random)
{
    const double rate = piece.rate;
    const size_t frames = size_t(piece.seconds * rate);
    std::vector<float> drums(frames, 0.0f);
    const Kit kit(rate, random);
    const Bar bar = pattern(piece.style);
    const double step = 60.0 / piece.bpm / 4;
    for (int n = 0; n * step < piece.seconds; ++n) {
        const size_t s = size_t(n % 16);
        const double swing = piece.style == Style::hiphop && n % 2 ? step / 3 : 0;
        const size_t at = size_t(std::llround((n * step + swing) * rate));
        const auto velocity = [&random](float v) { return v * float(0.8 + 0.2 * random.next()); };
        const size_t variant = size_t(random.next() * 4);
        if (bar.kick[s] > 0)
            mix(drums, kit.kick, at, velocity(bar.kick[s]));
        if (bar.snare[s] > 0)
            mix(drums, kit.snare[variant], at, velocity(bar.snare[s]));
        if (bar.hat[s] > 0)
            mix(drums, kit.hat[variant], at, velocity(bar.hat[s]) * 0.5f);
        if (bar.open[s] > 0)
            mix(drums, kit.open[variant], at, velocity(bar.open[s]) * 0.5f);
    }

    static constexpr double roots[] = {55.0, 43.65, 49.0, 41.2}; // A, F, G, E
    std::vector<float> stereo(frames * 2);
    const double beat = 60.0 / piece.bpm;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double root = roots[size_t(t / (4 * beat)) % 4];
        const double sinceBeat = std::fmod(t, beat);
        const double bass = 0.25 * std::sin(2 * std::numbers::pi * root * t) * std::exp(-sinceBeat * 4);
        double pad = 0;
        for (const double ratio : {2.0, 2.52, 3.0})
            pad += 0.04 * std::sin(2 * std::numbers::pi * root * ratio * t);
        const double floor = 0.003 * random.noise();
        stereo[2 * i] = float(0.6 * drums[i] + bass + pad + floor);
        stereo[2 * i + 1] = float(0.6 * drums[i] + bass + 0.9 * pad + floor);
    }
    float peak = 0;
    for (float x : stereo)
        peak = std::max(peak, std::abs(x));
    for (float &x : stereo)
        x *= 0.9f / peak;
    return stereo;
}

std::optional<double> firstNumberOf(const std::string &output)
{
    const QList<QByteArray> words = QByteArray::fromStdString(output).simplified().split(' ');
    if (words.isEmpty())
        return std::nullopt;
    return NumberText::parse(std::string_view(words.first().constData(), size_t(words.first().size())));
}

// One detector on one file: its tempo (none when it failed or printed none) and its run.
struct Detection {
    std::optional<double> tempo;
    bench::Run run;
};

Detection detected(bench::Run run, double scale = 1)
{
    const auto tempo = run.ok ? firstNumberOf(run.output) : std::nullopt;
    return {tempo ? std::optional(*tempo * scale) : std::nullopt, std::move(run)};
}

// sox decodes to mono float at the file's own rate straight into bpm, no shell between. bpm
// takes every input as 44.1 kHz, so a 48 kHz file reads slower by 44.1/48: its search range
// is scaled down and its answer back up, rather than resampling the audio for it alone.
Detection bpmTools(const std::string &path, int rate)
{
    const double stretch = 44100.0 / rate;
    return detected(bench::spawnChain({{"sox", path, "-t", "raw", "-e", "float", "-b", "32", "-c", "1", "-"},
                                       {"bpm", "-f", "%0.3f", "-m", NumberText::describe(50 * stretch), "-x",
                                        NumberText::describe(220 * stretch)}},
                                      true),
                    1 / stretch);
}

// One tool's figures: per pass, the wall and CPU seconds over the whole set.
struct Tool {
    std::string name;
    std::function<Detection(size_t)> detect;
    std::vector<std::optional<double>> tempos; // from the first pass
    std::vector<double> seconds, cpuSeconds;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<Piece> pieces = {
        {72, Style::hiphop, 90, 44100, false},  {80, Style::rock, 60, 44100, true},
        {86, Style::hiphop, 120, 48000, false}, {90, Style::rock, 75, 44100, false},
        {95, Style::funk, 100, 44100, true},    {100, Style::rock, 45, 44100, false},
        {108, Style::funk, 150, 44100, false},  {115, Style::house, 60, 48000, true},
        {120, Style::house, 180, 44100, false}, {124, Style::house, 90, 44100, false},
        {128, Style::house, 120, 44100, true},  {132, Style::rock, 60, 44100, false},
        {138, Style::funk, 100, 44100, false},  {145, Style::rock, 80, 48000, false},
        {150, Style::dnb, 70, 44100, true},     {160, Style::rock, 50, 44100, false},
        {174, Style::dnb, 120, 44100, false},   {186, Style::dnb, 65, 44100, true},
    };
    QTemporaryDir dir;
    Random random;
    std::vector<QString> paths;
    double total = 0;
    for (const Piece &piece : pieces) {
        const QString path = dir.filePath(QStringLiteral("piece-%1.%2")
                                              .arg(paths.size())
                                              .arg(piece.flac ? QStringLiteral("flac") : QStringLiteral("wav")));
        const auto frames = render(piece, random);
        AudioFileWriter writer(path, {piece.flac ? AudioFileType::flac : AudioFileType::wav, piece.rate, 2, 16, false, 0});
        writer.writeInterleaved(frames.data(), int64_t(frames.size() / 2));
        writer.finish();
        paths.push_back(path);
        total += piece.seconds;
    }
    say("Tempo detection of " + NumberText::whole(int64_t(pieces.size())) + " generated pieces, "
        + fixed(total / 60, 1) + " minutes of 16-bit stereo WAV and FLAC at 44.1 and 48 kHz");

    const bool haveTheirs = !QStandardPaths::findExecutable(QStringLiteral("bpm")).isEmpty()
                            && !QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty()
                            && !QStandardPaths::findExecutable(QStringLiteral("aubio")).isEmpty();
    std::vector<Tool> tools;
    tools.push_back({"tamPOD", [&](size_t i) {
                         return detected(bench::spawn({TAMPOD_DETECT_TOOL, paths[i].toStdString()}, true));
                     }, {}, {}, {}});
    if (haveTheirs) {
        tools.push_back({"bpm-tools", [&](size_t i) { return bpmTools(paths[i].toStdString(), pieces[i].rate); },
                         {}, {}, {}});
        tools.push_back({"aubio", [&](size_t i) {
                             return detected(bench::spawn({"aubio", "tempo", "-i", paths[i].toStdString()}, true));
                         }, {}, {}, {}});
    } else {
        say("sox, bpm (bpm-tools) or aubio (aubio-tools) is missing: only tamPOD is measured");
    }

    // Every file is a round of all tools, one process (or pipeline) each; the order turns round
    // from file to file and pass to pass, so ours and the peer go first equally often and a busy
    // moment falls on all alike. Each figure is the median of the passes' totals.
    bench::Conditions conditions;
    std::vector<double> ratios, cpuRatios;
    for (int pass = 0; pass < passes; ++pass) {
        for (Tool &tool : tools) {
            tool.seconds.push_back(0);
            tool.cpuSeconds.push_back(0);
        }
        for (size_t i = 0; i < paths.size(); ++i) {
            std::vector<size_t> order(tools.size());
            for (size_t t = 0; t < order.size(); ++t)
                order[t] = (i + size_t(pass)) % 2 ? order.size() - 1 - t : t;
            for (const size_t t : order) {
                Tool &tool = tools[t];
                const Detection detection = tool.detect(i);
                tool.seconds.back() += detection.run.seconds;
                tool.cpuSeconds.back() += detection.run.cpuSeconds;
                if (pass == 0)
                    tool.tempos.push_back(detection.tempo);
            }
        }
        if (tools.size() > 1) {
            ratios.push_back(tools[1].seconds.back() / tools[0].seconds.back());
            cpuRatios.push_back(tools[1].cpuSeconds.back() / tools[0].cpuSeconds.back());
        }
    }
    conditions.finish();

    say("tempo  style    length  " + [&] {
        std::string header;
        for (const Tool &tool : tools)
            header += tool.name + "  ";
        return header;
    }());
    static const char *styles[] = {"house", "rock", "hip-hop", "funk", "d&b"};
    for (size_t i = 0; i < pieces.size(); ++i) {
        std::string line = NumberText::whole(int64_t(pieces[i].bpm)) + "  " + styles[int(pieces[i].style)] + "  "
                           + NumberText::whole(int64_t(pieces[i].seconds)) + " s  ";
        for (const Tool &tool : tools)
            line += (tool.tempos[i] ? fixed(*tool.tempos[i], 2) : std::string("-")) + "  ";
        say(line);
    }

    say("tool       x realtime   cpu s   cores busy   within 4 %   within 4 % or double/half   (medians of "
        + NumberText::whole(passes) + " passes; " + conditions.text() + ")");
    const auto within = [](std::optional<double> found, double truth) {
        return found && std::abs(*found - truth) <= 0.04 * truth;
    };
    for (const Tool &tool : tools) {
        int exact = 0;
        int octave = 0;
        for (size_t i = 0; i < pieces.size(); ++i) {
            const double truth = pieces[i].bpm;
            const auto found = tool.tempos[i];
            exact += within(found, truth);
            octave += within(found, truth) || within(found, truth * 2) || within(found, truth / 2);
        }
        const double count = double(pieces.size());
        const double seconds = bench::median(tool.seconds), cpu = bench::median(tool.cpuSeconds);
        say(tool.name + "  " + fixed(total / seconds, 1) + "  " + fixed(cpu, 2) + "  " + fixed(cpu / seconds, 2)
            + "  " + fixed(100 * exact / count, 1) + " %  " + fixed(100 * octave / count, 1) + " %");
    }
    if (tools.size() > 1) {
        // tamPOD × realtime over bpm-tools × realtime, the median of the passes' ratios.
        say(bench::goal("bpm-speed", bench::median(ratios), 2, ">= 1") + ", cpu ratio "
            + fixed(bench::median(cpuRatios), 2) + ", " + conditions.text());
    }
    return 0;
}
