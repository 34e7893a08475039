// Time to read the tempo of 1,000 tagged WAV and 1,000 tagged MP3 files: our read_tempos tool
// against exiftool, each one process over all the files, start-up counted on both sides. Both
// sides must find every tempo for the ratio to count. Each side runs once untimed first, so
// neither pays for a cold cache of its own program's files; a race over one file shows how
// much of each side's time is start-up, which weighs most on ours.
#include "process_race.h"

#include "core/byte_reader.h"
#include "tags/export_tempo_writer.h"
#include "tags/tempo_model.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tampod;
using namespace tampod::bench;

namespace {

constexpr int filesPerKind = 1000;
constexpr int pairs = 5;

double tempoOf(int i)
{
    return 60.0 + i * 0.137;
}

void save(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// A quarter second of 16-bit mono silence at 44.1 kHz.
QByteArray wavFile()
{
    const int dataBytes = 11025 * 2;
    ByteWriter out;
    out.bytes("RIFF").u32le(4 + 24 + 8 + dataBytes).bytes("WAVE");
    out.bytes("fmt ").u32le(16).u16le(1).u16le(1).u32le(44100).u32le(88200).u16le(2).u16le(16);
    out.bytes("data").u32le(dataBytes).zeros(dataBytes);
    return out.take();
}

// Forty silent MPEG-1 layer III frames (128 kbit/s, 44.1 kHz, 417 bytes each).
QByteArray mp3Audio()
{
    QByteArray frames;
    for (int i = 0; i < 40; ++i)
        frames += QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(413, '\0');
    return frames;
}

// Every line as expected: each side must find every tempo for the ratio to count.
int matching(const std::string &output, const QStringList &expected)
{
    const QStringList lines = QString::fromStdString(output).split(u'\n');
    int found = 0;
    for (qsizetype i = 0; i < expected.size() && i < lines.size(); ++i)
        found += lines[i] == expected[i];
    return found;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    const QByteArray wav = wavFile(), mp3 = mp3Audio();
    QStringList wavs, mp3s;
    for (int i = 0; i < filesPerKind; ++i) {
        const QString number = NumberText::wholeQ(i);
        wavs << dir.filePath(QStringLiteral("take-") + number + QStringLiteral(".wav"));
        save(wavs.back(), wav);
        ExportTempoWriter::write(tempoOf(i), wavs.back(), ExportTempoWriter::Container::wav);
        mp3s << dir.filePath(QStringLiteral("take-") + number + QStringLiteral(".mp3"));
        save(mp3s.back(), ExportTempoWriter::id3Tag(tempoOf(i)) + mp3);
    }
    const QStringList files = wavs + mp3s;
    std::vector<std::string> ourCommand{TAMPOD_TEMPO_TOOL};
    // exiftool without its fast modes: they stop at a WAV's audio data, before the tag chunks
    // that follow it.
    std::vector<std::string> peerCommand{"exiftool", "-T", "-BeatsPerMinute", "-UserDefinedText"};
    QStringList ourExpected, peerExpected;
    for (qsizetype i = 0; i < files.size(); ++i) {
        ourCommand.push_back(files[i].toStdString());
        peerCommand.push_back(files[i].toStdString());
        const double tempo = tempoOf(int(i % filesPerKind));
        ourExpected << TempoModel::preciseText(tempo);
        peerExpected << TempoModel::wholeText(tempo) + QStringLiteral("\t(tamPOD_BPM) ") + TempoModel::preciseText(tempo);
    }

    const int all = int(files.size());
    if (!spawn(ourCommand).ok || !spawn(peerCommand).ok) {
        say("FAILED: a side did not finish");
        return 1;
    }
    int ours = all, theirs = all;
    const Race result = race(
        pairs,
        [&] {
            Run run = spawn(ourCommand, true);
            ours = std::min(ours, matching(run.output, ourExpected));
            return run;
        },
        [&] {
            Run run = spawn(peerCommand, true);
            theirs = std::min(theirs, matching(run.output, peerExpected));
            return run;
        });
    if (!result.ok) {
        say("FAILED: a side did not finish");
        return 1;
    }
    say("Tempo of " + NumberText::whole(filesPerKind) + " WAV and " + NumberText::whole(filesPerKind) +
        " MP3 files, read_tempos against exiftool, medians of " + NumberText::whole(pairs) + " pairs: " +
        result.summary());
    say("tempos found: ours " + NumberText::whole(ours) + " of " + NumberText::whole(all) + ", exiftool " +
        NumberText::whole(theirs) + " of " + NumberText::whole(all));
    if (ours < all || theirs < all) {
        say("FAILED: a side missed tempos, so the times are not comparable");
        return 1;
    }
    const Race startUp = race(
        pairs, [&] { return spawn({ourCommand[0], files[0].toStdString()}); },
        [&] { return spawn({peerCommand[0], peerCommand[1], peerCommand[2], peerCommand[3], files[0].toStdString()}); });
    if (startUp.ok) {
        const auto perFile = [all](const std::vector<double> &whole, const std::vector<double> &one) {
            return fixed(std::max(0.0, median(whole) - median(one)) / (all - 1) * 1e6, 1) + " us";
        };
        say("one file (mostly start-up): ours " + fixed(median(startUp.ours), 3) + " s, exiftool " +
            fixed(median(startUp.peer), 3) + " s; each further file: ours " + perFile(result.ours, startUp.ours) +
            ", exiftool " + perFile(result.peer, startUp.peer));
    }
    say(goal("tags", result, 1, ">= 20"));
    return 0;
}
