#include "audio_fixtures.h"

#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/wav_integer_writer.h"

#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tampod;

TEST(WavIntegerWriter, WritesThePlainHeaderAndRoundTripsEveryDepth)
{
    test::TempDir dir;
    const std::vector<int32_t> samples = {INT32_MIN, INT32_MAX, 0, -65536, 0x12345600, -0x7f000000};
    for (int bits : {8, 16, 24, 32}) {
        for (int channels : {1, 2}) {
            const QString path = dir.file(QStringLiteral("w%1_%2.wav").arg(bits).arg(channels));
            const int64_t frames = int64_t(samples.size()) / channels;
            {
                WavIntegerWriter writer(path, 44100, channels, bits);
                writer.writeInt32Interleaved(samples.data(), frames);
                writer.finish();
                EXPECT_EQ(writer.framesWritten(), frames);
            }
            const QByteArray bytes = test::readAll(path);
            const int64_t data = int64_t(samples.size()) * bits / 8;
            EXPECT_EQ(bytes.size(), 44 + data + (data & 1));
            EXPECT_EQ(bytes.left(4), QByteArray("RIFF"));
            EXPECT_EQ(bytes.mid(36, 4), QByteArray("data"));

            AudioFileReader reader(path);
            SCOPED_TRACE(path.toStdString());
            EXPECT_EQ(reader.length(), frames);
            EXPECT_EQ(reader.fileFormat().bitsPerChannel, bits);
            EXPECT_EQ(reader.fileFormat().isSignedInteger, bits != 8);
            std::vector<int32_t> back(samples.size());
            ASSERT_EQ(reader.readInt32Interleaved(back.data(), frames), frames);
            const uint32_t mask = bits == 32 ? 0xffffffffu : ~((1u << (32 - bits)) - 1);
            for (size_t i = 0; i < samples.size(); ++i)
                EXPECT_EQ(uint32_t(back[i]), uint32_t(samples[i]) & mask) << i;

            const QString info = test::runTool(QStringLiteral("sndfile-info"), {path});
            EXPECT_TRUE(info.contains(QStringLiteral("Frames      : %1").arg(frames))) << info.toStdString();
        }
    }
}

TEST(WavIntegerWriter, RefusesToGrowPastTheSizeLimitOrReplaceAFile)
{
    test::TempDir dir;
    const QString existing = dir.file(QStringLiteral("e.wav"));
    test::writeFile(existing, "old");
    EXPECT_THROW(WavIntegerWriter(existing, 44100, 2, 16), SystemError);
    EXPECT_EQ(test::readAll(existing), QByteArray("old"));

    // A frame count whose data passes the limit is refused before anything is written.
    const QString big = dir.file(QStringLiteral("big.wav"));
    {
        WavIntegerWriter writer(big, 44100, 2, 24);
        const int32_t sample[6] = {};
        EXPECT_THROW(writer.writeInt32Interleaved(sample, 715827876), AudioFileError);
        EXPECT_EQ(writer.framesWritten(), 0);
    }
    EXPECT_FALSE(QFile::exists(big)); // unfinished: removed
    EXPECT_EQ(3 * int64_t(715827875) * 2 <= WavIntegerWriter::maximumDataBytes, true);
}
