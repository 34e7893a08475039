// Time to read the tempo of 1,000 tagged WAV and 1,000 tagged MP3 files, next to exiftool over
// the same files in one process. Both sides must find every tempo for the ratio to count.
#include "core/byte_reader.h"
#include "core/number_text.h"
#include "tags/container_tempo_reader.h"
#include "tags/export_tempo_writer.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/tempo_model.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

using namespace tampod;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int filesPerKind = 1000;

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

std::string milliseconds(Clock::duration d)
{
    const double ms = std::chrono::duration<double, std::milli>(d).count();
    return NumberText::describe(std::round(ms * 10) / 10) + " ms";
}

// exiftool without its fast modes: they stop at a WAV's audio data, before the tag chunks that
// follow it. A tempo counts as found when both frames we wrote come back as written.
Clock::duration runExiftool(const QString &argumentFile, const QStringList &expected, int &found)
{
    QProcess process;
    const auto start = Clock::now();
    process.start(QStringLiteral("exiftool"),
                  {"-T", "-BeatsPerMinute", "-UserDefinedText", "-@", argumentFile});
    if (!process.waitForFinished(600'000))
        throw std::runtime_error("exiftool did not finish");
    const auto elapsed = Clock::now() - start;
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    found = 0;
    for (qsizetype i = 0; i < expected.size() && i < lines.size(); ++i)
        found += lines[i] == expected[i];
    return elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
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
    const QString argumentFile = dir.filePath(QStringLiteral("files.txt"));
    save(argumentFile, ((wavs + mp3s).join(u'\n') + u'\n').toUtf8());

    // Ours: best of five passes over all 2,000 files, every value checked.
    const int all = filesPerKind * 2;
    Clock::duration best = Clock::duration::max();
    int ours = all;
    for (int pass = 0; pass < 5; ++pass) {
        const auto start = Clock::now();
        int found = 0;
        for (int i = 0; i < filesPerKind; ++i) {
            found += ContainerTempoReader::read(wavs[i], false) == tempoOf(i);
            found += MP3TempoMetadata::read(mp3s[i]) == tempoOf(i);
        }
        best = std::min(best, Clock::now() - start);
        ours = std::min(ours, found);
    }

    QStringList expected;
    for (int kind = 0; kind < 2; ++kind)
        for (int i = 0; i < filesPerKind; ++i)
            expected << TempoModel::wholeText(tempoOf(i)) + QStringLiteral("\t(tamPOD_BPM) ")
                    + TempoModel::preciseText(tempoOf(i));
    int theirs = 0;
    const auto exiftool = runExiftool(argumentFile, expected, theirs);
    const double ratio = static_cast<double>(exiftool.count()) / static_cast<double>(best.count());

    std::cout << "Tempo of " << NumberText::whole(filesPerKind) << " WAV and "
              << NumberText::whole(filesPerKind) << " MP3 files\n"
              << "  tamPOD readers (best of 5):  " << milliseconds(best) << ", "
              << NumberText::whole(ours) << " of " << NumberText::whole(all) << " tempos\n"
              << "  exiftool (one process):      " << milliseconds(exiftool) << ", "
              << NumberText::whole(theirs) << " of " << NumberText::whole(all) << " tempos\n"
              << "  ratio " << NumberText::describe(std::round(ratio * 10) / 10) << "x\n";
    if (ours < all || theirs < all) {
        std::cout << "FAILED: a side missed tempos, so the times are not comparable\n";
        return 1;
    }
    return 0;
}
