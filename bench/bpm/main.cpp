// Tempo detection against bpm-tools and aubio on one generated set of drum-and-bass pieces of
// known tempo: decode plus analysis speed (× realtime) and the share of tempos found. Every
// detector is timed the same way: one whole process (or pipeline) per file.
//
//   bench_bpm   (makes its files in a temporary folder; needs sox, bpm and aubio on the PATH)
#include "../process_race.h"

#include "core/number_text.h"
#include "platform/encode/audio_file_writer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

using namespace tampod;
using tampod::bench::fixed;
using tampod::bench::say;

namespace {

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

std::optional<double> firstNumberOf(const QByteArray &output)
{
    const QList<QByteArray> words = output.simplified().split(' ');
    if (words.isEmpty())
        return std::nullopt;
    return NumberText::parse(std::string_view(words.first().constData(), size_t(words.first().size())));
}

// Runs a program and returns the first number it prints, or nothing.
std::optional<double> firstNumber(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return firstNumberOf(process.readAllStandardOutput());
}

// sox decodes to mono float at the file's own rate straight into bpm, no shell between. bpm
// takes every input as 44.1 kHz, so a 48 kHz file reads slower by 44.1/48: its search range
// is scaled down and its answer back up, rather than resampling the audio for it alone.
std::optional<double> bpmTools(const QString &path, int rate)
{
    const double stretch = 44100.0 / rate;
    QProcess sox, bpm;
    sox.setStandardOutputProcess(&bpm);
    bpm.start(QStringLiteral("bpm"), {QStringLiteral("-f"), QStringLiteral("%0.3f"), QStringLiteral("-m"),
                                      NumberText::describeQ(50 * stretch), QStringLiteral("-x"),
                                      NumberText::describeQ(220 * stretch)});
    sox.start(QStringLiteral("sox"), {path, QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-e"),
                                      QStringLiteral("float"), QStringLiteral("-b"), QStringLiteral("32"),
                                      QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-")});
    const bool soxDone = sox.waitForFinished(-1) && sox.exitStatus() == QProcess::NormalExit && sox.exitCode() == 0;
    if (!bpm.waitForFinished(-1) || !soxDone || bpm.exitStatus() != QProcess::NormalExit || bpm.exitCode() != 0)
        return std::nullopt;
    const auto found = firstNumberOf(bpm.readAllStandardOutput());
    return found ? std::optional(*found / stretch) : std::nullopt;
}

struct Tool {
    std::string name;
    double seconds = 0;
    std::vector<std::optional<double>> tempos;
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

    const QString ours = QStringLiteral(TAMPOD_DETECT_TOOL);
    std::vector<Tool> tools(3);
    tools[0].name = "tamPOD";
    tools[1].name = "bpm-tools";
    tools[2].name = "aubio";
    const bool haveTheirs = !QStandardPaths::findExecutable(QStringLiteral("bpm")).isEmpty()
                            && !QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty()
                            && !QStandardPaths::findExecutable(QStringLiteral("aubio")).isEmpty();
    for (size_t i = 0; i < paths.size(); ++i) {
        const QString &path = paths[i];
        QElapsedTimer timer;
        timer.start();
        tools[0].tempos.push_back(firstNumber(ours, {path}));
        tools[0].seconds += double(timer.nsecsElapsed()) / 1e9;
        if (!haveTheirs)
            continue;
        timer.restart();
        tools[1].tempos.push_back(bpmTools(path, pieces[i].rate));
        tools[1].seconds += double(timer.nsecsElapsed()) / 1e9;
        timer.restart();
        tools[2].tempos.push_back(firstNumber(QStringLiteral("aubio"), {QStringLiteral("tempo"), QStringLiteral("-i"), path}));
        tools[2].seconds += double(timer.nsecsElapsed()) / 1e9;
    }
    if (!haveTheirs) {
        tools.resize(1);
        say("sox, bpm (bpm-tools) or aubio (aubio-tools) is missing: only tamPOD is measured");
    }

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

    say("tool       x realtime   within 4 %   within 4 % or double/half");
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
        say(tool.name + "  " + fixed(total / tool.seconds, 1) + "  " + fixed(100 * exact / count, 1) + " %  "
            + fixed(100 * octave / count, 1) + " %");
    }
    if (tools.size() > 1) {
        const double ratio = tools[1].seconds / tools[0].seconds;
        // tamPOD × realtime over bpm-tools × realtime.
        say(bench::goal("bpm-speed", ratio, 2, ">= 1"));
    }
    return 0;
}
