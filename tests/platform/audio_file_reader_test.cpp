#include "platform_fixtures.h"
#include "support/test_support.h"

#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_probe.h"
#include "platform/decode/audio_file_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace tampod;

namespace {

struct Coding {
    const char *name; // the extension picks the container
    QStringList options;
    AudioCodecKind codec;
    int bits;
    bool isFloat;
    bool isSigned;
    int alacBits;
    bool lossless; // every sample must equal the command line's decode
};

const QStringList aacWithoutNoise = {"-c:a", "aac", "-aac_pns", "0", "-movie_timescale", "44100"};

// PCM in each container the libsndfile path takes, and the codecs only FFmpeg decodes.
const std::vector<Coding> codings = {
    {"u8.wav", {"-c:a", "pcm_u8"}, AudioCodecKind::lpcm, 8, false, false, 0, true},
    {"s16.wav", {"-c:a", "pcm_s16le"}, AudioCodecKind::lpcm, 16, false, true, 0, true},
    {"s24.wav", {"-c:a", "pcm_s24le"}, AudioCodecKind::lpcm, 24, false, true, 0, true},
    {"s32.w64", {"-c:a", "pcm_s32le"}, AudioCodecKind::lpcm, 32, false, true, 0, true},
    {"f64.wav", {"-c:a", "pcm_f64le"}, AudioCodecKind::lpcm, 64, true, false, 0, true},
    {"s8.aiff", {"-c:a", "pcm_s8"}, AudioCodecKind::lpcm, 8, false, true, 0, true},
    {"s24.aiff", {"-c:a", "pcm_s24be"}, AudioCodecKind::lpcm, 24, false, true, 0, true},
    {"f32.caf", {"-c:a", "pcm_f32le"}, AudioCodecKind::lpcm, 32, true, false, 0, true},
    {"s16.au", {"-c:a", "pcm_s16be"}, AudioCodecKind::lpcm, 16, false, true, 0, true},
    {"s24.flac", {"-c:a", "flac", "-sample_fmt", "s32"}, AudioCodecKind::flac, 24, false, true, 0, true},
    {"alac.m4a", {"-c:a", "alac", "-sample_fmt", "s32p"}, AudioCodecKind::alac, 0, false, false, 24, false},
    {"aac.m4a", aacWithoutNoise, AudioCodecKind::aac, 0, false, false, 0, false},
    {"opus.ogg", {"-c:a", "libopus"}, AudioCodecKind::opus, 0, false, false, 0, false},
    {"ac3.ac3", {"-c:a", "ac3"}, AudioCodecKind::ac3, 0, false, false, 0, false},
    {"wma.wma", {"-c:a", "wmav2"}, AudioCodecKind::other, 0, false, false, 0, false},
};

// The layouts a caller may ask for, each from the start of the file, as raw bytes.
QByteArray readInt32(AudioFileReader &reader)
{
    reader.seek(0);
    std::vector<int32_t> all(size_t(reader.length() * reader.channels()));
    EXPECT_EQ(reader.readInt32Interleaved(all.data(), reader.length()), reader.length());
    return test::bytesOf(all);
}

QByteArray readPlanarInterleaved(AudioFileReader &reader)
{
    reader.seek(0);
    std::vector<float> left(size_t(reader.length())), right(left.size()), all;
    for (qint64 at = 0, n = 1; at < reader.length() && n > 0; at += n) {
        float *planes[] = {left.data() + at, right.data() + at};
        n = reader.readFloatPlanar(planes, 999);
    }
    for (size_t i = 0; i < left.size(); ++i)
        all.insert(all.end(), {left[i], right[i]});
    return test::bytesOf(all);
}

// The first sample of an MP4 file whose one chunk of samples begins its media data, made bytes
// no decoder takes.
QByteArray withFirstSampleDamaged(QByteArray mp4)
{
    const auto u32At = [&](qsizetype at) {
        return qsizetype(uint8_t(mp4[at])) << 24 | uint8_t(mp4[at + 1]) << 16 | uint8_t(mp4[at + 2]) << 8 | uint8_t(mp4[at + 3]);
    };
    const qsizetype sizes = mp4.indexOf("stsz"), chunks = mp4.indexOf("stco");
    EXPECT_EQ(u32At(sizes + 8), 0); // a size for each sample
    const qsizetype first = u32At(chunks + 12), size = u32At(sizes + 16);
    mp4.replace(first, size, QByteArray(size, '\xFF'));
    return mp4;
}

} // namespace

TEST(AudioFileReader, DescribesEachCodingAndDeliversExactlyWhatTheCommandLineDecodes)
{
    test::TempDir dir;
    for (const Coding &c : codings) {
        const bool exactLength = c.lossless || c.codec == AudioCodecKind::aac || c.codec == AudioCodecKind::alac;
        for (qint64 frames : {1, 1023, 1024, 1025, 4608, 44100}) {
            if (!exactLength && frames != 44100)
                continue;
            const QString path = dir.file(QString::number(frames) + QLatin1String(c.name));
            test::makeTone(path, frames, c.options);
            SCOPED_TRACE(path.toStdString());
            AudioFileReader reader(path);
            const AudioFileFormat &format = reader.fileFormat();
            EXPECT_EQ(format.codec, c.codec);
            EXPECT_EQ(format.bitsPerChannel, c.bits);
            EXPECT_EQ(format.isFloat, c.isFloat);
            EXPECT_EQ(format.isSignedInteger, c.isSigned);
            EXPECT_EQ(format.alacSourceBitDepth, c.alacBits);
            EXPECT_EQ(format.sampleRate, c.codec == AudioCodecKind::opus ? 48000 : 44100);
            EXPECT_EQ(format.channels, 2);
            if (exactLength) {
                EXPECT_EQ(reader.length(), frames);
            }
            const std::vector<float> decoded = test::readAllFloat(reader, 777);
            EXPECT_EQ(qint64(decoded.size()), reader.length() * 2);
            EXPECT_EQ(reader.readFloatInterleaved(nullptr, 10), 0);
            if (!c.lossless || frames != 44100)
                continue;
            // Every layout, sample for sample; integers left-justified and lossless.
            EXPECT_TRUE(test::bytesOf(decoded) == test::ffmpegDecode(path));
            EXPECT_TRUE(readPlanarInterleaved(reader) == test::ffmpegDecode(path));
            if (!c.isFloat) {
                EXPECT_TRUE(readInt32(reader) == test::ffmpegDecode(path, "s32le"));
            }
        }
    }
}

TEST(AudioFileReader, SeekLandsOnTheSampleAFullReadDelivers)
{
    test::TempDir dir;
    // Noise substitution draws from the decoder's random generator, so only a read from the
    // start reproduces those bands; without it a seek is sample-exact.
    const std::function<QByteArray(QByteArray)> asMade;
    struct Case {
        const char *name;
        QStringList options;
        std::function<QByteArray(QByteArray)> change;
    };
    for (const auto &[name, options, change] : std::vector<Case>{
             {"s.wav", {}, asMade}, {"s.aiff", {"-c:a", "pcm_s24be"}, asMade}, {"s.caf", {"-c:a", "pcm_f32le"}, asMade},
             {"s.flac", {}, asMade}, {"s.m4a", aacWithoutNoise, asMade}, {"s.mp3", {"-c:a", "libmp3lame"}, asMade},
             {"s.ogg", {"-c:a", "libvorbis"}, asMade},
             // The decoder rejects the first packet, whose place silence keeps.
             {"damaged-first-packet.m4a", aacWithoutNoise, withFirstSampleDamaged}}) {
        const QString path = dir.file(QLatin1String(name));
        test::makeTone(path, 200000, options);
        if (change)
            test::writeFile(path, change(test::readAll(path)));
        AudioFileReader reader(path);
        SCOPED_TRACE(name);
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
        EXPECT_EQ(reader.readFloatInterleaved(nullptr, 1), 0);
    }
}

TEST(AudioFileReader, Mp3LengthIsWhatTheDecodeDeliversEvenWhenDamaged)
{
    test::TempDir dir;
    for (qint64 frames : {1, 1023, 1024, 1025, 4608, 44100}) {
        const QString path = dir.file(QStringLiteral("lame%1.mp3").arg(frames));
        test::makeTone(path, frames, {"-c:a", "libmp3lame"});
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
    test::makeTone(plain, 44100, {"-c:a", "libmp3lame", "-write_xing", "0"});
    AudioFileReader padded(plain);
    EXPECT_GT(padded.length(), 44100);
    EXPECT_EQ(qint64(test::readAllFloat(padded).size()), padded.length() * 2);

    // A header that promises more than a truncated file holds is not believed.
    const QByteArray whole = test::readAll(dir.file(QStringLiteral("lame44100.mp3")));
    const QString cut = dir.file(QStringLiteral("cut.mp3"));
    test::writeFile(cut, whole.left(whole.size() / 2));
    AudioFileReader truncated(cut);
    EXPECT_LT(truncated.length(), 44100);
    EXPECT_EQ(qint64(test::readAllFloat(truncated).size()), truncated.length() * 2);

    // Damaged frames: the length is what the decode delivers, again after a seek back.
    QByteArray damaged = whole;
    for (int i = 2000; i < damaged.size(); i += 97)
        damaged[i] = char(damaged[i] ^ 0x5a);
    const QString bad = dir.file(QStringLiteral("bad.mp3"));
    test::writeFile(bad, damaged);
    try {
        AudioFileReader broken(bad);
        const qint64 delivered = qint64(test::readAllFloat(broken).size()) / 2;
        EXPECT_EQ(broken.length(), delivered);
        broken.seek(0);
        EXPECT_EQ(qint64(test::readAllFloat(broken).size()), delivered * 2);
    } catch (const AudioFileError &) {
        // A typed error is as good an end as a short decode.
    }

    // Counting the frames of a file whose frame headers cannot give its length (a stray byte
    // between two frames) is work a cancelled token stops.
    const QByteArray plainBytes = test::readAll(plain);
    const QString gapped = dir.file(QStringLiteral("gapped.mp3"));
    test::writeFile(gapped, plainBytes.left(3000) + '\0' + plainBytes.mid(3000));
    CancellationSource source;
    AudioFileReader reader(gapped, source.token());
    source.cancel();
    EXPECT_THROW(reader.length(), Cancelled);
    float buffer[2];
    EXPECT_THROW(reader.readFloatInterleaved(buffer, 1), Cancelled);
    EXPECT_THROW(AudioFileReader(gapped, source.token()), Cancelled);
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
        EXPECT_EQ(test::caught<AudioFileError>([&] { AudioFileReader reader(path); }, [](const auto &e) { return e.kind(); }),
                  AudioFileError::Kind::notAudio);
    }
    EXPECT_THROW(AudioFileReader(dir.file(QStringLiteral("missing.wav"))), SystemError);

    const QString wav = dir.file(QStringLiteral("real.wav"));
    test::makeTone(wav, 10, {});
    ASSERT_TRUE(AudioFileProbe::probe(wav).has_value());
    EXPECT_EQ(AudioFileProbe::probe(wav)->container, QStringLiteral("wav"));
}

TEST(AudioFileReader, TruncatedPcmEndsWhereItsBytesDo)
{
    test::TempDir dir;
    for (const char *name : {"t.wav", "t.aiff"}) {
        const QString path = dir.file(QLatin1String(name));
        test::makeTone(path, 10000, {});
        const QByteArray bytes = test::readAll(path);
        const QString cut = dir.file(QStringLiteral("cut-") + QLatin1String(name));
        test::writeFile(cut, bytes.left(bytes.size() - 4 * 2500 - 1)); // the header still says 10,000
        AudioFileReader reader(cut);
        EXPECT_EQ(reader.length(), 7499) << name;
        EXPECT_EQ(qint64(test::readAllFloat(reader).size()), 7499 * 2) << name;
    }
}

TEST(AudioFileReader, ClientRateGivesTheRoundedLengthAndKeepsTime)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("t.wav"));
    test::makeTone(path, 44100, {"-c:a", "pcm_f32le"}, 44100, 1);
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
        int32_t integer = 0;
        ASSERT_EQ(reader.readFloatInterleaved(&sample, 1), 1);
        EXPECT_NEAR(sample, converted[size_t(frame)], 1e-4) << frame;
        reader.seek(frame);
        ASSERT_EQ(reader.readInt32Interleaved(&integer, 1), 1);
        EXPECT_NEAR(integer / 2147483648.0, sample, 1e-6) << frame;
    }
    reader.seek(47990);
    EXPECT_EQ(qint64(test::readAllFloat(reader).size()), 10);

    reader.setClientSampleRate(22050);
    EXPECT_EQ(qint64(test::readAllFloat(reader).size()), 22050);
    EXPECT_THROW(reader.setClientSampleRate(44100.5), AudioFileError);
}
