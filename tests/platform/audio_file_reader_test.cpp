#include "audio_fixtures.h"
#include "support/test_support.h"

#include "platform/audio_file_error.h"
#include "platform/audio_file_probe.h"
#include "platform/audio_file_reader.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

struct Encoding {
    const char *extension;
    QStringList options;
};

const std::vector<Encoding> &exactEncodings()
{
    static const std::vector<Encoding> encodings = {
        {"wav", {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}},
        {"aiff", {QStringLiteral("-c:a"), QStringLiteral("pcm_s24be")}},
        {"caf", {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")}},
        {"flac", {QStringLiteral("-c:a"), QStringLiteral("flac")}},
        {"m4a", {QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-movie_timescale"),
                 QStringLiteral("44100")}},
    };
    return encodings;
}

} // namespace

TEST(AudioFileReader, LengthIsExactAndEqualsAFullDecode)
{
    test::TempDir dir;
    for (const Encoding &encoding : exactEncodings()) {
        for (qint64 frames : {1, 1023, 1024, 1025, 4608, 44100}) {
            const QString path =
                dir.file(QStringLiteral("t%1.%2").arg(frames).arg(QLatin1String(encoding.extension)));
            test::makeTone(path, frames, encoding.options);
            AudioFileReader reader(path);
            SCOPED_TRACE(path.toStdString());
            EXPECT_EQ(reader.length(), frames);
            EXPECT_EQ(qint64(test::readAllFloat(reader, 1000).size()), frames * 2);
            EXPECT_EQ(reader.readFloatInterleaved(nullptr, 10), 0);
        }
    }
}
