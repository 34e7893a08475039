#include "platform_fixtures.h"

#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/wav_integer_writer.h"

#include "support/run_program.h"
#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tampod;

TEST(WavIntegerWriter, WritesThePlainHeaderEveryDepthAndNeverPastItsLimits)
{
    test::TempDir dir;
    const std::vector<int32_t> samples = {INT32_MIN, INT32_MAX, 0, -65536, 0x12345600, -0x7f000000};
    for (int bits : {8, 16, 24, 32}) {
        for (int channels : {1, 2}) {
            const QString path = dir.file(QStringLiteral("w%1_%2.wav").arg(bits).arg(channels));
            SCOPED_TRACE(path.toStdString());
            const int64_t frames = int64_t(samples.size()) / channels;
            WavIntegerWriter writer(path, 44100, channels, bits);
            writer.writeInt32Interleaved(samples.data(), frames);
            writer.finish();
            EXPECT_EQ(writer.framesWritten(), frames);
            const QByteArray bytes = test::readAll(path);
            const int64_t data = int64_t(samples.size()) * bits / 8;
            EXPECT_EQ(bytes.size(), 44 + data + (data & 1));
            EXPECT_EQ(bytes.left(4) + bytes.mid(36, 4), QByteArray("RIFFdata"));
            EXPECT_TRUE(test::runChecked(QStringLiteral("sndfile-info"), {path}).contains("Frames      : " + QByteArray::number(frames)));

            AudioFileReader reader(path);
            EXPECT_EQ(reader.length(), frames);
            EXPECT_EQ(reader.fileFormat().bitsPerChannel, bits);
            EXPECT_EQ(reader.fileFormat().isSignedInteger, bits != 8);
            std::vector<int32_t> back(samples.size());
            ASSERT_EQ(reader.readInt32Interleaved(back.data(), frames), frames);
            const uint32_t mask = bits == 32 ? 0xffffffffu : ~((1u << (32 - bits)) - 1);
            for (size_t i = 0; i < samples.size(); ++i)
                EXPECT_EQ(uint32_t(back[i]), uint32_t(samples[i]) & mask) << i;
        }
    }

    const QString existing = dir.file(QStringLiteral("w8_1.wav"));
    EXPECT_THROW(WavIntegerWriter(existing, 44100, 2, 16), SystemError);
    EXPECT_EQ(test::readAll(existing).size(), 44 + 6);
    // A frame count whose data passes the limit is refused before anything is written.
    const QString big = dir.file(QStringLiteral("big.wav"));
    {
        WavIntegerWriter writer(big, 44100, 2, 24);
        const int32_t sample[6] = {};
        EXPECT_THROW(writer.writeInt32Interleaved(sample, 715827876), AudioFileError);
        EXPECT_EQ(writer.framesWritten(), 0);
    }
    EXPECT_FALSE(QFile::exists(big)); // unfinished: removed
}
