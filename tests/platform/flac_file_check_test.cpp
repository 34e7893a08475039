// The libFLAC read-back of a FLAC file: what STREAMINFO states, and every kind of damage found.
#include "support/run_program.h"
#include "support/test_support.h"

#include "concurrency/cancellation.h"
#include "core/error.h"
#include "platform/decode/flac_file_check.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

QString makeFlac(const test::TempDir &dir, qint64 frames, int channels)
{
    const QString path = dir.file(QStringLiteral("good.flac"));
    test::runChecked(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-y", "-f", "lavfi", "-i",
                      QStringLiteral("aevalsrc=0.4*sin(2*PI*440*t)+0.3*(random(0)-0.5):s=48000,atrim=end_sample=%1")
                          .arg(frames),
                      "-ac", QString::number(channels), "-sample_fmt", "s16", "-c:a", "flac", path});
    return path;
}

} // namespace

TEST(FlacFileCheck, StatesTheStreamAndFindsEveryDamage)
{
    test::TempDir dir;
    const QString path = makeFlac(dir, 100000, 2);
    const auto stream = FlacFileCheck::decodeAll(path, {});
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->frames, 100000);
    EXPECT_EQ(stream->channels, 2);
    EXPECT_EQ(stream->sampleRate, 48000);
    EXPECT_EQ(stream->bitsPerSample, 16);

    const QByteArray whole = test::readAll(path);
    QByteArray flipped = whole; // one bit in a frame's body: only its CRC tells
    flipped[whole.size() / 2] = char(flipped[whole.size() / 2] ^ 0x01);
    QByteArray gap = whole;
    gap.remove(whole.size() / 2, 3000);
    QByteArray longer = whole; // STREAMINFO states one frame more than the frames hold
    const qsizetype lastCountByte = 4 + 4 + 10 + 7;
    longer[lastCountByte] = char(longer[lastCountByte] + 1);
    const std::pair<const char *, QByteArray> damaged[] = {
        {"cut", whole.left(whole.size() - 3)}, {"flipped", flipped}, {"gap", gap}, {"longer", longer},
        {"not flac", QByteArray(5000, 'x')}};
    for (const auto &[what, bytes] : damaged) {
        const QString bad = dir.file(QStringLiteral("bad.flac"));
        QFile::remove(bad);
        test::writeFile(bad, bytes);
        EXPECT_FALSE(FlacFileCheck::decodeAll(bad, {})) << what;
    }

    CancellationSource cancel;
    cancel.cancel();
    EXPECT_THROW(FlacFileCheck::decodeAll(path, cancel.token()), Cancelled);
    EXPECT_THROW(FlacFileCheck::decodeAll(dir.file(QStringLiteral("missing.flac")), {}), SystemError);
}
