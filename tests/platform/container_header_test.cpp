#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_decoded_stream.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <cstring>

using namespace tampod;

namespace {

// What opening a file gives: its description and length, or the error text a user would see.
struct Outcome {
    AudioFileFormat format;
    std::optional<int64_t> length;
    QString error;
    bool operator==(const Outcome &) const = default;
};

std::vector<float> decodeAll(DecodedStream &stream)
{
    const int channels = stream.format().channels;
    std::vector<float> all, block(size_t(4096 * channels));
    SampleSink sink;
    sink.layout = SampleSink::Layout::floatInterleaved;
    sink.channels = channels;
    sink.interleaved = block.data();
    while (const int64_t n = stream.read(sink, 4096))
        all.insert(all.end(), block.begin(), block.begin() + n * channels);
    return all;
}

// Every demuxer asked and the stream information read by decoding: the way all files went before.
Outcome byProbe(const QString &path, std::vector<float> *samples = nullptr)
{
    try {
        const FileHandle file = FileHandle::openOutside(path);
        const AVInputFormat *input = ffmpeg::probeInputFormat(file, nullptr, false);
        if (!input)
            throw AudioFileError(AudioFileError::Kind::notAudio, 0, openingText(),
                                 QStringLiteral("the content is not a recognised audio stream"));
        auto stream = openFfmpegStream(file, input, {});
        const std::optional<int64_t> known = stream->knownLength();
        Outcome outcome{stream->format(), known ? *known : stream->countLength(), {}};
        stream->seek(0);
        if (samples)
            *samples = decodeAll(*stream);
        return outcome;
    } catch (const Error &error) {
        return {{}, {}, error.message()};
    }
}

Outcome byReader(const QString &path, std::vector<float> *samples = nullptr)
{
    try {
        AudioFileReader reader(path);
        Outcome outcome{reader.fileFormat(), reader.length(), {}};
        if (samples)
            *samples = test::readAllFloat(reader);
        return outcome;
    } catch (const Error &error) {
        return {{}, {}, error.message()};
    }
}

struct Made {
    const char *name; // the extension picks the container
    QStringList options;
    bool described; // the header alone states the stream
    int rate = 44100;
    int channels = 2;
};

const std::vector<Made> made = {
    {"u8.wav", {"-c:a", "pcm_u8"}, true},
    {"s16.wav", {"-c:a", "pcm_s16le"}, true},
    {"f32.wav", {"-c:a", "pcm_f32le"}, true},
    {"s24-rf64.wav", {"-c:a", "pcm_s24le", "-rf64", "always"}, true},
    {"s32-6ch.wav", {"-c:a", "pcm_s32le", "-ac", "6"}, true},
    {"s16.aiff", {"-c:a", "pcm_s16be"}, true},
    {"sowt.aifc", {"-c:a", "pcm_s16le"}, true},
    {"f32.aifc", {"-c:a", "pcm_f32be"}, true},
    {"id3.aiff", {"-c:a", "pcm_s24be", "-write_id3v2", "1", "-metadata", "TBPM=120"}, true},
    {"s16.caf", {"-c:a", "pcm_s16le"}, true},
    {"f64.caf", {"-c:a", "pcm_f64be"}, true},
    {"s16.flac", {"-c:a", "flac"}, true},
    {"s24.flac", {"-c:a", "flac", "-sample_fmt", "s32"}, true},
    {"lame.mp3", {"-c:a", "libmp3lame"}, true},
    {"lame-mono.mp3", {"-c:a", "libmp3lame"}, true, 22050, 1},
    {"id3.mp3", {"-c:a", "libmp3lame", "-metadata", "TBPM=120"}, true},
    {"aac.m4a", {"-c:a", "aac", "-aac_pns", "0", "-movie_timescale", "44100"}, true},
    {"aac-8k-mono.m4a", {"-c:a", "aac"}, true, 8000, 1},
    {"aac-6ch.m4a", {"-c:a", "aac", "-ac", "6"}, true, 48000},
    {"alac.m4a", {"-c:a", "alac"}, true},
    {"alac-24.m4a", {"-c:a", "alac", "-sample_fmt", "s32p"}, true, 96000, 1},
    {"alac-22k.m4a", {"-c:a", "alac"}, true, 22050},
    // Not the boxes the header reader trusts: the demuxer states these.
    {"no-edit.m4a", {"-c:a", "aac", "-use_editlist", "0"}, false},
    {"pcm.mov", {"-c:a", "pcm_s16le"}, false},
};

// As an import opens it: a glance, then its length, then every frame read from the start.
Outcome byGlance(const QString &path, int64_t *delivered = nullptr)
{
    try {
        AudioFileReader reader(path, {}, AudioFileReader::Use::glance);
        Outcome outcome{reader.fileFormat(), reader.length(), {}};
        if (delivered)
            *delivered = int64_t(test::readAllFloat(reader).size()) / reader.channels();
        return outcome;
    } catch (const Error &error) {
        return {{}, {}, error.message()};
    }
}

bool describedByHeader(const QString &path)
{
    const auto header = containerheader::read(FileHandle::openOutside(path));
    return header && header->description && header->description->exactLength;
}

uint32_t pageChecksum(const QByteArray &page)
{
    uint32_t crc = 0;
    for (qsizetype i = 0; i < page.size(); ++i) {
        crc ^= uint32_t(uint8_t(i >= 22 && i < 26 ? 0 : page[i])) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// Adds offset to every audio page's granule position, as a stream cut from a longer one
// carries, and signs the pages again.
QByteArray shiftGranules(QByteArray ogg, int64_t offset)
{
    for (qsizetype at = 0; at + 27 <= ogg.size();) {
        const int segments = uint8_t(ogg[at + 26]);
        qsizetype size = 27 + segments;
        for (int i = 0; i < segments; ++i)
            size += uint8_t(ogg[at + 27 + i]);
        int64_t granule = 0;
        std::memcpy(&granule, ogg.constData() + at + 6, 8);
        if (granule > 0) {
            granule += offset;
            std::memcpy(ogg.data() + at + 6, &granule, 8);
            const uint32_t crc = pageChecksum(ogg.mid(at, size));
            std::memcpy(ogg.data() + at + 22, &crc, 4);
        }
        at += size;
    }
    return ogg;
}

} // namespace

TEST(ContainerHeader, StatesWhatTheFullProbeFindsForEachFormat)
{
    test::TempDir dir;
    for (const Made &m : made) {
        for (qint64 frames : {1025, 33333, 44100}) {
            const QString path = dir.file(QString::number(frames) + QLatin1String(m.name));
            test::makeTone(path, frames, m.options, m.rate, m.channels);
            SCOPED_TRACE(path.toStdString());
            const auto header = containerheader::read(FileHandle::openOutside(path));
            ASSERT_TRUE(header.has_value());
            EXPECT_EQ(header->description.has_value(), m.described);
            std::vector<float> probed, read;
            const Outcome expected = byProbe(path, &probed);
            ASSERT_TRUE(expected.error.isEmpty());
            if (header->description) {
                EXPECT_EQ(header->description->format, expected.format);
                EXPECT_EQ(header->description->exactLength, expected.length);
            }
            EXPECT_EQ(byReader(path, &read), expected);
            EXPECT_TRUE(test::bytesOf(read) == test::bytesOf(probed));
            // AAC states its encoder's delay without an edit, and an edit in whole milliseconds
            // may state a few frames more than were encoded.
            if (expected.length && !QLatin1String(m.name).contains(QLatin1String("aac"))
                && !QLatin1String(m.name).contains(QLatin1String("edit"))) {
                EXPECT_EQ(*expected.length, frames);
            }
        }
    }

    // Other encoders' headers: sox's WAV and AIFF, the reference FLAC encoder's STREAMINFO.
    const QString wav = dir.file(QStringLiteral("sox.wav")), aiff = dir.file(QStringLiteral("sox.aiff"));
    test::runChecked(QStringLiteral("sox"), {"-n", "-r", "48000", "-c", "2", "-b", "24", wav, "synth", "0.5", "sine", "440"});
    test::runChecked(QStringLiteral("sox"), {wav, aiff});
    const QString flac = dir.file(QStringLiteral("ref.flac"));
    test::runChecked(QStringLiteral("flac"), {"-s", "-f", "-o", flac, wav});
    for (const QString &path : {wav, aiff, flac}) {
        SCOPED_TRACE(path.toStdString());
        const auto header = containerheader::read(FileHandle::openOutside(path));
        ASSERT_TRUE(header && header->description);
        EXPECT_EQ(header->description->exactLength, 24000);
        EXPECT_EQ(byReader(path), byProbe(path));
    }
}

TEST(ContainerHeader, HostileOrTruncatedHeadersFallBackOrRefuseAsBefore)
{
    test::TempDir dir;
    const char *const names[] = {"s16.wav", "s16.aiff", "s16.caf", "s16.flac", "lame.mp3", "aac.m4a", "alac.m4a"};
    for (const char *name : names) {
        const QString source = dir.file(QStringLiteral("whole-") + QLatin1String(name));
        const Made &m = *std::find_if(made.begin(), made.end(),
                                      [&](const Made &each) { return QLatin1String(each.name).endsWith(QLatin1String(name)); });
        test::makeTone(source, 4608, m.options);
        const QByteArray whole = test::readAll(source);
        std::vector<QByteArray> variants;
        for (int cut : {4, 11, 12, 20, 30, 40, 44, 60, 100, 300, 1000})
            variants.push_back(whole.left(cut));
        // Sizes, counts and rates at their extremes, one header field at a time.
        for (int at = 4; at < 120; at += 3) {
            for (const char fill : {'\x00', '\xFF', '\x7F'}) {
                QByteArray bent = whole;
                bent[at] = fill;
                bent[at + 1] = fill;
                variants.push_back(bent);
            }
        }
        // An MP4's boxes of interest sit at the end, after the samples.
        if (const qsizetype moov = whole.indexOf("moov"); moov > 0) {
            for (qsizetype at = moov - 4; at + 2 < whole.size(); at += 5) {
                for (const char fill : {'\x00', '\xFF'}) {
                    QByteArray bent = whole;
                    bent[at] = fill;
                    bent[at + 1] = fill;
                    variants.push_back(bent);
                }
            }
            for (qsizetype cut = moov + 8; cut < whole.size(); cut += 97)
                variants.push_back(whole.left(cut));
        }
        const QString path = dir.file(QStringLiteral("bent-") + QLatin1String(name));
        for (size_t i = 0; i < variants.size(); ++i) {
            test::writeFile(path, variants[i]);
            SCOPED_TRACE(std::string(name) + " variant " + std::to_string(i));
            (void)containerheader::read(FileHandle::openOutside(path));
            const Outcome probed = byProbe(path), read = byReader(path);
            // A refusal says what it said before; what opens is what the full probe found.
            if (!read.error.isEmpty()) {
                EXPECT_EQ(read.error.toStdString(), probed.error.toStdString());
                continue;
            }
            if (!probed.error.isEmpty())
                continue;
            EXPECT_EQ(read.format, probed.format);
            EXPECT_EQ(read.length, probed.length);
        }
    }
}

TEST(ContainerHeader, AFileCutShortByLessThanAFrameOrAChunkHeaderGoesToTheFullProbe)
{
    test::TempDir dir;
    for (const char *name : {"s16.wav", "s16.aiff", "s16.caf"}) {
        const QString source = dir.file(QStringLiteral("whole-") + QLatin1String(name));
        const Made &m = *std::find_if(made.begin(), made.end(),
                                      [&](const Made &each) { return QLatin1String(each.name).endsWith(QLatin1String(name)); });
        test::makeTone(source, 4608, m.options);
        const QByteArray whole = test::readAll(source);
        const QString path = dir.file(QStringLiteral("short-") + QLatin1String(name));
        for (int cut = 1; cut <= 8; ++cut) {
            SCOPED_TRACE(std::string(name) + " cut by " + std::to_string(cut));
            test::writeFile(path, whole.chopped(cut));
            const auto header = containerheader::read(FileHandle::openOutside(path));
            ASSERT_TRUE(header.has_value());
            EXPECT_FALSE(header->description.has_value());
            EXPECT_EQ(byReader(path), byProbe(path));
        }
    }
}

TEST(ContainerHeader, PackedBurstsInWavDataDecodeAsTheFullProbeDecidesWhereverTheyStart)
{
    test::TempDir dir;
    const QString bursts = dir.file(QStringLiteral("bursts.spdif"));
    test::runChecked(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i", "sine=d=0.5", "-ac", "2", "-ar", "48000",
                                                "-c:a", "ac3", "-f", "spdif", "-y", bursts});
    // Near the start the demuxer takes them for AC-3; far in they are PCM that happens to match.
    for (const int silence : {0, 16000, 40000, 70000, 300000}) {
        const QString raw = dir.file(QStringLiteral("raw")), wav = dir.file(QString::number(silence) + QLatin1String(".wav"));
        test::writeFile(raw, QByteArray(silence, '\0') + test::readAll(bursts));
        test::runChecked(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "s16le", "-ar", "48000", "-ac", "2", "-i", raw,
                                                    "-c:a", "pcm_s16le", "-y", wav});
        SCOPED_TRACE(wav.toStdString());
        const Outcome probed = byProbe(wav);
        ASSERT_TRUE(probed.error.isEmpty());
        EXPECT_EQ(probed.format.codec == AudioCodecKind::ac3, silence < 32768);
        EXPECT_EQ(byReader(wav), probed);
    }
}

TEST(ContainerHeader, AGlanceOpensTheSameStreamAsAFullRead)
{
    test::TempDir dir;
    const QString flac = dir.file(QStringLiteral("tone.flac")), unsized = dir.file(QStringLiteral("unsized.flac"));
    test::makeTone(flac, 44100, {"-c:a", "flac"});
    // A STREAMINFO without a sample count takes the full probe's path.
    QByteArray bytes = test::readAll(flac);
    bytes[21] = char(bytes[21] & 0xF0);
    bytes.replace(22, 4, QByteArray(4, '\0'));
    test::writeFile(unsized, bytes);
    ASSERT_FALSE(containerheader::read(FileHandle::openOutside(unsized))->parametersInHeader);
    for (const QString &path : {flac, unsized}) {
        SCOPED_TRACE(path.toStdString());
        AudioFileReader full(path), glance(path, {}, AudioFileReader::Use::glance);
        EXPECT_EQ(glance.fileFormat(), full.fileFormat());
        EXPECT_EQ(glance.length(), full.length());
        std::vector<float> a(4096 * 2), b(a.size());
        EXPECT_EQ(glance.readFloatInterleaved(a.data(), 4096), full.readFloatInterleaved(b.data(), 4096));
        EXPECT_TRUE(a == b);
    }
}

TEST(OggLength, PagesGiveTheLengthAFullDecodeDelivers)
{
    test::TempDir dir;
    struct Made {
        const char *name;
        QStringList options;
        int rate;
        int channels;
    };
    const std::vector<Made> made = {
        {"vorbis.ogg", {"-c:a", "libvorbis"}, 44100, 2},
        {"vorbis-q9.ogg", {"-c:a", "libvorbis", "-q:a", "9"}, 48000, 2},
        {"vorbis-mono.ogg", {"-c:a", "libvorbis", "-q:a", "0"}, 22050, 1},
        {"vorbis-8k.ogg", {"-c:a", "libvorbis"}, 8000, 1},
        {"vorbis-96k.ogg", {"-c:a", "libvorbis"}, 96000, 2},
        {"vorbis-6ch.ogg", {"-c:a", "libvorbis", "-ac", "6"}, 48000, 2},
        {"opus.opus", {"-c:a", "libopus"}, 48000, 2},
        {"opus-44k.ogg", {"-c:a", "libopus", "-b:a", "64k"}, 44100, 2},
        {"opus-mono.opus", {"-c:a", "libopus", "-frame_duration", "60"}, 16000, 1},
        {"opus-short-frames.opus", {"-c:a", "libopus", "-frame_duration", "2.5"}, 48000, 2},
        {"opus-small-pages.opus", {"-c:a", "libopus", "-page_duration", "20000"}, 48000, 2},
        {"opus-6ch.opus", {"-c:a", "libopus", "-ac", "6", "-mapping_family", "1"}, 48000, 2},
    };
    std::vector<QString> paths;
    for (const Made &m : made) {
        for (const qint64 frames : {4000, 100000, 480001}) {
            const QString path = dir.file(QString::number(frames) + QLatin1String(m.name));
            test::makeTone(path, frames, m.options, m.rate, m.channels);
            paths.push_back(path);
        }
    }
    // Other encoders' pages: sox's Vorbis, and streams cut from longer ones, which start past 0.
    const QString sox = dir.file(QStringLiteral("sox.ogg"));
    test::runChecked(QStringLiteral("sox"), {"-n", "-r", "32000", "-c", "2", sox, "synth", "7.3", "sine", "440"});
    paths.push_back(sox);
    for (const QString &name : {QStringLiteral("100000vorbis.ogg"), QStringLiteral("480001opus.opus")}) {
        const QString shifted = dir.file(QStringLiteral("shifted-") + name);
        test::writeFile(shifted, shiftGranules(test::readAll(dir.file(name)), 123457));
        paths.push_back(shifted);
    }

    for (const QString &path : paths) {
        SCOPED_TRACE(path.toStdString());
        Outcome expected = byProbe(path);
        ASSERT_TRUE(expected.error.isEmpty()) << expected.error.toStdString();
        // Vorbis of a single page of audio ends where its granule says, which the demuxer alone
        // misreads; Opus of a single page is left to the decode.
        const bool onePageVorbis = path.contains(QLatin1String("/4000vorbis"));
        if (onePageVorbis)
            expected.length = 4000;
        int64_t delivered = 0;
        EXPECT_EQ(byGlance(path, &delivered), expected);
        EXPECT_EQ(delivered, *expected.length);
        if (!path.contains(QLatin1String("/4000")) || onePageVorbis) {
            EXPECT_TRUE(describedByHeader(path));
        }
        // Opened by its pages, the stream decodes to the very samples the full probe's does.
        if (path.contains(QLatin1String("/100000"))) {
            std::vector<float> probed, read;
            byProbe(path, &probed);
            byReader(path, &read);
            EXPECT_TRUE(test::bytesOf(read) == test::bytesOf(probed));
        }
    }
}

TEST(OggLength, DamagedOrCutPagesFallBackToTheFullDecodeOrRefuseAsBefore)
{
    test::TempDir dir;
    for (const auto &[name, codec] : {std::pair{"v.ogg", "libvorbis"}, std::pair{"o.opus", "libopus"}}) {
        const QString source = dir.file(QStringLiteral("whole-") + QLatin1String(name));
        test::makeTone(source, 150000, {"-c:a", codec});
        const QByteArray whole = test::readAll(source);
        std::vector<QByteArray> variants;
        for (const qsizetype cut : {qsizetype(20), qsizetype(60), qsizetype(400), qsizetype(5000), whole.size() / 2,
                                    whole.size() - 3000, whole.size() - 100, whole.size() - 1})
            variants.push_back(whole.left(cut));
        variants.push_back(whole + QByteArray(500, '\x55')); // trailing bytes after the last page
        // Header fields bent near the start and across the last pages.
        const qsizetype lastPages = whole.lastIndexOf("OggS", whole.lastIndexOf("OggS") - 1);
        for (qsizetype at : {qsizetype(4), qsizetype(5), qsizetype(26), qsizetype(28), qsizetype(39), qsizetype(40),
                             qsizetype(66), qsizetype(70), lastPages + 5, lastPages + 6, lastPages + 13,
                             lastPages + 26, lastPages + 28, whole.lastIndexOf("OggS") + 5,
                             whole.lastIndexOf("OggS") + 6, whole.lastIndexOf("OggS") + 14,
                             whole.lastIndexOf("OggS") + 27, whole.lastIndexOf("OggS") + 30}) {
            for (const char fill : {'\x00', '\xFF', '\x04'}) {
                QByteArray bent = whole;
                bent[at] = fill;
                variants.push_back(bent);
            }
        }
        // Pages signed again after the change, so only the stream's own rules can refuse them:
        // the last granule before its packets' end, past it, far past it, and negative.
        for (const int64_t shift : {int64_t(-100000), int64_t(-5000), int64_t(7000), int64_t(1) << 61}) {
            QByteArray last = whole.mid(whole.lastIndexOf("OggS"));
            int64_t granule = 0;
            std::memcpy(&granule, last.constData() + 6, 8);
            granule += shift;
            std::memcpy(last.data() + 6, &granule, 8);
            const uint32_t crc = pageChecksum(last);
            std::memcpy(last.data() + 22, &crc, 4);
            variants.push_back(whole.left(whole.lastIndexOf("OggS")) + last);
        }
        const QString path = dir.file(QStringLiteral("bent-") + QLatin1String(name));
        for (size_t i = 0; i < variants.size(); ++i) {
            test::writeFile(path, variants[i]);
            SCOPED_TRACE(std::string(name) + " variant " + std::to_string(i));
            const Outcome before = byProbe(path);
            int64_t delivered = -1;
            const Outcome now = byGlance(path, &delivered);
            // A refusal says what it said before; what opens has the length its decode delivers.
            if (!now.error.isEmpty()) {
                EXPECT_EQ(now.error.toStdString(), before.error.toStdString());
                continue;
            }
            EXPECT_EQ(now.length, delivered);
            if (!before.error.isEmpty())
                continue;
            EXPECT_EQ(now.format, before.format);
            if (describedByHeader(path)) {
                EXPECT_EQ(now.length, before.length);
            }
        }
    }
}

TEST(CompandedLength, ComesFromTheHeaderAndTheBytesThereAsTheDecodeFindsIt)
{
    test::TempDir dir;
    for (const char *codec : {"pcm_mulaw", "pcm_alaw"}) {
        for (const char *container : {"au", "wav"}) {
            for (const qint64 frames : {4001, 100000}) {
                const QString path = dir.file(QStringLiteral("%1-%2.%3").arg(frames).arg(codec, container));
                test::makeTone(path, frames, {"-c:a", codec});
                const QByteArray whole = test::readAll(path);
                // As made, with bytes after the samples (which the AU demuxer decodes too), and
                // cut inside the last frames.
                const qint64 after = QLatin1String(container) == QLatin1String("au") ? 500 : 0;
                const std::vector<std::pair<QByteArray, qint64>> variants = {
                    {whole, frames}, {whole + QByteArray(1001, '\x55'), frames + after}, {whole.left(whole.size() - 1001), frames - 501}};
                for (const auto &[bytes, expected] : variants) {
                    test::writeFile(path, bytes);
                    SCOPED_TRACE(path.toStdString() + " of " + std::to_string(bytes.size()) + " bytes");
                    // Known before a frame past the first is decoded, and what the command line decodes.
                    const FileHandle file = FileHandle::openOutside(path);
                    EXPECT_EQ(openDecodedStream(file, {}, true)->knownLength(), expected);
                    EXPECT_EQ(test::ffmpegDecode(path).size(), expected * 2 * qsizetype(sizeof(float)));
                    AudioFileReader reader(path, {}, AudioFileReader::Use::glance);
                    EXPECT_EQ(reader.length(), expected);
                    EXPECT_EQ(qint64(test::readAllFloat(reader).size()), expected * 2);
                }
            }
        }
    }
}

namespace {

// As the command line decodes it: the frames per channel.
qint64 decodedFrames(const QString &path, int channels)
{
    return test::ffmpegDecode(path).size() / (channels * qsizetype(sizeof(float)));
}

std::optional<int64_t> knownAtOpen(const QString &path)
{
    try {
        const FileHandle file = FileHandle::openOutside(path);
        return openDecodedStream(file, {}, true)->knownLength();
    } catch (const Error &error) {
        ADD_FAILURE() << error.message().toStdString();
        return std::nullopt;
    }
}

} // namespace

TEST(WalkedLength, FrameHeadersGiveTheLengthAFullDecodeDelivers)
{
    test::TempDir dir;
    struct Case {
        const char *name;
        QStringList options;
        int rate;
        int channels;
    };
    const std::vector<Case> cases = {
        {"lc.aac", {"-c:a", "aac"}, 44100, 2},
        {"lc-mono.aac", {"-c:a", "aac"}, 22050, 1},
        {"lc-6ch.aac", {"-c:a", "aac", "-ac", "6"}, 48000, 6},
        {"stereo.ac3", {"-c:a", "ac3"}, 48000, 2},
        {"mono.ac3", {"-c:a", "ac3", "-ac", "1"}, 44100, 1},
        {"5.1.ac3", {"-c:a", "ac3", "-ac", "6"}, 32000, 6},
        {"enhanced.ac3", {"-c:a", "eac3", "-f", "eac3"}, 48000, 2},
        {"enhanced-44k.ac3", {"-c:a", "eac3", "-f", "eac3", "-ac", "1"}, 44100, 1},
        {"plain.mp3", {"-c:a", "libmp3lame", "-write_xing", "0"}, 44100, 2},
        {"vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "4", "-write_xing", "0", "-id3v2_version", "0"}, 48000, 2},
        {"mpeg2.mp3", {"-c:a", "libmp3lame", "-write_xing", "0", "-write_id3v1", "1", "-metadata", "title=x"}, 22050, 1},
        {"mpeg25.mp3", {"-c:a", "libmp3lame", "-write_xing", "0"}, 11025, 1},
    };
    for (const Case &c : cases) {
        // (A few frames of AC-3 are too little for content probing.)
        for (const qint64 frames : {30011, 250000}) {
            const QString path = dir.file(QStringLiteral("%1-%2").arg(frames).arg(QLatin1String(c.name)));
            test::makeTone(path, frames, c.options, c.rate, c.channels);
            SCOPED_TRACE(path.toStdString());
            const qint64 decoded = decodedFrames(path, c.channels);
            ASSERT_GE(decoded, frames);
            // Known before a frame past the first is decoded, and what every path delivers.
            EXPECT_EQ(knownAtOpen(path), decoded);
            int64_t delivered = 0;
            const Outcome glance = byGlance(path, &delivered);
            EXPECT_EQ(glance.length, decoded);
            EXPECT_EQ(delivered, decoded);
            EXPECT_EQ(glance.format.sampleRate, c.rate);
            EXPECT_EQ(byProbe(path).length, decoded);
        }
    }
}

TEST(WalkedLength, DamagedCutOrUnusualStreamsFallBackToTheFullDecode)
{
    test::TempDir dir;
    const QString aac = dir.file("tone.aac"), ac3 = dir.file("tone.ac3"), mp3 = dir.file("tone.mp3");
    test::makeTone(aac, 100000, {"-c:a", "aac"});
    test::makeTone(ac3, 100000, {"-c:a", "ac3"}, 48000);
    test::makeTone(mp3, 100000, {"-c:a", "libmp3lame", "-write_xing", "0", "-id3v2_version", "0"});
    for (const QString &path : {aac, ac3, mp3}) {
        const QByteArray whole = test::readAll(path);
        QByteArray flipped = whole;
        flipped[whole.size() / 2] = char(flipped[whole.size() / 2] ^ 0x10);
        // Cut inside a frame, bytes after the last frame, a damaged frame, a gap, a leading byte.
        const std::vector<QByteArray> variants = {whole.left(whole.size() - 100), whole + QByteArray(300, '\x55'),
                                                  flipped, whole.left(3000) + whole.mid(3001),
                                                  QByteArray(1, '\0') + whole, whole + QByteArray("TAG") + QByteArray(125, '\xFF')};
        const QString untagged = dir.file("untagged." + QFileInfo(path).suffix());
        test::writeFile(untagged, whole);
        for (const QByteArray &bytes : variants) {
            const QString variant = dir.file("variant." + QFileInfo(path).suffix());
            test::writeFile(variant, bytes);
            SCOPED_TRACE(path.toStdString() + " as " + std::to_string(bytes.size()) + " bytes");
            const Outcome probe = byProbe(variant);
            int64_t delivered = 0;
            const Outcome glance = byGlance(variant, &delivered);
            EXPECT_EQ(glance, probe);
            if (!probe.error.isEmpty())
                continue;
            // Where the walk vouched for it, the decode delivers exactly that; else only the
            // decode counted.
            const std::optional<int64_t> known = knownAtOpen(variant);
            if (known) {
                EXPECT_EQ(*known, delivered);
                // A tag at the end is no audio: the stream is decoded without it.
                const bool tagged = bytes.size() == whole.size() + 128 && bytes.startsWith(whole);
                EXPECT_EQ(*known, decodedFrames(tagged ? untagged : variant, glance.format.channels));
            }
            if (path == ac3 && bytes == flipped) {
                EXPECT_FALSE(known); // a CRC fails
            }
        }
    }
}
