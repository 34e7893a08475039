// The hand-written FLAC of very short renders, byte by byte and through the FLAC tools; the
// encoder that spreads longer ones over threads, with the tempo's block written as it goes;
// which renders take which; the sources encoded without a render; and the compressed
// exporter's read-back refusing a mismatched STREAMINFO.
#include "export_fixtures.h"

#include "export/engine/compressed_audio_exporter.h"
#include "export/engine/short_flac_writer.h"
#include "platform/audio_file_error.h"
#include "platform/encode/flac_file_encoder.h"
#include "tags/flac_tempo_metadata.h"

#include <QCryptographicHash>

#include <random>

using namespace tampod;
using namespace tampod::test;
constexpr int verificationFailed = int(AudioExportError::Case::verificationFailed);

TEST(ShortFLACWriter, BytesOfTheFileAndItsFrameHeader)
{
    const std::int32_t sample = 0x1234;
    const QByteArray file = ShortFLACWriter::encode(&sample, 1, 1, 44100, 16);
    ASSERT_EQ(file.size(), 57);
    // Marker, last block STREAMINFO of 34 bytes: blocks 4608, frames 15 bytes, 44100 Hz, mono,
    // 16 bits, 1 sample; then the frame: header and CRC-8, VERBATIM subframe, CRC-16.
    EXPECT_EQ(file.left(26), QByteArray("fLaC\x80\x00\x00\x22\x12\x00\x12\x00\x00\x00\x0f\x00\x00\x0f"
                                        "\x0a\xc4\x40\xf0\x00\x00\x00\x01", 26));
    const QByteArray frame = file.mid(42);
    EXPECT_EQ(frame.left(9), QByteArray("\xff\xf8\x7d\x08\x00\x00\x00\xac\x44", 9));
    EXPECT_EQ(quint8(frame[9]), ShortFLACWriter::crc(frame.left(9), 8, 0x07));
    EXPECT_EQ(frame.mid(10, 3), QByteArray("\x02\x12\x34", 3));
    EXPECT_EQ(ShortFLACWriter::crc(frame, 16, 0x8005), 0u) << "a frame followed by its CRC-16 checks to zero";
    TempDir dir;
    writeFile(dir.file("one.flac"), file);
    runChecked("flac", {"-t", "-s", dir.file("one.flac")});
    EXPECT_EQ(samplesOf(dir.file("one.flac")), std::vector<float>{0x1234 / 32768.0f});

    // Rate code 14 with tens of hertz from 65,536 Hz; code 13 with hertz below.
    const std::int32_t pair[] = {1, -1};
    EXPECT_EQ(ShortFLACWriter::encode(pair, 1, 2, 96000, 24).mid(44, 7), QByteArray("\x7e\x1c\x00\x00\x00\x25\x80", 7));
    EXPECT_EQ(ShortFLACWriter::encode(pair, 1, 2, 48000, 16).mid(44, 7), QByteArray("\x7d\x18\x00\x00\x00\xbb\x80", 7));
    EXPECT_EQ(ShortFLACWriter::exactInteger(0.5f, 16), 16384);
    EXPECT_EQ(ShortFLACWriter::exactInteger(-1.0f, 24), -8388608);
    for (const float inexact : {0.5000001f, 1.0f, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_FALSE(ShortFLACWriter::exactInteger(inexact, 16)) << inexact;
}

TEST(ShortFLACWriter, RoundTripsBitExactAndRefusesWhatItCannotHold)
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

    writeAudio(dir.file("long.wav"), 1, 44100, std::vector<float>(4608), 16);
    writeAudio(dir.file("odd.wav"), 1, 44101, std::vector<float>(10), 16); // not an export rate
    for (const auto &[source, bits] : {std::pair("in.wav", 16), std::pair("long.wav", 16), std::pair("odd.wav", 16)}) {
        EXPECT_EQ(failureOf([&] { ShortFLACWriter::write(dir.file(source), dir.file("x.flac"), bits); }),
                  verificationFailed) << source;
        EXPECT_FALSE(exists(dir.file("x.flac")));
    }
    writeFile(dir.file("taken.flac"), "mine");
    EXPECT_EQ(posixCode([&] { ShortFLACWriter::write(dir.file("in.wav"), dir.file("taken.flac"), 24); }), EEXIST);
    EXPECT_EQ(readAll(dir.file("taken.flac")), "mine");
}

TEST(ShortFLACWriter, RendersUpTo4607FramesTakeItAndLongerOnesTheEncoder)
{
    ExportScene scene;
    for (const std::int64_t frames : {4607, 4608}) {
        const QString source = scene.file(QStringLiteral("%1.wav").arg(frames));
        const QString name = scene.file(QStringLiteral("%1.flac").arg(frames));
        writeAudio(source, 2, 44100, tone(frames, 2));
        std::vector<double> progress;
        scene.run(scene.request(trackOf(source, 99.5), settingsFor(ExportFormat::flac), QFileInfo(name).fileName()),
                  &progress);
        runChecked("flac", {"-t", "-s", name});
        // Ours declares 4,608-frame blocks; libFLAC's encoder uses 4,096 at its default level.
        EXPECT_EQ(runChecked("metaflac", {"--show-min-blocksize", "--show-total-samples", "--show-tag=BPM", name}),
                  (frames == 4607 ? "4608\n" : "4096\n") + QByteArray::number(frames) + "\nBPM=99.5");
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_EQ(progress.back(), 0.99);
        EXPECT_NE(std::find(progress.begin(), progress.end(), 0.9), progress.end());
    }
}

TEST(FlacFileEncoder, SpansJoinIntoOneBitExactStream)
{
    TempDir dir;
    std::mt19937 random(11);
    // Long input on threads; a span and a short tail, and a lone span, on the calling thread.
    for (const auto &[channels, bits, frames] : {std::tuple(2, 16, 3 * FlacFileEncoder::spanFrames + 4097),
                                                 std::tuple(1, 16, FlacFileEncoder::spanFrames + 1000),
                                                 std::tuple(1, 24, std::int64_t(5000))}) {
        std::vector<float> samples(size_t(frames * channels));
        const int scale = 1 << (bits - 1);
        QCryptographicHash md5(QCryptographicHash::Md5); // of the little-endian samples
        for (std::int64_t i = 0; i < frames * channels; ++i) {
            std::int32_t v = std::int32_t(random() % (2 * scale)) - scale;
            v = i % 3 == 0 ? v : v / 100; // loud and quiet samples
            samples[size_t(i)] = float(v) / float(scale);
            md5.addData(QByteArray(reinterpret_cast<const char *>(&v), bits / 8));
        }
        const QString in = dir.file(QStringLiteral("in%1-%2.wav").arg(bits).arg(channels));
        const QString out = dir.file(QStringLiteral("out%1-%2.flac").arg(bits).arg(channels));
        writeAudio(in, channels, 48000, samples, bits);
        std::vector<double> progress;
        FlacFileEncoder::encode(in, out, bits, [&](double p) { progress.push_back(p); });
        runChecked("flac", {"-t", "-s", out});
        EXPECT_EQ(runChecked("metaflac", {"--show-total-samples", "--show-md5sum", out}),
                  QByteArray::number(frames) + "\n" + md5.result().toHex());
        EXPECT_EQ(samplesOf(out), samples);
        EXPECT_EQ(progress.back(), 1.0);
    }
    EXPECT_THROW(FlacFileEncoder::encode(dir.file("in16-2.wav"), dir.file("wrong.flac"), 24, {}), AudioFileError);
    CancellationSource cancel;
    EXPECT_THROW(FlacFileEncoder::encode(dir.file("in16-2.wav"), dir.file("cancelled.flac"), 16,
                                         [&](double) { cancel.cancel(); }, cancel.token()),
                 Cancelled);
    EXPECT_THROW(FlacFileEncoder::encode(dir.file("in24-1.wav"), dir.file("cancelled24.flac"), 24,
                                         [&](double) { cancel.cancel(); }, cancel.token()),
                 Cancelled);
    EXPECT_FALSE(exists(dir.file("wrong.flac")) || exists(dir.file("cancelled.flac")) ||
                 exists(dir.file("cancelled24.flac")));
}

TEST(CompressedExporter, ReadBackRefusesAMismatchedStreamInfo)
{
    TempDir dir;
    writeAudio(dir.file("in.wav"), 2, 44100, tone(5000, 2), 24);
    runChecked("flac", {"-s", "-o", dir.file("24.flac"), dir.file("in.wav")});
    const auto check = [&](std::int64_t bits, const AudioExportResult &render) {
        return failureOf([&] { CompressedAudioExporter::verify(dir.file("24.flac"), settingsFor(ExportFormat::flac, bits), render); });
    };
    EXPECT_EQ(check(24, {{}, 5000, 2, 44100, {}}), -1);
    EXPECT_EQ(check(16, {{}, 5000, 2, 44100, {}}), verificationFailed) << "STREAMINFO says 24 bits";
    for (const AudioExportResult &other : {AudioExportResult{{}, 4999, 2, 44100, {}},
                                           AudioExportResult{{}, 5000, 1, 44100, {}},
                                           AudioExportResult{{}, 5000, 2, 48000, {}}})
        EXPECT_EQ(check(24, other), verificationFailed);
}

TEST(FlacFileEncoder, TheTempoBlockWrittenWhileEncodingIsWhatTaggingACopyMakes)
{
    TempDir dir;
    writeAudio(dir.file("in.wav"), 2, 44100, tone(FlacFileEncoder::spanFrames + 5000, 2));
    FlacFileEncoder::encode(dir.file("in.wav"), dir.file("plain.flac"), 16, {});
    FLACTempoMetadata::copyTagging(97.25, dir.file("plain.flac"), dir.file("copied.flac"));
    const QByteArray block = FLACTempoMetadata::newCommentBlock(97.25);
    FlacFileEncoder::encode(dir.file("in.wav"), dir.file("direct.flac"), 16, {}, {}, block);
    EXPECT_EQ(readAll(dir.file("direct.flac")), readAll(dir.file("copied.flac")));
    runChecked("flac", {"-t", "-s", dir.file("direct.flac")});
    EXPECT_EQ(runChecked("metaflac", {"--show-tag=BPM", dir.file("direct.flac")}), "BPM=97.25");
    // Without a usable tempo there is no block, and STREAMINFO stays the last.
    EXPECT_TRUE(FLACTempoMetadata::newCommentBlock(std::nullopt).isEmpty());
    EXPECT_TRUE(FLACTempoMetadata::newCommentBlock(-1).isEmpty());
    EXPECT_EQ(std::uint8_t(readAll(dir.file("plain.flac"))[4]), 0x80);
}

TEST(CompressedExporter, OnlyASourceWhoseSamplesARenderWouldCopyIsEncodedWithoutOne)
{
    ExportScene scene;
    writeAudio(scene.file("16.wav"), 2, 44100, tone(6000, 2), 16);
    writeAudio(scene.file("24.aiff"), 2, 44100, tone(6000, 2), 24, AudioFileType::aiff);
    writeAudio(scene.file("float.wav"), 2, 44100, tone(6000, 2), 32);
    writeAudio(scene.file("48k.wav"), 2, 48000, tone(6000, 2), 16);
    const auto verbatimBits = [&](const QString &name, const ExportDefaults &render,
                                  std::optional<LoopExportOptions> loop = std::nullopt) {
        AudioExportRequest request = scene.request(trackOf(scene.file(name)), render, "out.wav");
        request.loop = std::move(loop);
        const auto verbatim = AudioFileExporter::preflight(request, {});
        EXPECT_TRUE(!verbatim || (verbatim->path == scene.file(name) && verbatim->frames == 6000 &&
                                  verbatim->channels == 2));
        return verbatim ? verbatim->bits : 0;
    };
    EXPECT_EQ(verbatimBits("16.wav", settingsFor(ExportFormat::wav, 16)), 16);
    EXPECT_EQ(verbatimBits("16.wav", settingsFor(ExportFormat::wav, 24)), 16);
    EXPECT_EQ(verbatimBits("24.aiff", settingsFor(ExportFormat::wav, 24)), 24);
    EXPECT_EQ(verbatimBits("24.aiff", settingsFor(ExportFormat::wav, 16)), 0) << "deeper than the render";
    EXPECT_EQ(verbatimBits("float.wav", settingsFor(ExportFormat::wav, 24)), 0);
    EXPECT_EQ(verbatimBits("48k.wav", settingsFor(ExportFormat::wav, 16)), 0) << "another rate";
    ExportDefaults mono = settingsFor(ExportFormat::wav, 16);
    EncodingOptions options = EncodingOptions::initial(ExportFormat::wav);
    options.channels = ExportChannels::mono;
    mono.encodingByFormat[ExportFormats::rawValue(ExportFormat::wav)] = options;
    EXPECT_EQ(verbatimBits("16.wav", mono), 0);
    ExportDefaults treated = settingsFor(ExportFormat::wav, 16);
    treated.loFi = LoFiTreatment::twelveBit;
    EXPECT_EQ(verbatimBits("16.wav", treated), 0);
    EXPECT_EQ(verbatimBits("16.wav", settingsFor(ExportFormat::wav, 16),
                           wholeLoop(trackOf(scene.file("16.wav")), 6000, 44100, 1)),
              0);

    // Encoded from the source itself, the output holds its samples exactly, with its tempo.
    scene.run(scene.request(trackOf(scene.file("16.wav"), 132), settingsFor(ExportFormat::flac), "direct.flac"));
    EXPECT_EQ(samplesOf(scene.file("direct.flac")), samplesOf(scene.file("16.wav")));
    EXPECT_EQ(FLACTempoMetadata::read(scene.file("direct.flac")), 132.0);
}
