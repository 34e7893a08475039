#include "sd2/stereo_pcm_tools.h"

#include "core/byte_reader.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/pcm_file_description.h"
#include "sd2/sd2_recovery_error.h"

#include "pair_fixture.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>

using namespace tampod;
using namespace tampod::test;

namespace {

const QString mismatch = "Left and right must be mono with identical sample rates and frame counts. No trimming, "
                         "padding or alignment was applied.";
const QString depths = "The decoded channel depths no longer match the accepted SD2 format. Reopen both files before "
                       "linking.";
const QString invalidOutput = "Invalid working-copy format or destination.";

QUrl url(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

// The error's text, or "none".
QString failure(const std::function<void()> &run)
{
    try {
        run();
    } catch (const Error &error) {
        return error.message();
    }
    return "none";
}

// A mono WAVE header that claims frames of bits, followed by a hole instead of the samples.
void writeSparse(const QString &path, int bits, std::int64_t frames)
{
    const std::int64_t data = frames * (bits / 8);
    ByteWriter w;
    w.bytes("RIFF").u32le(uint32_t(36 + data + (data & 1))).bytes("WAVE").bytes("fmt ").u32le(16).u16le(1).u16le(1);
    w.u32le(44100).u32le(uint32_t(44100 * (bits / 8))).u16le(uint16_t(bits / 8)).u16le(uint16_t(bits));
    w.bytes("data").u32le(uint32_t(data));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(w.take()) == 44 && file.resize(44 + data + (data & 1)));
}

class StereoPCM : public ::testing::Test {
protected:
    QString mono(const QString &name, int bits, std::int64_t frames, int rate = 44100, unsigned seed = 1)
    {
        writeWav(dir.file(name), bits, rate, 1, noise(frames, bits, seed));
        return dir.file(name);
    }
    StereoPCMTools::Result join(const QString &l, const QString &r, int bits, const StereoPCMTools::Progress &progress = {},
                                const CancellationToken &token = {})
    {
        return StereoPCMTools::join(url(l), url(r), url(out), bits, progress, token);
    }

    TempDir dir;
    const QString out = dir.file("Stereo.wav");
};

} // namespace

TEST_F(StereoPCM, JoinsInChunksAndSplitsBackBitExact)
{
    for (const auto &[bits, frames] : {std::pair{16, std::int64_t(8192 * 3 + 1)}, {8, 5}, {24, 8193}, {32, 8191}}) {
        SCOPED_TRACE(bits);
        const QString l = mono("l.wav", bits, frames, 48000, 1), r = mono("r.wav", bits, frames, 48000, 2);
        const QByteArray leftBytes = readAll(l), rightBytes = readAll(r);
        std::vector<double> reports;
        const auto result = join(l, r, bits, [&](double f) { reports.push_back(f); });
        EXPECT_EQ(std::pair(result.frames, result.sampleRate), std::pair(frames, 48000));
        const auto written = PCMFileDescription::read(out);
        EXPECT_EQ(std::tuple(written.frames, written.channels, written.sampleRate, written.bitsPerSample), std::tuple(frames, 2, 48000, bits));
        EXPECT_EQ(reports.size(), size_t((frames + 8191) / 8192));
        EXPECT_EQ(reports.back(), 1.0);

        // Each stereo frame is the left sample's bytes, then the right one's; split gives both files back.
        QByteArray interleaved;
        for (std::int64_t i = 0, n = bits / 8; i < frames; ++i)
            interleaved += leftBytes.mid(44 + i * n, n) + rightBytes.mid(44 + i * n, n);
        EXPECT_EQ(readAll(out).mid(44), interleaved);
        StereoPCMTools::split(url(out), url(dir.file("left.wav")), url(dir.file("right.wav")), bits);
        EXPECT_EQ(std::pair(readAll(dir.file("left.wav")), readAll(dir.file("right.wav"))), std::pair(leftBytes, rightBytes));
        for (const QString &file : {out, l, r, dir.file("left.wav"), dir.file("right.wav")})
            QFile::remove(file);
    }
}

TEST_F(StereoPCM, RefusalsLeaveNoDestination)
{
    const QString l = mono("l.wav", 16, 1000), r = mono("r.wav", 16, 1000);
    writeWav(dir.file("stereo.wav"), 16, 44100, 2, noise(2000, 16, 3));
    for (const QString name : {"fl.wav", "fr.wav"})
        runChecked("sox", {"-n", "-r", "44100", "-e", "floating-point", "-b", "32", dir.file(name), "synth", "0.1", "sine", "440"});
    const std::tuple<QString, QString, int, QString> cases[] = {
        {l, mono("rate.wav", 16, 1000, 48000), 16, mismatch},
        {l, mono("long.wav", 16, 1001), 16, mismatch},
        {l, dir.file("stereo.wav"), 16, mismatch},
        {mono("e1.wav", 16, 0), mono("e2.wav", 16, 0), 16, mismatch},
        {dir.file("fl.wav"), dir.file("fr.wav"), 32, depths},
        {mono("l24.wav", 24, 1000), mono("r24.wav", 24, 1000), 16, depths},
        {l, r, 12, invalidOutput}, // after both inputs were opened and stamped
    };
    for (const auto &[left, right, bits, expected] : cases) {
        EXPECT_EQ(failure([&] { join(left, right, bits); }), expected) << right.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
    // Something already there, even a dangling link, is never replaced or followed.
    ASSERT_TRUE(QFile::link(dir.file("nowhere"), out));
    EXPECT_EQ(failure([&] { join(l, r, 16); }), invalidOutput);
    EXPECT_FALSE(QFile::exists(dir.file("nowhere")));

    EXPECT_EQ(failure([&] { StereoPCMTools::split(url(l), url(dir.file("a.wav")), url(dir.file("b.wav")), 16); }),
              AudioExportError::description(AudioExportError::Case::unsupportedSource));
    writeFile(dir.file("b.wav"), "mine");
    EXPECT_EQ(failure([&] { StereoPCMTools::split(url(dir.file("stereo.wav")), url(dir.file("a.wav")), url(dir.file("b.wav")), 16); }),
              invalidOutput);
    EXPECT_EQ(readAll(dir.file("b.wav")), "mine");
    EXPECT_FALSE(QFile::exists(dir.file("a.wav"))); // the left file made first is taken back
}

TEST_F(StereoPCM, SizeLimitIsCheckedBeforeTheOutputIsMade)
{
    const std::tuple<int, std::int64_t, bool> limits[] = {
        {24, 715827875, true}, {24, 715827876, false}, {32, 536870906, true}, {32, 536870907, false},
        {16, 1073741812, true}, {16, 1073741813, false}, {8, 2147483625, true}, {8, 2147483626, false},
        {32, std::numeric_limits<std::int64_t>::max(), false},
    };
    for (const auto &[bits, frames, fits] : limits)
        EXPECT_EQ(StereoPCMTools::fitsSizeLimit(bits, frames), fits) << bits << " " << frames;

    // Inputs that claim those lengths over a hole: a passing pair gets as far as creating the
    // output (in a folder that does not exist), a failing one stops before it.
    for (const auto &[bits, frames, fits] : {limits[0], limits[1], limits[2], limits[3]}) {
        writeSparse(dir.file("big.L.wav"), bits, frames);
        writeSparse(dir.file("big.R.wav"), bits, frames);
        try {
            StereoPCMTools::join(url(dir.file("big.L.wav")), url(dir.file("big.R.wav")), url(dir.file("absent/S.wav")), bits, {});
        } catch (const SystemError &error) {
            EXPECT_TRUE(fits && error.errnoValue() == ENOENT) << frames;
        } catch (const AudioExportError &error) {
            EXPECT_TRUE(!fits && error.kind() == AudioExportError::Case::tooLarge) << frames;
        }
    }
}

TEST_F(StereoPCM, ChangedOrCancelledJoinsLeaveNothing)
{
    const QString l = mono("l.wav", 16, 8192 * 3), r = mono("r.wav", 16, 8192 * 3, 44100, 2);
    int reports = 0;
    const auto touch = [&](double) {
        QFile file(r);
        if (++reports == 1)
            file.open(QIODevice::ReadOnly), file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-60), QFileDevice::FileModificationTime);
    };
    EXPECT_EQ(failure([&] { join(l, r, 16, touch); }), SD2RecoveryError::description(SD2RecoveryError::Case::changed));
    EXPECT_EQ(reports, 3); // noticed after the last chunk
    EXPECT_FALSE(QFile::exists(out));

    CancellationSource source;
    reports = 0;
    EXPECT_THROW(join(l, r, 16, [&](double) { ++reports, source.cancel(); }, source.token()), Cancelled);
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(QFile::exists(out));
}
