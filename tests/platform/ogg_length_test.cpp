#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/ffmpeg_decoded_stream.h"
#include "platform/decode/internal/ffmpeg_probe.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

struct Outcome {
    AudioFileFormat format;
    std::optional<int64_t> length;
    QString error;
    bool operator==(const Outcome &) const = default;
};

// The way every Ogg file went before: all demuxers asked, the length counted by a full decode.
Outcome byFullDecode(const QString &path)
{
    try {
        const FileHandle file = FileHandle::openOutside(path);
        const AVInputFormat *input = ffmpeg::probeInputFormat(file, nullptr, false);
        if (!input)
            throw AudioFileError(AudioFileError::Kind::notAudio, 0, openingText(),
                                 QStringLiteral("the content is not a recognised audio stream"));
        auto stream = openFfmpegStream(file, input, {});
        return {stream->format(), stream->countLength(), {}};
    } catch (const Error &error) {
        return {{}, {}, error.message()};
    }
}

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
        const Outcome expected = byFullDecode(path);
        ASSERT_TRUE(expected.error.isEmpty()) << expected.error.toStdString();
        int64_t delivered = 0;
        EXPECT_EQ(byGlance(path, &delivered), expected);
        EXPECT_EQ(delivered, *expected.length);
        // Only a stream of a single page of audio is left to the decode.
        if (!path.contains(QLatin1String("/4000"))) {
            EXPECT_TRUE(describedByHeader(path));
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
            const Outcome before = byFullDecode(path);
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
