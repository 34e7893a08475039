#include "platform_fixtures.h"

#include "core/byte_reader.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"
#include "platform/internal/pcm_conversion.h"

#include "support/run_program.h"
#include "support/file_fixtures.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unistd.h>

using namespace tampod;

namespace {

constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

AudioWriteFormat formatOf(AudioFileType type, int bits, bool isFloat = false, int channels = 2)
{
    return {type, 44100, channels, bits, isFloat, type == AudioFileType::m4a ? 128000 : 0};
}

struct Target {
    const char *name;
    AudioWriteFormat format;
};

const std::vector<Target> targets = {
    {"u8.wav", formatOf(AudioFileType::wav, 8)},      {"s16.wav", formatOf(AudioFileType::wav, 16)},
    {"s24.wav", formatOf(AudioFileType::wav, 24)},    {"s32.wav", formatOf(AudioFileType::wav, 32)},
    {"f32.wav", formatOf(AudioFileType::wav, 32, true)}, {"s8.aiff", formatOf(AudioFileType::aiff, 8)},
    {"s16.aiff", formatOf(AudioFileType::aiff, 16)},  {"s24.aiff", formatOf(AudioFileType::aiff, 24)},
    {"s32.aiff", formatOf(AudioFileType::aiff, 32)},  {"f32.caf", formatOf(AudioFileType::caf, 32, true)},
    {"s16.flac", formatOf(AudioFileType::flac, 16)},  {"s24.flac", formatOf(AudioFileType::flac, 24)},
    {"aac.m4a", formatOf(AudioFileType::m4a, 0)},
};

// Stereo samples already on the grid of the given depth (a 24-bit grid for float), so a
// lossless round trip must return them bit for bit.
std::vector<float> gridSignal(qint64 frames, int bits)
{
    const double grid = std::ldexp(1.0, std::min(bits, 24) - 1);
    std::vector<float> samples(size_t(frames * 2));
    uint32_t state = 12345;
    for (size_t i = 0; i < samples.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double sine = 0.8 * std::sin(double(i / 2) * 0.05 + double(i % 2));
        const double noise = (double(state >> 8) / double(1 << 24) - 0.5) * 0.1;
        samples[i] = float(std::round((sine + noise) * grid) / grid);
    }
    return samples;
}

void write(const QString &path, const AudioWriteFormat &format, const std::vector<float> &samples)
{
    AudioFileWriter writer(path, format);
    const qint64 frames = qint64(samples.size()) / format.channels;
    for (qint64 at = 0; at < frames; at += 1000)
        writer.writeInterleaved(samples.data() + at * format.channels, std::min<qint64>(1000, frames - at));
    writer.finish();
    EXPECT_EQ(writer.framesWritten(), frames);
}

} // namespace

// Other programs read the 4,608-frame files: ffprobe all, sndfile-info the libsndfile ones
// (without a PEAK chunk), and the RIFF and FORM size fields hold the file's length − 8.
TEST(AudioFileWriter, EveryFormatRoundTripsWithItsExactLengthAndReadsElsewhere)
{
    test::TempDir dir;
    for (const Target &target : targets) {
        const AudioFileType type = target.format.type;
        for (qint64 frames : {1, 1023, 1024, 1025, 4608, 44100}) {
            const QString path = dir.file(QString::number(frames) + QLatin1String(target.name));
            SCOPED_TRACE(path.toStdString());
            const std::vector<float> samples = gridSignal(frames, target.format.bitsPerChannel);
            write(path, target.format, samples);
            AudioFileReader reader(path);
            EXPECT_EQ(reader.length(), frames);
            EXPECT_EQ(reader.fileSampleRate(), 44100);
            EXPECT_EQ(reader.channels(), 2);
            const std::vector<float> back = test::readAllFloat(reader);
            ASSERT_EQ(back.size(), samples.size());
            // The file is described as what was asked for, not merely something lossless.
            const AudioFileFormat &format = reader.fileFormat();
            EXPECT_EQ(format.codec, type == AudioFileType::flac ? AudioCodecKind::flac
                                    : type == AudioFileType::m4a ? AudioCodecKind::aac
                                                                 : AudioCodecKind::lpcm);
            if (type != AudioFileType::m4a) {
                EXPECT_EQ(back, samples);
                EXPECT_EQ(format.bitsPerChannel, target.format.bitsPerChannel);
                EXPECT_EQ(format.isFloat, target.format.isFloat);
                EXPECT_EQ(format.isSignedInteger, !target.format.isFloat && std::string(target.name) != "u8.wav");
            }
            if (frames != 4608)
                continue;
            EXPECT_EQ(test::runChecked(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "stream=sample_rate,channels",
                                                                   "-of", "default=nw=1", path}),
                      "sample_rate=44100\nchannels=2");
            if (type == AudioFileType::flac || type == AudioFileType::m4a)
                continue;
            const QString info = test::runChecked(QStringLiteral("sndfile-info"), {path});
            EXPECT_TRUE(info.contains(QStringLiteral("Frames      : 4608"))) << info.toStdString();
            EXPECT_FALSE(info.contains(QStringLiteral("PEAK"))) << info.toStdString();
            const QByteArray bytes = test::readAll(path);
            if (type == AudioFileType::wav) {
                EXPECT_EQ(bytes.left(4) + bytes.mid(8, 4), "RIFFWAVE");
                EXPECT_EQ(ByteReader(bytes).u32leAt(4), bytes.size() - 8);
            } else if (type == AudioFileType::aiff) {
                EXPECT_EQ(bytes.left(4) + bytes.mid(8, 4), "FORMAIFF");
                EXPECT_EQ(ByteReader(bytes).u32beAt(4), bytes.size() - 8);
            }
        }
    }
    const QString flac = dir.file(QLatin1String("4608s24.flac"));
    EXPECT_EQ(test::runChecked(QStringLiteral("metaflac"), {"--show-total-samples", flac}), "4608");
    EXPECT_NE(test::runChecked(QStringLiteral("metaflac"), {"--show-md5sum", flac}), "00000000000000000000000000000000");
    test::runChecked(QStringLiteral("flac"), {"-t", "-s", flac}); // checks the MD5
}

TEST(AudioFileWriter, FloatToIntegerRoundsHalfAwayAndClamps)
{
    struct Case {
        float in;
        int bits;
        int32_t out;
    };
    for (const Case &c : {Case{-1.0f, 16, -32768}, {1.0f, 16, 32767}, {-2.0f, 24, -8388608}, {1.5f / 32768, 16, 2},
                          {-1.5f / 32768, 16, -2}, {0.5f / 32768, 16, 1}, {notANumber, 16, 0}, {inf, 24, 0}, {-inf, 32, 0},
                          {1.0f, 32, 2147483647}, {-1.0f, 32, std::numeric_limits<int32_t>::min()}})
        EXPECT_EQ(pcm::floatToInt(c.in, c.bits), c.out) << c.in << " at " << c.bits << " bits";

    // Through the files: 8-bit WAV (offset binary) and AIFF keep a coarser grid exactly.
    test::TempDir dir;
    const std::vector<float> values = {-1.0f, 127.0f / 128, -127.0f / 128, 1.0f / 128, notANumber, 2.0f};
    const std::vector<int32_t> expected8 = {-128, 127, -127, 1, 0, 127};
    for (const char *name : {"a.wav", "a.aiff"}) {
        const QString path = dir.file(QLatin1String(name));
        write(path, formatOf(name[2] == 'w' ? AudioFileType::wav : AudioFileType::aiff, 8, false, 1), values);
        AudioFileReader reader(path);
        std::vector<int32_t> ints(values.size());
        ASSERT_EQ(reader.readInt32Interleaved(ints.data(), qint64(ints.size())), qint64(ints.size()));
        for (size_t i = 0; i < ints.size(); ++i)
            EXPECT_EQ(ints[i] >> 24, expected8[i]) << name << " " << i;
    }
    const QString path = dir.file(QStringLiteral("b.wav"));
    write(path, formatOf(AudioFileType::wav, 16, false, 1), {-1.0f, 1.0f, inf});
    EXPECT_EQ(test::readAll(path).right(6), QByteArray::fromHex("0080ff7f0000"));
}

TEST(AudioFileWriter, NeverReplacesAndLeavesNothingOnFailure)
{
    test::TempDir dir;
    const AudioWriteFormat format;
    const QString existing = dir.file(QStringLiteral("existing.wav"));
    test::writeFile(existing, "keep me");
    EXPECT_EQ(test::posixCode([&] { AudioFileWriter writer(existing, format); }), EEXIST);
    EXPECT_EQ(test::readAll(existing), QByteArray("keep me"));

    const QString link = dir.file(QStringLiteral("link.wav"));
    ASSERT_EQ(::symlink("nowhere.wav", QFile::encodeName(link).constData()), 0);
    EXPECT_THROW(AudioFileWriter(link, format), SystemError);
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("nowhere.wav"))));

    const QString abandoned = dir.file(QStringLiteral("abandoned.flac"));
    {
        AudioFileWriter writer(abandoned, formatOf(AudioFileType::flac, 16));
        writer.writeInterleaved(gridSignal(5000, 16).data(), 5000);
    }
    EXPECT_FALSE(QFile::exists(abandoned));

    // More than a 32-bit RIFF size can describe is refused before anything is written.
    {
        AudioFileWriter writer(dir.file(QStringLiteral("huge.wav")), format);
        const float frame[2] = {};
        EXPECT_THROW(writer.writeInterleaved(frame, int64_t(1) << 30), AudioFileError);
        EXPECT_EQ(writer.framesWritten(), 0);
    }

    const QString refused = dir.file(QStringLiteral("refused.caf"));
    EXPECT_THROW(AudioFileWriter(refused, formatOf(AudioFileType::caf, 16)), AudioFileError);
    EXPECT_FALSE(QFile::exists(refused));
}

TEST(AudioFileWriter, M4aKeepsItsLengthAndReportsItsBitRate)
{
    test::TempDir dir;
    AudioWriteFormat format = formatOf(AudioFileType::m4a, 0);
    format.sampleRate = 48000;
    format.bitRate = 160000;
    const QString path = dir.file(QStringLiteral("t.m4a"));
    {
        AudioFileWriter writer(path, format);
        EXPECT_EQ(writer.bitRate(), 160000);
        writer.writeInterleaved(gridSignal(44100, 16).data(), 44100);
        writer.finish();
    }
    // The edit list covers exactly the frames written (FFmpeg's own decoder also delivers the
    // end padding; our reader stops at the edit list).
    EXPECT_EQ(test::runChecked(QStringLiteral("ffprobe"),
                               {"-v", "error", "-show_entries", "stream=duration_ts", "-of", "csv=p=0", path}),
              "44100");
    EXPECT_EQ(AudioFileReader(path).length(), 44100);

    // More than AAC can carry at this rate: the encoder lowers it, and says so.
    format.sampleRate = 8000;
    format.channels = 1;
    format.bitRate = 320000;
    AudioFileWriter capped(dir.file(QStringLiteral("capped.m4a")), format);
    EXPECT_LT(capped.bitRate(), 320000);
    EXPECT_GT(capped.bitRate(), 0);
}
