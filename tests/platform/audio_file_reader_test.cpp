#include "audio_fixtures.h"
#include "support/test_support.h"

#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_probe.h"
#include "platform/decode/audio_file_reader.h"

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
        // Noise substitution draws from the decoder's random generator, so only a read from
        // the start reproduces those bands; without it a seek is sample-exact.
        {"m4a", {QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-aac_pns"),
                 QStringLiteral("0"), QStringLiteral("-movie_timescale"), QStringLiteral("44100")}},
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

TEST(AudioFileReader, Mp3LengthIsWhatTheDecodeDelivers)
{
    test::TempDir dir;
    for (qint64 frames : {1, 1023, 1024, 1025, 4608, 44100}) {
        const QString path = dir.file(QStringLiteral("lame%1.mp3").arg(frames));
        test::makeTone(path, frames, {QStringLiteral("-c:a"), QStringLiteral("libmp3lame")});
        // Two frames are too few for content probing; the Info header still identifies them.
        AudioFileReader reader(path);
        EXPECT_EQ(reader.fileFormat().codec, AudioCodecKind::mpegLayer3);
        const qint64 length = reader.length();
        EXPECT_EQ(qint64(test::readAllFloat(reader).size()), length * 2);
        if (frames > 1) { // the command line's muxer records too little padding for one sample
            EXPECT_EQ(length, frames);
        }
    }

    // Without a header the encoder's padding is decoded, and the length says so.
    const QString plain = dir.file(QStringLiteral("plain.mp3"));
    test::makeTone(plain, 44100, {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
                                  QStringLiteral("-write_xing"), QStringLiteral("0")});
    AudioFileReader padded(plain);
    const qint64 length = padded.length();
    EXPECT_GT(length, 44100);
    EXPECT_EQ(qint64(test::readAllFloat(padded).size()), length * 2);

    // A header that promises more than a truncated file holds is not believed.
    const QByteArray whole = test::readAll(dir.file(QStringLiteral("lame44100.mp3")));
    const QString cut = dir.file(QStringLiteral("cut.mp3"));
    test::writeFile(cut, whole.left(whole.size() / 2));
    AudioFileReader truncated(cut);
    const qint64 truncatedLength = truncated.length();
    EXPECT_LT(truncatedLength, 44100);
    EXPECT_EQ(qint64(test::readAllFloat(truncated).size()), truncatedLength * 2);
}

TEST(AudioFileReader, SeekLandsOnTheSampleAFullReadDelivers)
{
    test::TempDir dir;
    std::vector<Encoding> encodings = exactEncodings();
    encodings.push_back({"mp3", {QStringLiteral("-c:a"), QStringLiteral("libmp3lame")}});
    encodings.push_back({"ogg", {QStringLiteral("-c:a"), QStringLiteral("libvorbis")}});
    for (const Encoding &encoding : encodings) {
        const QString path = dir.file(QStringLiteral("s.") + QLatin1String(encoding.extension));
        test::makeTone(path, 200000, encoding.options);
        AudioFileReader reader(path);
        SCOPED_TRACE(path.toStdString());
        const std::vector<float> whole = test::readAllFloat(reader);
        ASSERT_EQ(qint64(whole.size()), reader.length() * 2);
        // Backwards, forwards, near the start, far past the decoder's preroll, the last frame.
        for (qint64 frame : {150000, 1, 70001, 0, 16385, 199999, 100}) {
            reader.seek(frame);
            EXPECT_EQ(reader.position(), frame);
            float sample[8] = {};
            ASSERT_EQ(reader.readFloatInterleaved(sample, 4), std::min<qint64>(4, 200000 - frame));
            EXPECT_EQ(sample[0], whole[size_t(frame * 2)]) << frame;
            EXPECT_EQ(sample[1], whole[size_t(frame * 2 + 1)]) << frame;
        }
        reader.seek(250000);
        float sample[2];
        EXPECT_EQ(reader.readFloatInterleaved(sample, 1), 0);
    }
}

TEST(AudioFileReader, DecodesLikeTheCommandLineAndInt32IsLossless)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("t.flac"));
    test::makeTone(path, 30000, {QStringLiteral("-c:a"), QStringLiteral("flac"),
                                 QStringLiteral("-sample_fmt"), QStringLiteral("s32")});
    AudioFileReader reader(path);
    EXPECT_EQ(reader.fileFormat().codec, AudioCodecKind::flac);
    EXPECT_EQ(reader.fileFormat().bitsPerChannel, 24);
    EXPECT_EQ(reader.fileFormat().isSignedInteger, true);
    EXPECT_EQ(test::readAllFloat(reader, 777), test::ffmpegDecode(path));

    reader.seek(0);
    std::vector<int32_t> ints(30000 * 2);
    ASSERT_EQ(reader.readInt32Interleaved(ints.data(), 30000), 30000);
    reader.seek(0);
    std::vector<float> left(30000), right(30000);
    float *planar[] = {left.data(), right.data()};
    ASSERT_EQ(reader.readFloatPlanar(planar, 30000), 30000);
    bool allOnGrid = true;
    for (size_t i = 0; i < left.size(); ++i) {
        allOnGrid = allOnGrid && (ints[2 * i] & 0xff) == 0;
        EXPECT_EQ(double(ints[2 * i]) / 2147483648.0, double(left[i])) << i;
        EXPECT_EQ(double(ints[2 * i + 1]) / 2147483648.0, double(right[i])) << i;
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_TRUE(allOnGrid);
}

TEST(AudioFileReader, DescribesTheStream)
{
    test::TempDir dir;
    struct Case {
        const char *name;
        QStringList options;
        AudioCodecKind codec;
        bool isFloat;
        bool isSigned;
        int bits;
        int alacBits;
    };
    const std::vector<Case> cases = {
        {"u8.wav", {QStringLiteral("-c:a"), QStringLiteral("pcm_u8")}, AudioCodecKind::lpcm, false, false, 8, 0},
        {"f32.wav", {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")}, AudioCodecKind::lpcm, true, false, 32, 0},
        {"s32.aiff", {QStringLiteral("-c:a"), QStringLiteral("pcm_s32be")}, AudioCodecKind::lpcm, false, true, 32, 0},
        {"alac.m4a", {QStringLiteral("-c:a"), QStringLiteral("alac"), QStringLiteral("-sample_fmt"), QStringLiteral("s32p")}, AudioCodecKind::alac, false, false, 0, 24},
        {"aac.m4a", {QStringLiteral("-c:a"), QStringLiteral("aac")}, AudioCodecKind::aac, false, false, 0, 0},
        {"opus.ogg", {QStringLiteral("-c:a"), QStringLiteral("libopus")}, AudioCodecKind::opus, false, false, 0, 0},
        {"ac3.ac3", {QStringLiteral("-c:a"), QStringLiteral("ac3")}, AudioCodecKind::ac3, false, false, 0, 0},
        {"wma.wma", {QStringLiteral("-c:a"), QStringLiteral("wmav2")}, AudioCodecKind::other, false, false, 0, 0},
    };
    for (const Case &c : cases) {
        const QString path = dir.file(QLatin1String(c.name));
        test::makeTone(path, 48000, c.options, 48000);
        AudioFileReader reader(path);
        SCOPED_TRACE(c.name);
        const AudioFileFormat &format = reader.fileFormat();
        EXPECT_EQ(format.codec, c.codec);
        EXPECT_EQ(format.isFloat, c.isFloat);
        EXPECT_EQ(format.isSignedInteger, c.isSigned);
        EXPECT_EQ(format.bitsPerChannel, c.bits);
        EXPECT_EQ(format.alacSourceBitDepth, c.alacBits);
        EXPECT_EQ(format.sampleRate, 48000);
        EXPECT_EQ(format.channels, 2);
        EXPECT_EQ(qint64(test::readAllFloat(reader).size()), reader.length() * 2);
    }
}

TEST(AudioFileReader, RefusesWhatIsNotAudio)
{
    test::TempDir dir;
    QByteArray pcm(64 * 1024, '\0');
    for (int i = 0; i < pcm.size(); ++i)
        pcm[i] = char((i * 7919) >> 3);
    const QString raw = dir.file(QStringLiteral("raw.wav"));
    const QString text = dir.file(QStringLiteral("notes.mp3"));
    test::writeFile(raw, pcm);
    test::writeFile(text, QByteArray("Tempo notes: 120 BPM, then 96.\n").repeated(200));
    for (const QString &path : {raw, text}) {
        EXPECT_FALSE(AudioFileProbe::probe(path).has_value()) << path.toStdString();
        try {
            AudioFileReader reader(path);
            ADD_FAILURE() << "opened " << path.toStdString();
        } catch (const AudioFileError &error) {
            EXPECT_EQ(error.kind(), AudioFileError::Kind::notAudio);
        }
    }
    EXPECT_THROW(AudioFileReader(dir.file(QStringLiteral("missing.wav"))), SystemError);
    EXPECT_THROW(AudioFileReader(dir.path()), Error);

    const QString wav = dir.file(QStringLiteral("real.wav"));
    test::makeTone(wav, 10, {});
    ASSERT_TRUE(AudioFileProbe::probe(wav).has_value());
    EXPECT_EQ(AudioFileProbe::probe(wav)->container, QStringLiteral("wav"));
}

TEST(AudioFileReader, TruncatedAndDamagedFilesEndCleanly)
{
    test::TempDir dir;
    const QString wav = dir.file(QStringLiteral("t.wav"));
    test::makeTone(wav, 10000, {});
    QByteArray bytes = test::readAll(wav);
    const QString cut = dir.file(QStringLiteral("cut.wav"));
    test::writeFile(cut, bytes.left(bytes.size() - 4 * 2500 - 1)); // header still says 10,000
    AudioFileReader reader(cut);
    EXPECT_EQ(reader.length(), 7499);
    EXPECT_EQ(qint64(test::readAllFloat(reader).size()), 7499 * 2);

    const QString mp3 = dir.file(QStringLiteral("t.mp3"));
    test::makeTone(mp3, 44100, {QStringLiteral("-c:a"), QStringLiteral("libmp3lame")});
    QByteArray damaged = test::readAll(mp3);
    for (int i = 2000; i < damaged.size(); i += 97)
        damaged[i] = char(damaged[i] ^ 0x5a);
    const QString bad = dir.file(QStringLiteral("bad.mp3"));
    test::writeFile(bad, damaged);
    try {
        AudioFileReader broken(bad);
        EXPECT_GE(broken.length(), 0);
        const qint64 delivered = qint64(test::readAllFloat(broken).size()) / 2;
        EXPECT_EQ(broken.length(), delivered);
        broken.seek(0);
        EXPECT_EQ(qint64(test::readAllFloat(broken).size()), delivered * 2);
    } catch (const AudioFileError &) {
        // A typed error is as good an end as a short decode.
    }
}

TEST(AudioFileReader, ClientRateGivesTheRoundedLengthAndKeepsTime)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("t.wav"));
    test::makeTone(path, 44100, {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")}, 44100, 1);
    AudioFileReader reader(path);
    reader.setClientSampleRate(48000);
    EXPECT_EQ(reader.processingSampleRate(), 48000);
    EXPECT_EQ(reader.processingLength(), 48000);
    const std::vector<float> converted = test::readAllFloat(reader, 1000);
    ASSERT_EQ(converted.size(), 48000u);
    // A 440 Hz sine stays in phase: no delay crept in.
    for (size_t i = 1000; i < 47000; i += 997)
        EXPECT_NEAR(converted[i], 0.5 * std::sin(2 * M_PI * 440 * double(i) / 48000), 2e-3) << i;

    for (qint64 frame : {30001, 12345, 5}) {
        reader.seek(frame);
        float sample = 0;
        ASSERT_EQ(reader.readFloatInterleaved(&sample, 1), 1);
        EXPECT_NEAR(sample, converted[size_t(frame)], 1e-4) << frame;
    }
    reader.seek(47990);
    EXPECT_EQ(qint64(test::readAllFloat(reader).size()), 10);

    reader.setClientSampleRate(22050);
    EXPECT_EQ(qint64(test::readAllFloat(reader).size()), 22050);
    EXPECT_THROW(reader.setClientSampleRate(44100.5), AudioFileError);
}

TEST(AudioFileReader, CancelledTokenStopsWork)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("t.mp3"));
    test::makeTone(path, 44100, {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"),
                                 QStringLiteral("-write_xing"), QStringLiteral("0")});
    CancellationSource source;
    AudioFileReader reader(path, source.token());
    source.cancel();
    EXPECT_THROW(reader.length(), Cancelled);
    float buffer[2];
    EXPECT_THROW(reader.readFloatInterleaved(buffer, 1), Cancelled);
    EXPECT_THROW(AudioFileReader(path, source.token()), Cancelled);
}
