#include "audio_fixtures.h"

#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"
#include "platform/internal/pcm_conversion.h"

#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unistd.h>

using namespace tampod;

namespace {

struct Target {
    const char *name;
    AudioWriteFormat format;
};

std::vector<Target> allTargets()
{
    auto make = [](AudioFileType type, int bits, bool isFloat) {
        AudioWriteFormat f;
        f.type = type;
        f.bitsPerChannel = bits;
        f.isFloat = isFloat;
        f.bitRate = type == AudioFileType::m4a ? 128000 : 0;
        return f;
    };
    return {
        {"u8.wav", make(AudioFileType::wav, 8, false)},
        {"s16.wav", make(AudioFileType::wav, 16, false)},
        {"s24.wav", make(AudioFileType::wav, 24, false)},
        {"s32.wav", make(AudioFileType::wav, 32, false)},
        {"f32.wav", make(AudioFileType::wav, 32, true)},
        {"s8.aiff", make(AudioFileType::aiff, 8, false)},
        {"s16.aiff", make(AudioFileType::aiff, 16, false)},
        {"s24.aiff", make(AudioFileType::aiff, 24, false)},
        {"s32.aiff", make(AudioFileType::aiff, 32, false)},
        {"f32.caf", make(AudioFileType::caf, 32, true)},
        {"s16.flac", make(AudioFileType::flac, 16, false)},
        {"s24.flac", make(AudioFileType::flac, 24, false)},
        {"aac.m4a", make(AudioFileType::m4a, 0, false)},
    };
}

// Stereo samples already on the grid of the given depth (a 24-bit grid for float), so a
// lossless round trip must return them bit for bit.
std::vector<float> gridSignal(qint64 frames, int bits)
{
    const int grid = std::min(bits, 24);
    std::vector<float> samples(size_t(frames * 2));
    uint32_t state = 12345;
    for (size_t i = 0; i < samples.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double sine = 0.8 * std::sin(double(i / 2) * 0.05 + double(i % 2));
        const double noise = (double(state >> 8) / double(1 << 24) - 0.5) * 0.1;
        samples[i] = float(std::round((sine + noise) * std::ldexp(1.0, grid - 1))
                           / std::ldexp(1.0, grid - 1));
    }
    return samples;
}

void writeFile(const QString &path, const AudioWriteFormat &format, const std::vector<float> &samples)
{
    AudioFileWriter writer(path, format);
    const qint64 frames = qint64(samples.size()) / format.channels;
    for (qint64 at = 0; at < frames; at += 1000)
        writer.writeInterleaved(samples.data() + at * format.channels, std::min<qint64>(1000, frames - at));
    writer.finish();
    EXPECT_EQ(writer.framesWritten(), frames);
}

} // namespace

TEST(AudioFileWriter, EveryFormatRoundTripsWithItsExactLength)
{
    test::TempDir dir;
    for (const Target &target : allTargets()) {
        for (qint64 frames : {1, 1023, 1024, 1025, 4608, 44100}) {
            const QString path = dir.file(QString::number(frames) + QLatin1String(target.name));
            SCOPED_TRACE(path.toStdString());
            const std::vector<float> samples = gridSignal(frames, target.format.bitsPerChannel);
            writeFile(path, target.format, samples);
            AudioFileReader reader(path);
            EXPECT_EQ(reader.length(), frames);
            EXPECT_EQ(reader.fileSampleRate(), 44100);
            EXPECT_EQ(reader.channels(), 2);
            const std::vector<float> back = test::readAllFloat(reader);
            ASSERT_EQ(back.size(), samples.size());
            // The file is described as what was asked for, not merely something lossless.
            const AudioFileFormat &format = reader.fileFormat();
            if (target.format.type == AudioFileType::m4a) {
                EXPECT_EQ(format.codec, AudioCodecKind::aac);
                continue;
            }
            EXPECT_EQ(back, samples);
            EXPECT_EQ(format.codec, target.format.type == AudioFileType::flac ? AudioCodecKind::flac
                                                                              : AudioCodecKind::lpcm);
            EXPECT_EQ(format.bitsPerChannel, target.format.bitsPerChannel);
            EXPECT_EQ(format.isFloat, target.format.isFloat);
            EXPECT_EQ(format.isSignedInteger, !target.format.isFloat && std::string(target.name) != "u8.wav");
        }
    }
}

TEST(AudioFileWriter, FloatToIntegerRoundsHalfAwayAndClamps)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float in;
        int bits;
        int32_t out;
    };
    for (const Case &c : {Case{-1.0f, 16, -32768}, {1.0f, 16, 32767}, {-2.0f, 24, -8388608}, {1.5f / 32768, 16, 2},
                          {-1.5f / 32768, 16, -2}, {0.5f / 32768, 16, 1}, {nan, 16, 0}, {inf, 24, 0}, {-inf, 32, 0},
                          {1.0f, 32, 2147483647}, {-1.0f, 32, std::numeric_limits<int32_t>::min()}})
        EXPECT_EQ(pcm::floatToInt(c.in, c.bits), c.out) << c.in << " at " << c.bits << " bits";

    // Through the files: 8-bit WAV (offset binary) and AIFF keep a coarser grid exactly.
    test::TempDir dir;
    const std::vector<float> values = {-1.0f, 127.0f / 128, -127.0f / 128, 1.0f / 128,
                                       std::numeric_limits<float>::quiet_NaN(), 2.0f};
    const std::vector<int32_t> expected8 = {-128, 127, -127, 1, 0, 127};
    for (AudioFileType type : {AudioFileType::wav, AudioFileType::aiff}) {
        AudioWriteFormat format;
        format.type = type;
        format.channels = 1;
        format.bitsPerChannel = 8;
        const QString path = dir.file(type == AudioFileType::wav ? QStringLiteral("a.wav") : QStringLiteral("a.aiff"));
        writeFile(path, format, values);
        AudioFileReader reader(path);
        std::vector<int32_t> ints(values.size());
        ASSERT_EQ(reader.readInt32Interleaved(ints.data(), qint64(ints.size())), qint64(ints.size()));
        for (size_t i = 0; i < ints.size(); ++i)
            EXPECT_EQ(ints[i] >> 24, expected8[i]) << i;
    }
    AudioWriteFormat format;
    format.channels = 1;
    const QString path = dir.file(QStringLiteral("b.wav"));
    writeFile(path, format, {-1.0f, 1.0f, std::numeric_limits<float>::infinity()});
    const QByteArray bytes = test::readAll(path);
    EXPECT_EQ(bytes.right(6), QByteArray::fromHex("0080ff7f0000"));
}

TEST(AudioFileWriter, NeverReplacesAndLeavesNothingOnFailure)
{
    test::TempDir dir;
    AudioWriteFormat format;
    const QString existing = dir.file(QStringLiteral("existing.wav"));
    test::writeFile(existing, "keep me");
    try {
        AudioFileWriter writer(existing, format);
        ADD_FAILURE() << "created over an existing file";
    } catch (const SystemError &error) {
        EXPECT_EQ(error.errnoValue(), EEXIST);
    }
    EXPECT_EQ(test::readAll(existing), QByteArray("keep me"));

    const QString link = dir.file(QStringLiteral("link.wav"));
    ASSERT_EQ(::symlink("nowhere.wav", QFile::encodeName(link).constData()), 0);
    EXPECT_THROW(AudioFileWriter(link, format), SystemError);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("nowhere.wav"))));

    const QString abandoned = dir.file(QStringLiteral("abandoned.flac"));
    {
        AudioWriteFormat flac;
        flac.type = AudioFileType::flac;
        AudioFileWriter writer(abandoned, flac);
        const std::vector<float> samples = gridSignal(5000, 16);
        writer.writeInterleaved(samples.data(), 5000);
    }
    EXPECT_FALSE(QFile::exists(abandoned));

    // More than a 32-bit RIFF size can describe is refused before anything is written.
    {
        AudioFileWriter writer(dir.file(QStringLiteral("huge.wav")), format);
        const float frame[2] = {};
        EXPECT_THROW(writer.writeInterleaved(frame, int64_t(1) << 30), AudioFileError);
        EXPECT_EQ(writer.framesWritten(), 0);
    }

    AudioWriteFormat impossible;
    impossible.type = AudioFileType::caf;
    impossible.bitsPerChannel = 16;
    const QString refused = dir.file(QStringLiteral("refused.caf"));
    EXPECT_THROW(AudioFileWriter(refused, impossible), AudioFileError);
    EXPECT_FALSE(QFile::exists(refused));
}

TEST(AudioFileWriter, OtherProgramsReadWhatWasWritten)
{
    test::TempDir dir;
    for (const Target &target : allTargets()) {
        const QString path = dir.file(QLatin1String(target.name));
        writeFile(path, target.format, gridSignal(4608, 16));
        SCOPED_TRACE(target.name);
        const QString probe = test::runTool(
            QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"), QStringLiteral("stream=sample_rate,channels"),
             QStringLiteral("-of"), QStringLiteral("default=nw=1"), path});
        EXPECT_TRUE(probe.contains(QStringLiteral("sample_rate=44100"))) << probe.toStdString();
        EXPECT_TRUE(probe.contains(QStringLiteral("channels=2"))) << probe.toStdString();
        if (target.format.type == AudioFileType::wav || target.format.type == AudioFileType::aiff
            || target.format.type == AudioFileType::caf) {
            const QString info = test::runTool(QStringLiteral("sndfile-info"), {path});
            EXPECT_TRUE(info.contains(QStringLiteral("Frames      : 4608"))) << info.toStdString();
            EXPECT_FALSE(info.contains(QStringLiteral("PEAK"))) << info.toStdString();
            const QByteArray bytes = test::readAll(path);
            if (target.format.type != AudioFileType::caf) {
                const bool wav = target.format.type == AudioFileType::wav;
                EXPECT_EQ(bytes.left(4), wav ? QByteArray("RIFF") : QByteArray("FORM"));
                EXPECT_EQ(bytes.mid(8, 4), wav ? QByteArray("WAVE") : QByteArray("AIFF"));
                const auto *b = reinterpret_cast<const uchar *>(bytes.constData()) + 4;
                const quint32 size = wav ? quint32(b[0] | b[1] << 8 | b[2] << 16 | quint32(b[3]) << 24)
                                         : quint32(quint32(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3]);
                EXPECT_EQ(qint64(size), bytes.size() - 8);
            }
        }
    }
    const QString flac = dir.file(QLatin1String("s24.flac"));
    EXPECT_EQ(test::runTool(QStringLiteral("metaflac"), {QStringLiteral("--show-total-samples"), flac}).trimmed(),
              QStringLiteral("4608"));
    EXPECT_NE(test::runTool(QStringLiteral("metaflac"), {QStringLiteral("--show-md5sum"), flac}).trimmed(),
              QStringLiteral("00000000000000000000000000000000"));
    test::runTool(QStringLiteral("flac"), {QStringLiteral("-t"), QStringLiteral("-s"), flac}); // checks the MD5
}

TEST(AudioFileWriter, M4aKeepsItsLengthAndReportsItsBitRate)
{
    test::TempDir dir;
    AudioWriteFormat format;
    format.type = AudioFileType::m4a;
    format.sampleRate = 48000;
    format.bitRate = 160000;
    const QString path = dir.file(QStringLiteral("t.m4a"));
    {
        AudioFileWriter writer(path, format);
        EXPECT_EQ(writer.bitRate(), 160000);
        const std::vector<float> samples = gridSignal(44100, 16);
        writer.writeInterleaved(samples.data(), 44100);
        writer.finish();
    }
    // The edit list covers exactly the frames written (FFmpeg's own decoder also delivers the
    // end padding; our reader stops at the edit list).
    EXPECT_EQ(test::runTool(QStringLiteral("ffprobe"),
                            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                             QStringLiteral("stream=duration_ts"), QStringLiteral("-of"),
                             QStringLiteral("csv=p=0"), path})
                  .trimmed(),
              QStringLiteral("44100"));
    AudioFileReader reader(path);
    EXPECT_EQ(reader.length(), 44100);

    // More than AAC can carry at this rate: the encoder lowers it, and says so.
    format.sampleRate = 8000;
    format.channels = 1;
    format.bitRate = 320000;
    AudioFileWriter capped(dir.file(QStringLiteral("capped.m4a")), format);
    EXPECT_LT(capped.bitRate(), 320000);
    EXPECT_GT(capped.bitRate(), 0);
}
