// The hand-written FLAC of very short renders, byte by byte and through the FLAC tools; the
// encoder that spreads longer ones over threads; which renders take which; and the compressed
// exporter's read-back refusing a mismatched STREAMINFO.
#include "export_fixtures.h"

#include "export/engine/compressed_audio_exporter.h"
#include "export/engine/short_flac_writer.h"
#include "platform/audio_file_error.h"
#include "platform/encode/flac_file_encoder.h"

#include <QCryptographicHash>

#include <random>

using namespace tampod;
using namespace tampod::test;
using Case = AudioExportError::Case;

namespace {

int failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AudioExportError &error) {
        return int(error.kind());
    }
    return -1;
}

} // namespace

TEST(ShortFLACWriter, OneMonoFrameIsA57ByteFile)
{
    const std::int32_t sample = 0x1234;
    const QByteArray file = ShortFLACWriter::encode(&sample, 1, 1, 44100, 16);
    ASSERT_EQ(file.size(), 57);
    EXPECT_EQ(file.left(8), QByteArray("fLaC\x80\x00\x00\x22", 8));
    const QByteArray info = file.mid(8, 34);
    EXPECT_EQ(info.left(10), QByteArray("\x12\x00\x12\x00\x00\x00\x0f\x00\x00\x0f", 10)) << "blocks 4608, frames 15";
    // 44100 Hz (20 bits), 1 channel, 16 bits, 1 sample.
    EXPECT_EQ(info.mid(10, 8), QByteArray("\x0a\xc4\x40\xf0\x00\x00\x00\x01", 8));
    const QByteArray frame = file.mid(42);
    EXPECT_EQ(frame.left(9), QByteArray("\xff\xf8\x7d\x08\x00\x00\x00\xac\x44", 9));
    EXPECT_EQ(quint8(frame[9]), ShortFLACWriter::crc(frame.left(9), 8, 0x07));
    EXPECT_EQ(frame.mid(10, 3), QByteArray("\x02\x12\x34", 3));
    EXPECT_EQ(ShortFLACWriter::crc(frame, 16, 0x8005), 0u) << "a frame with its own CRC-16 checks to zero";

    TempDir dir;
    writeFile(dir.file("one.flac"), file);
    runChecked("flac", {"-t", "-s", dir.file("one.flac")});
    EXPECT_EQ(samplesOf(dir.file("one.flac")), std::vector<float>{0x1234 / 32768.0f});
}

TEST(ShortFLACWriter, RateCodesAndExactSamples)
{
    const std::int32_t samples[] = {1, -1};
    const QByteArray at96 = ShortFLACWriter::encode(samples, 1, 2, 96000, 24);
    EXPECT_EQ(at96.mid(42 + 2, 2), QByteArray("\x7e\x1c", 2)) << "rate code 14, stereo, 24 bits";
    EXPECT_EQ(at96.mid(42 + 7, 2), QByteArray("\x25\x80", 2)) << "9600 tens of hertz";
    const QByteArray at48 = ShortFLACWriter::encode(samples, 1, 2, 48000, 16);
    EXPECT_EQ(at48.mid(42 + 2, 1), QByteArray("\x7d", 1));
    EXPECT_EQ(at48.mid(42 + 7, 2), QByteArray("\xbb\x80", 2));

    EXPECT_EQ(ShortFLACWriter::exactInteger(0.5f, 16), 16384);
    EXPECT_EQ(ShortFLACWriter::exactInteger(-1.0f, 24), -8388608);
    EXPECT_FALSE(ShortFLACWriter::exactInteger(0.5000001f, 16));
    EXPECT_FALSE(ShortFLACWriter::exactInteger(1.0f, 16));
    EXPECT_FALSE(ShortFLACWriter::exactInteger(std::numeric_limits<float>::quiet_NaN(), 16));
}

TEST(ShortFLACWriter, StereoRoundTripsBitExactAndRefusesWhatItCannotHold)
{
    TempDir dir;
    std::mt19937 random(7);
    std::vector<float> samples(4607 * 2);
    for (float &x : samples)
        x = float(std::int32_t(random() % 16777216) - 8388608) / 8388608.0f;
    writeAudio(dir.file("in.wav"), 2, 96000, samples, 24);
    ShortFLACWriter::write(dir.file("in.wav"), dir.file("out.flac"), 24);
    runChecked("flac", {"-t", "-s", dir.file("out.flac")});
    EXPECT_EQ(samplesOf(dir.file("out.flac")), samples);

    EXPECT_EQ(failureOf([&] { ShortFLACWriter::write(dir.file("in.wav"), dir.file("16.flac"), 16); }),
              int(Case::verificationFailed)) << "the source holds 24-bit samples";
    writeAudio(dir.file("long.wav"), 1, 44100, std::vector<float>(4608), 16);
    EXPECT_EQ(failureOf([&] { ShortFLACWriter::write(dir.file("long.wav"), dir.file("long.flac"), 16); }),
              int(Case::verificationFailed));
    writeAudio(dir.file("odd.wav"), 1, 44101, std::vector<float>(10), 16);
    EXPECT_EQ(failureOf([&] { ShortFLACWriter::write(dir.file("odd.wav"), dir.file("odd.flac"), 16); }),
              int(Case::verificationFailed)) << "not an export rate";
    EXPECT_FALSE(exists(dir.file("16.flac")) || exists(dir.file("long.flac")) || exists(dir.file("odd.flac")));

    writeFile(dir.file("taken.flac"), "mine");
    EXPECT_EQ(posixCode([&] { ShortFLACWriter::write(dir.file("in.wav"), dir.file("taken.flac"), 24); }), EEXIST);
    EXPECT_EQ(readAll(dir.file("taken.flac")), "mine");
}

TEST(ShortFLACWriter, RendersUpTo4607FramesTakeItAndLongerOnesTheEncoder)
{
    ExportScene scene;
    for (const std::int64_t frames : {4607, 4608}) {
        const QString source = scene.file(QStringLiteral("%1.wav").arg(frames));
        writeAudio(source, 2, 44100, tone(frames, 2));
        const QString name = QStringLiteral("%1.flac").arg(frames);
        std::vector<double> progress;
        EXPECT_EQ(scene.run(scene.request(trackOf(source, 99.5), settingsFor(ExportFormat::flac), name), &progress).frames,
                  frames);
        runChecked("flac", {"-t", "-s", scene.file(name)});
        // Ours declares 4,608-frame blocks; libFLAC's encoder uses 4,096 at its default level.
        EXPECT_EQ(runChecked("metaflac", {"--show-min-blocksize", scene.file(name)}), frames == 4607 ? "4608" : "4096");
        EXPECT_EQ(runChecked("metaflac", {"--show-tag=BPM", scene.file(name)}), "BPM=99.5");
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_EQ(progress.back(), 0.99);
        EXPECT_NE(std::find(progress.begin(), progress.end(), 0.9), progress.end());
    }
}

TEST(FlacFileEncoder, SpansJoinIntoOneBitExactStream)
{
    TempDir dir;
    std::mt19937 random(11);
    for (const auto &[channels, bits, frames] : {std::tuple(2, 16, 3 * FlacFileEncoder::spanFrames + 4097),
                                                 std::tuple(1, 24, std::int64_t(5000))}) {
        std::vector<float> samples(size_t(frames * channels));
        const int scale = 1 << (bits - 1);
        for (std::int64_t i = 0; i < frames * channels; ++i) {
            const std::int32_t v = std::int32_t(random() % (2 * scale)) - scale; // loud and quiet samples
            samples[size_t(i)] = float(i % 3 == 0 ? v : v / 100) / float(scale);
        }
        const QString in = dir.file(QStringLiteral("in%1.wav").arg(bits));
        const QString out = dir.file(QStringLiteral("out%1.flac").arg(bits));
        writeAudio(in, channels, 48000, samples, bits);
        std::vector<double> progress;
        FlacFileEncoder::encode(in, out, bits, [&](double p) { progress.push_back(p); });
        runChecked("flac", {"-t", "-s", out});
        EXPECT_EQ(runChecked("metaflac", {"--show-total-samples", out}), QByteArray::number(frames));
        // The signature is the MD5 of the little-endian samples, as the flac tool checks it.
        QCryptographicHash md5(QCryptographicHash::Md5);
        for (const float x : samples) {
            const std::int32_t v = std::int32_t(std::lround(x * scale));
            md5.addData(QByteArray(reinterpret_cast<const char *>(&v), bits / 8));
        }
        EXPECT_EQ(runChecked("metaflac", {"--show-md5sum", out}), md5.result().toHex());
        EXPECT_EQ(samplesOf(out), samples);
        EXPECT_EQ(progress.back(), 1.0);
    }
    EXPECT_THROW(FlacFileEncoder::encode(dir.file("in16.wav"), dir.file("wrong.flac"), 24, {}), AudioFileError);
    CancellationSource cancel;
    EXPECT_THROW(FlacFileEncoder::encode(dir.file("in16.wav"), dir.file("cancelled.flac"), 16,
                                         [&](double) { cancel.cancel(); }, cancel.token()),
                 Cancelled);
    EXPECT_FALSE(exists(dir.file("wrong.flac")) || exists(dir.file("cancelled.flac")));
}

TEST(CompressedExporter, ReadBackRefusesAMismatchedStreamInfo)
{
    TempDir dir;
    writeAudio(dir.file("in.wav"), 2, 44100, tone(5000, 2), 24);
    runChecked("flac", {"-s", "-o", dir.file("24.flac"), dir.file("in.wav")});
    const AudioExportResult render{{}, 5000, 2, 44100, {}};
    ExportDefaults settings = settingsFor(ExportFormat::flac, 24);
    CompressedAudioExporter::verify(dir.file("24.flac"), settings, render);
    settings.bitDepth = 16;
    EXPECT_EQ(failureOf([&] { CompressedAudioExporter::verify(dir.file("24.flac"), settings, render); }),
              int(Case::verificationFailed));
    settings.bitDepth = 24;
    for (const AudioExportResult &other : {AudioExportResult{{}, 4999, 2, 44100, {}},
                                           AudioExportResult{{}, 5000, 1, 44100, {}},
                                           AudioExportResult{{}, 5000, 2, 48000, {}}})
        EXPECT_EQ(failureOf([&] { CompressedAudioExporter::verify(dir.file("24.flac"), settings, other); }),
                  int(Case::verificationFailed));
}
