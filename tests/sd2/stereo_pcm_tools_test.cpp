#include "sd2/stereo_pcm_tools.h"

#include "core/byte_reader.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/pcm_file_description.h"
#include "platform/encode/wav_integer_writer.h"
#include "sd2/sd2_recovery_error.h"

#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>

#include <random>

using namespace tampod;
using namespace tampod::test;

namespace {

const QString mismatch = "Left and right must be mono with identical sample rates and frame counts. No trimming, "
                         "padding or alignment was applied.";
const QString depths = "The decoded channel depths no longer match the accepted SD2 format. Reopen both files before "
                       "linking.";
const QString invalidOutput = "Invalid working-copy format or destination.";

// Left-justified random samples that a file of bits keeps exactly.
std::vector<std::int32_t> noise(std::int64_t count, int bits, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::int32_t> samples(static_cast<size_t>(count));
    for (auto &sample : samples)
        sample = std::int32_t(random() & (0xffffffffu << (32 - bits)));
    return samples;
}

void writeWav(const QString &path, int bits, int rate, int channels, const std::vector<std::int32_t> &samples)
{
    WavIntegerWriter writer(path, rate, channels, bits);
    writer.writeInt32Interleaved(samples.data(), std::int64_t(samples.size()) / channels);
    writer.finish();
}

std::vector<std::int32_t> readSamples(const QString &path)
{
    AudioFileReader reader(path);
    std::vector<std::int32_t> samples(size_t(reader.length() * reader.channels()));
    std::int64_t done = 0;
    while (std::int64_t n = reader.readInt32Interleaved(samples.data() + done * reader.channels(), reader.length() - done))
        done += n;
    samples.resize(size_t(done * reader.channels()));
    return samples;
}

// A mono WAVE file that claims frames of bits without taking the space: a header and a hole.
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

template <typename E>
std::pair<bool, QString> failure(const std::function<void()> &run)
{
    try {
        run();
    } catch (const E &error) {
        return {true, error.message()};
    } catch (const std::exception &error) {
        return {false, QString::fromUtf8(error.what())};
    }
    return {false, "no error"};
}

class StereoPCM : public ::testing::Test {
protected:
    QString mono(const QString &name, int bits, std::int64_t frames, int rate = 44100, unsigned seed = 1)
    {
        writeWav(dir.file(name), bits, rate, 1, noise(frames, bits, seed));
        return dir.file(name);
    }
    static QUrl url(const QString &path) { return QUrl::fromLocalFile(path); }
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
        EXPECT_EQ(result.frames, frames);
        EXPECT_EQ(result.sampleRate, 48000);
        const auto description = PCMFileDescription::read(out);
        EXPECT_EQ(std::tuple(description.frames, description.channels, description.sampleRate, description.bitsPerSample),
                  std::tuple(frames, 2, 48000, bits));
        if (frames == 8192 * 3 + 1) {
            EXPECT_EQ(reports, (std::vector<double>{8192.0 / double(frames), 16384.0 / double(frames), 24576.0 / double(frames), 1.0}));
        }
        EXPECT_EQ(reports.back(), 1.0);

        const auto stereo = readSamples(out), left = readSamples(l), right = readSamples(r);
        ASSERT_EQ(stereo.size(), size_t(2 * frames));
        for (std::int64_t i = 0; i < frames; ++i)
            ASSERT_EQ(std::pair(stereo[size_t(2 * i)], stereo[size_t(2 * i + 1)]), std::pair(left[size_t(i)], right[size_t(i)])) << i;

        const QString splitLeft = dir.file("left.wav"), splitRight = dir.file("right.wav");
        StereoPCMTools::split(url(out), url(splitLeft), url(splitRight), bits);
        EXPECT_EQ(readAll(splitLeft), leftBytes); // the same header and every sample byte
        EXPECT_EQ(readAll(splitRight), rightBytes);
        EXPECT_EQ(readAll(l), leftBytes); // inputs untouched
        for (const QString &file : {out, l, r, splitLeft, splitRight})
            QFile::remove(file);
    }
}

TEST_F(StereoPCM, RefusalsLeaveNoDestination)
{
    const QString l = mono("l.wav", 16, 1000);
    writeWav(dir.file("stereo.wav"), 16, 44100, 2, noise(2000, 16, 3));
    runChecked("sox", {"-n", "-r", "44100", "-c", "1", "-e", "floating-point", "-b", "32", dir.file("fl.wav"), "synth", "0.1", "sine", "440"});
    runChecked("sox", {"-n", "-r", "44100", "-c", "1", "-e", "floating-point", "-b", "32", dir.file("fr.wav"), "synth", "0.1", "sine", "440"});
    const struct {
        QString left, right;
        int bits;
        QString expected;
    } cases[] = {
        {l, mono("rate.wav", 16, 1000, 48000), 16, mismatch},
        {l, mono("long.wav", 16, 1001), 16, mismatch},
        {l, dir.file("stereo.wav"), 16, mismatch},
        {mono("e1.wav", 16, 0), mono("e2.wav", 16, 0), 16, mismatch},
        {dir.file("fl.wav"), dir.file("fr.wav"), 32, depths},
        {mono("l24.wav", 24, 1000), mono("r24.wav", 24, 1000), 16, depths},
        {l, mono("r.wav", 16, 1000), 12, invalidOutput}, // after both inputs were opened and stamped
    };
    for (const auto &[left, right, bits, expected] : cases) {
        EXPECT_EQ(failure<AudioExportError>([&] { join(left, right, bits); }), std::pair(true, expected)) << right.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
    writeFile(out, "mine");
    EXPECT_EQ(failure<AudioExportError>([&] { join(l, dir.file("r.wav"), 16); }), std::pair(true, invalidOutput));
    EXPECT_EQ(readAll(out), "mine");
    QFile::remove(out);
    ASSERT_TRUE(QFile::link(dir.file("nowhere"), out)); // a dangling link is something too
    EXPECT_EQ(failure<AudioExportError>([&] { join(l, dir.file("r.wav"), 16); }), std::pair(true, invalidOutput));
    EXPECT_FALSE(QFile::exists(dir.file("nowhere")));
}

TEST_F(StereoPCM, SizeLimitIsCheckedBeforeTheOutputIsMade)
{
    const std::tuple<int, std::int64_t, bool> limits[] = {
        {24, 715827875, true}, {24, 715827876, false}, {32, 536870906, true}, {32, 536870907, false},
        {16, 1073741812, true}, {16, 1073741813, false}, {8, 2147483625, true}, {8, 2147483626, false},
        {16, -1, false}, {32, std::numeric_limits<std::int64_t>::max(), false},
    };
    for (const auto &[bits, frames, fits] : limits)
        EXPECT_EQ(StereoPCMTools::fitsSizeLimit(bits, frames), fits) << bits << " " << frames;

    // Files that claim the lengths at the limit, as holes: the passing ones get as far as
    // creating the output (here in a folder that does not exist), the others stop before it.
    for (const auto &[bits, frames, fits] : {std::tuple{24, 715827875ll, true}, {24, 715827876ll, false}, {32, 536870906ll, true}, {32, 536870907ll, false}}) {
        const QString l = dir.file("big.L.wav"), r = dir.file("big.R.wav");
        writeSparse(l, bits, frames);
        writeSparse(r, bits, frames);
        const QUrl nowhere = url(dir.file("absent/Stereo.wav"));
        try {
            StereoPCMTools::join(url(l), url(r), nowhere, bits, {});
            ADD_FAILURE() << "a join into a missing folder cannot succeed";
        } catch (const AudioExportError &error) {
            EXPECT_FALSE(fits) << frames;
            EXPECT_EQ(error.kind(), AudioExportError::Case::tooLarge);
        } catch (const SystemError &error) {
            EXPECT_TRUE(fits) << frames;
            EXPECT_EQ(error.errnoValue(), ENOENT);
        }
        QFile::remove(l);
        QFile::remove(r);
    }
}

TEST_F(StereoPCM, ChangedOrCancelledJoinsLeaveNothing)
{
    const QString l = mono("l.wav", 16, 8192 * 3), r = mono("r.wav", 16, 8192 * 3, 44100, 2);
    int reports = 0;
    const auto touch = [&](double) {
        QFile file(r);
        if (++reports == 1) {
            ASSERT_TRUE(file.open(QIODevice::ReadOnly) &&
                        file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime));
        }
    };
    try {
        join(l, r, 16, touch);
        ADD_FAILURE() << "a changed input must fail the join";
    } catch (const SD2RecoveryError &error) {
        EXPECT_EQ(error.which(), SD2RecoveryError::Case::changed);
    }
    EXPECT_EQ(reports, 3); // noticed after the last chunk
    EXPECT_FALSE(QFile::exists(out));

    CancellationSource source;
    reports = 0;
    EXPECT_THROW(join(l, r, 16, [&](double) { ++reports, source.cancel(); }, source.token()), Cancelled);
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(QFile::exists(out));
}

TEST_F(StereoPCM, SplitRefusals)
{
    const QString source = mono("mono.wav", 16, 100);
    const QString left = dir.file("left.wav"), right = dir.file("right.wav");
    EXPECT_EQ(failure<AudioExportError>([&] { StereoPCMTools::split(url(source), url(left), url(right), 16); }).second,
              AudioExportError::description(AudioExportError::Case::unsupportedSource));
    writeWav(dir.file("stereo.wav"), 16, 44100, 2, noise(200, 16, 4));
    writeFile(left, "mine");
    EXPECT_EQ(failure<AudioExportError>([&] { StereoPCMTools::split(url(dir.file("stereo.wav")), url(left), url(right), 16); }),
              std::pair(true, invalidOutput));
    EXPECT_EQ(readAll(left), "mine");
    EXPECT_FALSE(QFile::exists(right));
    QFile::remove(left);
    writeFile(right, "mine");
    EXPECT_EQ(failure<AudioExportError>([&] { StereoPCMTools::split(url(dir.file("stereo.wav")), url(left), url(right), 16); }),
              std::pair(true, invalidOutput));
    EXPECT_FALSE(QFile::exists(left)); // the left file made first is taken back
}
