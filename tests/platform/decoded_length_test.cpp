#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/container_header.h"
#include "platform/decode/internal/mpeg/coded_frame_walk.h"
#include "platform/decode/internal/ogg/ogg_audio_info.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <span>
#include <tuple>

using namespace tampod;

namespace {

// The pages of an Ogg file, each whole, in file order.
std::vector<QByteArray> pagesOf(const QByteArray &ogg)
{
    std::vector<QByteArray> pages;
    for (qsizetype at = 0; at + 27 <= ogg.size();) {
        qsizetype size = 27 + uint8_t(ogg[at + 26]);
        for (int i = 0; i < uint8_t(ogg[at + 26]); ++i)
            size += uint8_t(ogg[at + 27 + i]);
        pages.push_back(ogg.mid(at, size));
        at += size;
    }
    return pages;
}

QByteArray joined(const std::vector<QByteArray> &pages)
{
    QByteArray all;
    for (const QByteArray &page : pages)
        all += page;
    return all;
}

int64_t granuleOf(const QByteArray &page)
{
    int64_t granule = 0;
    std::memcpy(&granule, page.constData() + 6, 8);
    return granule;
}

// The page with its checksum made to hold again.
QByteArray signedAgain(QByteArray page)
{
    uint32_t crc = 0;
    for (qsizetype i = 0; i < page.size(); ++i) {
        crc ^= uint32_t(uint8_t(i >= 22 && i < 26 ? 0 : page[i])) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    std::memcpy(page.data() + 22, &crc, 4);
    return page;
}

// A byte in the middle of the page's packets changed; its checksum no longer holds.
QByteArray damaged(QByteArray page)
{
    const qsizetype at = 27 + uint8_t(page[26]) + (page.size() - 27 - uint8_t(page[26])) / 2;
    page[at] = char(page[at] ^ 0x20);
    return page;
}

// Vorbis or Opus as the command line encodes it, the serial number fixed by serial.
QByteArray encoded(const QString &path, const char *codec, qint64 frames, int serial)
{
    test::makeTone(path, frames, {"-c:a", codec, "-fflags", "+bitexact", "-serial_offset", QString::number(serial)});
    return test::readAll(path);
}

// The file of a chain's link n, next to the chain at path.
QString linkOf(const QString &path, int n)
{
    return QString(path).insert(path.lastIndexOf('.'), QStringLiteral("-%1").arg(n));
}

struct Case {
    const char *name;
    // Writes the file at path; empty when the case is the file made there.
    std::function<QByteArray(const QString &path)> make;
    bool pagesState = false; // a plain Ogg stream or chain: its pages state the length
    int tagBytes = 0;        // a tag at the end, which is no audio: the reference decodes the file without it
    // A chain's links, each written by make to its own file: the reference is their decodes
    // alone, one after the other (the command line decodes a chain with one decoder throughout).
    int links = 0;
};

std::vector<Case> oggCases(const char *codec)
{
    const auto plain = [codec](const QString &path) { return encoded(path, codec, 220500, 0); };
    // An operation on the pages of a plain file.
    const auto bent = [plain](std::function<void(std::vector<QByteArray> &)> change) {
        return [plain, change](const QString &path) {
            std::vector<QByteArray> pages = pagesOf(plain(path));
            change(pages);
            return joined(pages);
        };
    };
    return {
        {"plain", plain, true},
        {"chained, one serial",
         [codec](const QString &path) {
             return encoded(linkOf(path, 1), codec, 100000, 0)
                    + encoded(linkOf(path, 2), codec, 70000, 0);
         },
         true, 0, 2},
        {"chained, two serials",
         [codec](const QString &path) {
             return encoded(linkOf(path, 1), codec, 100000, 0)
                    + encoded(linkOf(path, 2), codec, 70000, 9);
         },
         true, 0, 2},
        {"dropped middle page",
         bent([](auto &pages) { pages.erase(pages.begin() + qsizetype(pages.size() / 2)); })},
        {"repeated middle page", bent([](auto &pages) {
             pages.insert(pages.begin() + qsizetype(pages.size() / 2), pages[pages.size() / 2]);
         })},
        {"middle page whose checksum fails",
         bent([](auto &pages) { pages[pages.size() / 2] = damaged(pages[pages.size() / 2]); })},
        {"granules raised mid-file", bent([](auto &pages) {
             for (size_t i = pages.size() / 2; i < pages.size(); ++i)
                 pages[i] = signedAgain(pages[i].replace(6, 8, [&] {
                     const int64_t raised = granuleOf(pages[i]) + 20000;
                     return QByteArray(reinterpret_cast<const char *>(&raised), 8);
                 }()));
         })},
        {"damaged first audio page", bent([](auto &pages) {
             const auto audio = std::find_if(pages.begin() + 1, pages.end(), [](const QByteArray &p) { return granuleOf(p) > 0; });
             *audio = damaged(*audio);
         })},
    };
}

std::vector<Case> otherCases()
{
    const auto tone = [](QStringList options, int rate, int channels, double seconds) {
        return [=](const QString &path) {
            test::makeTone(path, qint64(seconds * rate), options, rate, channels);
            return QByteArray();
        };
    };
    // Companded WAV whose header leaves the frame size at 0.
    const auto unaligned = [](const char *codec) {
        return [codec](const QString &path) {
            test::makeTone(path, 100000, {"-c:a", codec});
            QByteArray wav = test::readAll(path);
            EXPECT_EQ(wav.mid(12, 4), "fmt ");
            wav[32] = wav[33] = '\0';
            return wav;
        };
    };
    return {
        {"u-law.wav", unaligned("pcm_mulaw")},
        {"a-law.wav", unaligned("pcm_alaw")},
        {"tagged.ac3", [](const QString &path) {
             test::makeTone(path, 336000, {"-c:a", "ac3"}, 48000);
             return test::readAll(path) + test::id3v1Tag();
         }, false, 128},
        // Too short for content probing.
        {"short.ac3", tone({"-c:a", "ac3"}, 48000, 2, 0.1)},
        {"short-enhanced.ac3", tone({"-c:a", "eac3", "-f", "eac3"}, 48000, 2, 0.1)},
        {"short.mp3", tone({"-c:a", "libmp3lame", "-write_xing", "0", "-id3v2_version", "0"}, 44100, 2, 0.1)},
        {"short-8k.aac", tone({"-c:a", "aac", "-f", "adts"}, 8000, 1, 0.1)},
    };
}

struct Read {
    int64_t stated = -1;    // the length before a frame past the first is read
    int64_t delivered = -1; // frames read from the start to the end
    int64_t fromSeek = -1;  // frames read from three quarters in to the end
};

Read readBack(const QString &path, AudioFileReader::Use use)
{
    AudioFileReader reader(path, {}, use);
    Read read;
    read.stated = reader.length();
    read.delivered = int64_t(test::readAllFloat(reader).size()) / reader.channels();
    reader.seek(read.stated * 3 / 4);
    read.fromSeek = int64_t(test::readAllFloat(reader).size()) / reader.channels() + read.stated * 3 / 4;
    return read;
}

bool statedByPages(const QString &path)
{
    const FileHandle file = FileHandle::openOutside(path);
    return oggaudio::describe(file, 0, file.size()).has_value();
}

} // namespace

// Where the pages or frame headers cannot vouch for a file, the decode counts it: what is stated,
// played from the start or from a seek, and read for an export is what the command line decodes
// (of a chain, what it decodes of each link alone).
TEST(DecodedLength, StatedPlayedAndExportedLengthsAreTheDecodes)
{
    test::TempDir dir;
    std::vector<std::pair<QString, Case>> all;
    for (const auto &[codec, extension] : {std::pair{"libvorbis", ".ogg"}, std::pair{"libopus", ".opus"}})
        for (const Case &c : oggCases(codec))
            all.emplace_back(QLatin1String(codec) + " " + QLatin1String(c.name) + extension, c);
    for (const Case &c : otherCases())
        all.emplace_back(QLatin1String(c.name), c);
    int index = 0;
    for (const auto &[name, c] : all) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.file(QString::number(index++) + name.section(' ', -1).section('.', -1).prepend('.'));
        if (const QByteArray bytes = c.make(path); !bytes.isEmpty())
            test::writeFile(path, bytes);
        const int channels = path.endsWith(QLatin1String(".aac")) ? 1 : 2;
        const QString untagged = path + ".untagged." + path.section('.', -1);
        if (c.tagBytes > 0)
            test::writeFile(untagged, test::readAll(path).chopped(c.tagBytes));
        int64_t decoded = 0;
        if (c.links == 0)
            decoded = test::ffmpegDecode(c.tagBytes > 0 ? untagged : path).size();
        for (int n = 1; n <= c.links; ++n)
            decoded += test::ffmpegDecode(linkOf(path, n)).size();
        decoded /= channels * qsizetype(sizeof(float));
        ASSERT_GT(decoded, 0);
        if (path.endsWith(QLatin1String(".ogg")) || path.endsWith(QLatin1String(".opus"))) {
            EXPECT_EQ(statedByPages(path), c.pagesState);
        }
        try {
            for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
                const Read read = readBack(path, use);
                EXPECT_EQ(read.stated, decoded);
                EXPECT_EQ(read.delivered, decoded);
                EXPECT_EQ(read.fromSeek, decoded);
            }
        } catch (const AudioFileError &error) {
            ADD_FAILURE() << error.message().toStdString();
        }
    }
}

// A one-shot whose audio fits on one page, which is also its last: the last granule is its end,
// as the command-line decoders read it (the demuxer alone cuts or overruns it), alone and as the
// links of a chain. What is stated, for a glance too, read from the start and read after a seek
// (the very samples of the read from the start) is that length.
TEST(DecodedLength, OneShotVorbisEndsWhereItsLastGranuleSays)
{
    test::TempDir dir;
    struct Link {
        qint64 frames;
        int rate = 44100, channels = 2;
        QStringList options = {};
    };
    std::vector<Link> shots;
    for (int k = 1; k <= 12; ++k)
        shots.push_back({qint64(1500 * k + 37 * k * k)});
    const std::vector<std::pair<const char *, std::vector<Link>>> cases = {
        {"0.2 s", {{8820}}},
        {"0.5 s", {{22050}}},
        {"1 s", {{44100}}},
        {"mono 22.05 kHz, 3 s on one page", {{66150, 22050, 1, {"-page_duration", "5000000"}}}},
        {"twelve one-shots chained", shots},
        {"a one-shot, then a long link", {{8820}, {150000}}},
    };
    int index = 0;
    for (const auto &[name, links] : cases) {
        SCOPED_TRACE(name);
        QByteArray bytes;
        qint64 expected = 0;
        int serial = 0;
        for (const Link &link : links) {
            const QString path = dir.file(QStringLiteral("link%1.ogg").arg(index++));
            test::makeTone(path, link.frames,
                           QStringList{"-c:a", "libvorbis", "-serial_offset", QString::number(serial++)} + link.options,
                           link.rate, link.channels);
            bytes += test::readAll(path);
            expected += link.frames;
        }
        const QString path = dir.file(QStringLiteral("shot%1.ogg").arg(index++));
        test::writeFile(path, bytes);
        EXPECT_TRUE(statedByPages(path));
        EXPECT_EQ(AudioFileReader(path, {}, AudioFileReader::Use::glance).length(), expected);
        AudioFileReader reader(path);
        EXPECT_EQ(reader.length(), expected);
        const std::vector<float> whole = test::readAllFloat(reader);
        const int channels = reader.channels();
        EXPECT_EQ(int64_t(whole.size()) / channels, expected);
        for (const qint64 target : {expected * 3 / 4, expected / 3, expected - 1}) {
            reader.seek(target);
            const std::vector<float> tail = test::readAllFloat(reader);
            EXPECT_EQ(int64_t(tail.size()) / channels + target, expected) << target;
            EXPECT_TRUE(tail.size() <= whole.size()
                        && std::equal(tail.begin(), tail.end(), whole.end() - std::ptrdiff_t(tail.size())))
                << target;
        }
    }
}

TEST(DecodedLength, TextNamedAsAudioAndStreamsWhereNothingDecodesStayRefused)
{
    test::TempDir dir;
    const QString text = dir.file("notes.mp3"), noise = dir.file("noise.ac3"), garbage = dir.file("garbage.aac");
    test::writeFile(text, QByteArray("Take 3 was the best one, keep the second half.\n").repeated(40));
    // AC-3 sync words before bytes that are no frames: the checksums fail.
    test::makeTone(noise, 48000, {"-c:a", "ac3"}, 48000);
    QByteArray frames = test::readAll(noise);
    for (qsizetype at = 0; at < frames.size(); at += 512)
        for (qsizetype i = at + 5; i < std::min(at + 512, frames.size()); ++i)
            frames[i] = char(i * 37);
    test::writeFile(noise, frames);
    // A short ADTS stream whose headers all hold, but not one frame of its audio decodes.
    test::makeTone(garbage, 800, {"-c:a", "aac", "-f", "adts"}, 8000, 1);
    QByteArray adts = test::readAll(garbage);
    for (qsizetype at = 0; at + 7 <= adts.size();) {
        const qsizetype size = (uint8_t(adts[at + 3]) & 3) << 11 | uint8_t(adts[at + 4]) << 3 | uint8_t(adts[at + 5]) >> 5;
        for (qsizetype i = at + 7; i < at + size; ++i)
            adts[i] = char(i * 73 + 11);
        at += size;
    }
    test::writeFile(garbage, adts);
    EXPECT_TRUE(test::ffmpegDecode(garbage).isEmpty());
    for (const QString &path : {text, noise, garbage}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_THROW(readBack(path, AudioFileReader::Use::reading), AudioFileError);
        EXPECT_THROW(readBack(path, AudioFileReader::Use::glance), AudioFileError);
    }
}

namespace {

QByteArray u32le(uint32_t value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), 4);
}

// The stated length, the frames read from the start, from three quarters in (plus three
// quarters), and read as the export reads a source (integers, whole blocks).
std::vector<int64_t> fourLengths(const QString &path, AudioFileReader::Use use)
{
    const Read read = readBack(path, use);
    AudioFileReader reader(path);
    std::vector<int32_t> block(size_t(8192 * reader.channels()));
    int64_t exported = 0;
    while (const int64_t n = reader.readInt32Interleaved(block.data(), 8192))
        exported += n;
    return {read.stated, read.delivered, read.fromSeek, exported};
}

int64_t framesOf(const QByteArray &f32, int channels)
{
    return f32.size() / (channels * qsizetype(sizeof(float)));
}

struct Damage {
    QString name; // its extension is the container's
    // Writes the file at path and names the file whose command-line decode it must equal.
    std::function<QString(const QString &path)> make;
    int64_t rejected = 0; // frames of packets the decoder rejects, delivered as silence
    // The command line's demuxer, named where a stream of a frame or two is too short for its probe.
    const char *demuxer = nullptr;
};

QByteArray referenceDecode(const QString &path, const char *demuxer)
{
    if (!demuxer)
        return test::ffmpegDecode(path);
    return test::runCheckedBytes("ffmpeg", {"-v", "error", "-f", demuxer, "-i", path, "-f", "f32le", "-"});
}

// The ADTS frame at the index of the stream, its payload bytes made noise.
QByteArray scrambled(QByteArray adts, std::initializer_list<int> indices)
{
    int index = 0;
    for (qsizetype at = 0; at + 7 <= adts.size(); ++index) {
        const qsizetype size = (uint8_t(adts[at + 3]) & 3) << 11 | uint8_t(adts[at + 4]) << 3 | uint8_t(adts[at + 5]) >> 5;
        if (std::find(indices.begin(), indices.end(), index) != indices.end())
            for (qsizetype i = at + 7; i < at + size; ++i)
                adts[i] = char(i * 73 + 11);
        at += size;
    }
    return adts;
}

// Three audio pages whose first packet keeps its duration (two 10 ms frames for one of 20 ms)
// but states a frame longer than the packet, which the decoder rejects; the pages signed again.
QByteArray withDamagedPackets(const QByteArray &opus)
{
    std::vector<QByteArray> pages = pagesOf(opus);
    for (const size_t k : {pages.size() / 4, pages.size() / 2, pages.size() * 3 / 4}) {
        QByteArray &page = pages[k];
        const qsizetype packet = 27 + uint8_t(page[26]);
        page[packet] = char((30 << 3) | (uint8_t(page[packet]) & 4) | 2);
        page[packet + 1] = page[packet + 2] = char(0xFF);
        page = signedAgain(page);
    }
    return joined(pages);
}

std::vector<Damage> damages()
{
    const auto flac = [](std::function<QByteArray(QByteArray)> change) {
        return [change](const QString &path) {
            test::makeTone(path, 132300, {"-c:a", "flac"});
            test::writeFile(path, change(test::readAll(path)));
            return path;
        };
    };
    // Its index before the samples, as a file made for streaming: a cut keeps the index whole.
    const auto cutMp4 = [](const char *codec, int percent) {
        return [=](const QString &path) {
            test::makeTone(path, 132300, {"-c:a", codec, "-movflags", "+faststart"});
            const QByteArray whole = test::readAll(path);
            test::writeFile(path, whole.left(whole.size() * percent / 100));
            return path;
        };
    };
    return {
        {"cut-aac.m4a", cutMp4("aac", 70)},
        {"cut-alac.m4a", cutMp4("alac", 50)},
        {"cut.flac", flac([](QByteArray b) { return b.left(b.size() / 2); })},
        {"last-byte-missing.flac", flac([](QByteArray b) { return b.chopped(1); })},
        {"overstated.flac", flac([](QByteArray b) {
             // STREAMINFO's 36-bit total, three times the frames there are.
             const uint64_t total = 3 * 132300;
             b[21] = char((uint8_t(b[21]) & 0xF0) | int(total >> 32));
             for (int i = 0; i < 4; ++i)
                 b[22 + i] = char(total >> (24 - 8 * i));
             return b;
         })},
        {"cut.caf", [](const QString &path) {
             test::makeTone(path, 132300, {"-c:a", "pcm_s16le"});
             const QByteArray caf = test::readAll(path);
             test::writeFile(path, caf.left(caf.size() * 3 / 5 / 4 * 4 + 1)); // inside a frame
             return path;
         }},
        {"damaged.opus", [](const QString &path) {
             test::writeFile(path, withDamagedPackets(encoded(path, "libopus", 240000, 0)));
             return path;
         }, 3 * 960},
        {"scrambled.aac", [](const QString &path) {
             test::makeTone(path, 88000, {"-c:a", "aac", "-f", "adts"});
             test::writeFile(path, scrambled(test::readAll(path), {20, 45, 70}));
             return path;
         }, 3 * 1024},
    };
}

// Short raw streams, which only a walk of their frames admits, and a long one.
std::vector<Damage> tagged()
{
    const auto stream = [](QStringList options, int rate, double seconds) {
        return [=](const QString &path) { test::makeTone(path, qint64(seconds * rate), options, rate); };
    };
    const QStringList vbr = {"-c:a", "libmp3lame", "-q:a", "2", "-write_xing", "0", "-id3v2_version", "0"};
    const std::vector<std::pair<QString, std::function<void(const QString &)>>> streams = {
        {"0.1s.ac3", stream({"-c:a", "ac3"}, 48000, 0.1)},
        {"0.03s.ac3", stream({"-c:a", "ac3"}, 48000, 0.03)},
        {"2s.ac3", stream({"-c:a", "ac3"}, 48000, 2)},
        {"0.1s.eac3", stream({"-c:a", "eac3", "-f", "eac3"}, 48000, 0.1)},
        {"0.03s.eac3", stream({"-c:a", "eac3", "-f", "eac3"}, 48000, 0.03)},
        {"0.1s.mp3", stream(vbr, 44100, 0.1)},
        {"0.03s.mp3", stream(vbr, 44100, 0.03)},
        {"0.1s.aac", stream({"-c:a", "aac", "-f", "adts"}, 44100, 0.1)},
    };
    const std::vector<std::pair<QString, QByteArray>> tags = {
        {"ID3v1", test::id3v1Tag()}, {"APE", test::apeTag(false)}, {"APE and ID3v1", test::apeTag(true) + test::id3v1Tag()},
        {"Lyrics3 and ID3v1", test::lyrics3Tag() + test::id3v1Tag()}};
    std::vector<Damage> all;
    for (const auto &[name, make] : streams)
        for (const auto &[tagName, tag] : tags)
            all.push_back({tagName + " after " + name,
                           [make, tag](const QString &path) {
                               const QString twin = path + ".untagged." + path.section('.', -1);
                               make(twin);
                               test::writeFile(path, test::readAll(twin) + tag);
                               return twin;
                           },
                           0, name.endsWith(".ac3") ? "ac3" : nullptr});
    return all;
}

void expectOneLength(const std::vector<Damage> &cases)
{
    test::TempDir dir;
    int index = 0;
    for (const Damage &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString path = dir.file(QString::number(index++) + "." + c.name.section('.', -1));
        const QString reference = c.make(path);
        try {
            const int channels = AudioFileReader(path).channels();
            const int64_t expected = framesOf(referenceDecode(reference, c.demuxer), channels) + c.rejected;
            if (expected <= c.rejected) {
                ADD_FAILURE() << "the command line decodes nothing";
                continue;
            }
            for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance})
                EXPECT_EQ(fourLengths(path, use), std::vector<int64_t>(4, expected));
        } catch (const AudioFileError &error) {
            ADD_FAILURE() << error.message().toStdString();
        }
    }
}

} // namespace

// A file cut short or whose header overstates it is stated, played from the start or from a
// seek, and exported at what decodes; a packet the decoder rejects keeps its place as silence.
TEST(DecodedLength, DamagedFilesHaveOneLengthWhateverTheDamage)
{
    expectOneLength(damages());
}

// Tags after a raw stream are no audio: the tagged file opens when its twin without them does,
// at the twin's length.
TEST(DecodedLength, TagsAfterRawStreamsLeaveTheirLength)
{
    expectOneLength(tagged());
}

// Two MP3 files joined end to end, each with its own Info header and tags, play and export both
// parts, sample for sample as the command line decodes them.
TEST(DecodedLength, JoinedMp3FilesKeepTheSecondPart)
{
    test::TempDir dir;
    const QString first = dir.file("first.mp3"), second = dir.file("second.mp3"), both = dir.file("both.mp3");
    test::makeTone(first, 220500, {"-c:a", "libmp3lame"});
    test::makeTone(second, 220500, {"-c:a", "libmp3lame", "-af", "volume=0.5", "-metadata", "title=Second"});
    test::writeFile(both, test::readAll(first) + test::id3v1Tag() + test::readAll(second));
    const QByteArray reference = test::ffmpegDecode(both);
    const int64_t frames = framesOf(reference, 2);
    ASSERT_GT(frames, 2 * 220500);
    for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance})
        EXPECT_EQ(fourLengths(both, use), std::vector<int64_t>(4, frames));
    AudioFileReader reader(both);
    const std::vector<float> samples = test::readAllFloat(reader);
    ASSERT_TRUE(test::bytesOf(samples) == reference);
    // The second part is there, at half the first one's level.
    double peak = 0;
    for (size_t i = samples.size() - 2 * 100000; i < samples.size(); i += 2)
        peak = std::max(peak, double(std::abs(samples[i])));
    EXPECT_NEAR(peak, 0.25, 0.03);
}

// Seeks in MP3 files joined end to end, whose timestamps do not hold past the join, restart at
// a frame the read from the start found near the target: the samples are that read's, and a
// seek into either part reads the bytes near its target only. (The second part's tags and Info
// frame reach the decoder as one packet it rejects, before the join as after a restart.)
TEST(DecodedLength, JoinedMp3FilesSeekByTheFramesReadBefore)
{
    test::TempDir dir;
    const QString first = dir.file("first.mp3"), second = dir.file("second.mp3");
    test::makeTone(first, 1323000, {"-c:a", "libmp3lame"});
    test::makeTone(second, 1323000, {"-c:a", "libmp3lame", "-af", "volume=0.5"});
    for (const bool tagBetween : {true, false}) {
    SCOPED_TRACE(tagBetween);
    const QString both = dir.file(tagBetween ? "tagged.mp3" : "both.mp3");
    test::writeFile(both, test::readAll(first) + (tagBetween ? test::id3v1Tag() : QByteArray()) + test::readAll(second));
    const qint64 size = QFileInfo(both).size();
    for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
        AudioFileReader reader(both, {}, use);
        const std::vector<float> whole = test::readAllFloat(reader);
        const qint64 length = reader.length();
        ASSERT_EQ(qint64(whole.size()), 2 * length);
        AudioFileReader fresh(both, {}, use);
        ASSERT_EQ(fresh.length(), length);
        // Into the second part, at the join, into the first part, back and forth, at the end.
        for (const qint64 frame : {length * 9 / 10, length * 3 / 4, length / 2 + 700, qint64(40000), length * 9 / 10 + 1,
                                   length - 3, length * 3 / 5, length * 2 / 5, length / 2 - 3000}) {
            SCOPED_TRACE(frame);
            for (AudioFileReader *r : {&reader, &fresh}) {
                const qint64 before = test::bytesReadSoFar();
                r->seek(frame);
                EXPECT_EQ(r->position(), frame);
                std::vector<float> got(2 * 4096);
                const qint64 n = r->readFloatInterleaved(got.data(), 4096);
                ASSERT_EQ(n, std::min<qint64>(4096, length - frame));
                EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2 * n, whole.begin() + 2 * frame));
                EXPECT_LT(test::bytesReadSoFar() - before, size / 8);
            }
        }
    }
    }
}

namespace {

// The MPEG-1 Layer III frame at index of a stream without an Info frame, its bit rate index made
// the one no frame may carry: the decoders drop it and resync after it.
QByteArray withBadFrameHeader(QByteArray mp3, int index)
{
    static constexpr int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    qsizetype at = 0;
    for (int i = 0; i < index; ++i)
        at += 144000 * kbps[uint8_t(mp3[at + 2]) >> 4] / 44100 + ((uint8_t(mp3[at + 2]) >> 1) & 1);
    EXPECT_EQ(uint8_t(mp3[at]), 0xFF);
    mp3[at + 2] = char(uint8_t(mp3[at + 2]) | 0xF0);
    return mp3;
}

// The LAME tag's encoder delay and padding set as another encoder may have written them.
QByteArray withDelays(QByteArray mp3, int delay, int padding)
{
    const qsizetype tag = mp3.indexOf("Xing") + 4 + 4 + 4 + 4 + 100 + 4;
    EXPECT_TRUE(mp3.mid(tag, 4) == "Lavc" || mp3.mid(tag, 4) == "LAME");
    const uint32_t both = uint32_t(delay) << 12 | uint32_t(padding);
    for (int i = 0; i < 3; ++i)
        mp3[tag + 21 + i] = char(both >> (16 - 8 * i));
    return mp3;
}

} // namespace

// A damaged frame header in an MP3 without an Info frame, and files joined whose encoders
// trimmed their streams differently (delays, padding, no Info frame at all): whatever frames the
// demuxer trims or drops, every seek lands where the read from the start delivers the same
// samples, fresh, back and forth, or after a read that stopped short of the end, and the stated
// length is that read's, which is what the command line decodes. (Where the part after a join
// is short, the demuxer trims the first part's padding from the middle of the file.)
TEST(DecodedLength, SeeksPastDamageOrAJoinLandWhereTheReadFromTheStartDelivers)
{
    test::TempDir dir;
    const QString plain = dir.file("plain.mp3"), first = dir.file("first.mp3"), second = dir.file("second.mp3"),
                  tail = dir.file("tail.mp3"), unmarked = dir.file("unmarked.mp3");
    test::makeTone(plain, 441000, {"-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-id3v2_version", "0"});
    test::makeTone(first, 220500, {"-c:a", "libmp3lame", "-q:a", "2"});
    test::makeTone(second, 220500, {"-c:a", "libmp3lame", "-b:a", "96k", "-af", "volume=0.5"});
    test::makeTone(tail, 4410, {"-c:a", "libmp3lame", "-b:a", "96k", "-af", "volume=0.5"});
    test::makeTone(unmarked, 220500, {"-c:a", "libmp3lame", "-b:a", "160k", "-write_xing", "0", "-id3v2_version", "0"});
    const std::vector<std::pair<const char *, QByteArray>> cases = {
        {"damaged frame header at 30 %", withBadFrameHeader(test::readAll(plain), 115)},
        {"joined, the first with a longer delay and padding",
         withDelays(test::readAll(first), 1600, 2400) + test::readAll(second)},
        {"joined, the second without an Info frame", test::readAll(first) + test::readAll(unmarked)},
        {"joined, damaged in the second part", test::readAll(first) + withBadFrameHeader(test::readAll(unmarked), 60)},
        {"joined, a short part after a trimmed one", test::readAll(first) + test::readAll(tail)},
        // The demuxer drops the first part's last frame whole, and trims none before it.
        {"joined, a short part after one padded by a frame past the decoder's delay",
         withDelays(test::readAll(first), 576, 1152 + 529) + test::readAll(tail)},
    };
    int index = 0;
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QStringLiteral("case%1.mp3").arg(index++));
        test::writeFile(path, bytes);
        const QByteArray reference = test::ffmpegDecode(path);
        const int64_t frames = framesOf(reference, 2);
        ASSERT_GT(frames, 0);
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
            AudioFileReader reader(path, {}, use);
            const std::vector<float> whole = test::readAllFloat(reader);
            ASSERT_EQ(reader.length(), frames);
            ASSERT_TRUE(test::bytesOf(whole) == reference);
            EXPECT_EQ(fourLengths(path, use), std::vector<int64_t>(4, frames));
            const auto readsAt = [&](AudioFileReader &r, qint64 target, qint64 count) {
                r.seek(target);
                std::vector<float> got(size_t(2 * count));
                const qint64 n = r.readFloatInterleaved(got.data(), count);
                return n == std::min(count, frames - target)
                       && std::equal(got.begin(), got.begin() + 2 * n, whole.begin() + 2 * target);
            };
            // From the end back to the start, each seek a restart; then fresh readers.
            std::vector<qint64> targets{frames - 1, frames - 1200, frames - 20000};
            for (int k = 31; k > 0; --k)
                targets.push_back(frames * k / 32);
            targets.push_back(1);
            for (const qint64 target : targets) {
                EXPECT_TRUE(readsAt(reader, target, 4096)) << target;
                AudioFileReader fresh(path, {}, use);
                EXPECT_TRUE(readsAt(fresh, target, 4096)) << target;
            }
            // A read from the start that stopped short of the end, then a seek back.
            AudioFileReader partly(path, {}, use);
            std::vector<float> head(size_t(2 * (frames * 3 / 5)));
            ASSERT_EQ(partly.readFloatInterleaved(head.data(), frames * 3 / 5), frames * 3 / 5);
            EXPECT_TRUE(readsAt(partly, frames * 2 / 5, frames));
        }
    }
}

namespace {

// Bytes no decoder takes for audio: the same pseudo-random ones in every run.
QByteArray junk(int size)
{
    QByteArray bytes(size, '\0');
    uint32_t state = 12345;
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 23);
    }
    return bytes;
}

// The length the header states at open, before any frame is decoded; none where a decode counts.
std::optional<int64_t> statedByHeader(const QString &path)
{
    const auto header = containerheader::read(FileHandle::openOutside(path));
    return header && header->description ? header->description->exactLength : std::nullopt;
}

} // namespace

// Whatever follows an MP3 stream whose Info header counts its frames and bytes (tags, padding,
// junk), the header's count holds with the encoder's delay and padding trimmed, as for the file
// without those bytes, sample for sample, and no decode counts it. A second stream where those
// bytes end is no such case.
TEST(DecodedLength, BytesAfterAnMp3StreamLeaveItsTrimmedLength)
{
    test::TempDir dir;
    const QString clean = dir.file("clean.mp3");
    test::makeTone(clean, 88200, {"-c:a", "libmp3lame", "-q:a", "2"});
    const QByteArray stream = test::readAll(clean);
    ASSERT_EQ(statedByHeader(clean), 88200);
    AudioFileReader cleanReader(clean);
    const std::vector<float> reference = test::readAllFloat(cleanReader);
    ASSERT_EQ(int64_t(reference.size()), 2 * 88200);
    const std::vector<std::pair<const char *, QByteArray>> afters = {
        {"zeros", QByteArray(5000, '\0')},
        {"junk", junk(5000)},
        {"2 KB padding", QByteArray(2048, '\0')},
        {"Lyrics3 and ID3v1", test::lyrics3Tag() + test::id3v1Tag()},
        {"junk and ID3v1", junk(700) + test::id3v1Tag()},
        {"APE and ID3v1", test::apeTag(true) + test::id3v1Tag()},
    };
    int index = 0;
    for (const auto &[name, after] : afters) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QString::number(index++) + ".mp3");
        test::writeFile(path, stream + after);
        EXPECT_EQ(statedByHeader(path), 88200);
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance})
            EXPECT_EQ(fourLengths(path, use), std::vector<int64_t>(4, 88200));
        AudioFileReader reader(path);
        EXPECT_TRUE(test::readAllFloat(reader) == reference);
    }
    // The first frames of another stream after the counted bytes: only a decode can count them.
    const QString joined = dir.file("joined.mp3");
    test::writeFile(joined, stream + QByteArray(100, '\0') + stream.mid(stream.indexOf("\xFF\xFB"), 3000));
    EXPECT_EQ(statedByHeader(joined), std::nullopt);
}

// An Info header's counts hold only where the frames bear them out. A file cut short, then
// padded or tagged, is read and stated at what its frames decode to, as the cut file alone
// decodes (the bytes after it are no audio); a frame count written 20 too high or too low is
// not taken over the frames there: the file is stated, read, sought and exported at what the
// command line decodes of it.
TEST(DecodedLength, AnInfoHeaderCountsOnlyWhatItsFramesBearOut)
{
    test::TempDir dir;
    const std::vector<std::pair<const char *, QStringList>> encodings = {
        {"VBR", {"-c:a", "libmp3lame", "-q:a", "2"}}, {"CBR with an Info header", {"-c:a", "libmp3lame", "-b:a", "128k"}}};
    int index = 0;
    for (const auto &[encoding, options] : encodings) {
        const QString clean = dir.file(QString::number(index++) + ".mp3");
        test::makeTone(clean, 88200, options);
        ASSERT_EQ(statedByHeader(clean), 88200);
        const QByteArray stream = test::readAll(clean);
        const QString cut = dir.file(QString::number(index++) + ".mp3");
        test::writeFile(cut, stream.chopped(2500));
        const int64_t cutFrames = framesOf(test::ffmpegDecode(cut), 2);
        ASSERT_GT(cutFrames, 0);
        ASSERT_LT(cutFrames, 88200);
        for (const auto &[after, bytes] : std::vector<std::pair<const char *, QByteArray>>{
                 {"zeros", QByteArray(3000, '\0')},
                 {"APE and ID3v1", test::apeTag(true) + test::id3v1Tag()},
                 {"Lyrics3 and ID3v1", test::lyrics3Tag() + test::id3v1Tag()}}) {
            SCOPED_TRACE(std::string(encoding) + ", cut, then " + after);
            const QString path = dir.file(QString::number(index++) + ".mp3");
            test::writeFile(path, stream.chopped(2500) + bytes);
            EXPECT_EQ(statedByHeader(path), std::nullopt);
            for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance})
                EXPECT_EQ(fourLengths(path, use), std::vector<int64_t>(4, cutFrames));
        }
        const qsizetype count = stream.indexOf(stream.contains("Xing") ? "Xing" : "Info") + 8;
        for (const int wrong : {20, -20}) {
            SCOPED_TRACE(std::string(encoding) + ", frame count off by " + std::to_string(wrong));
            QByteArray miscounted = stream;
            const uint32_t frames = (uint8_t(stream[count]) << 24 | uint8_t(stream[count + 1]) << 16
                                     | uint8_t(stream[count + 2]) << 8 | uint8_t(stream[count + 3])) + wrong;
            for (int i = 0; i < 4; ++i)
                miscounted[count + i] = char(frames >> (24 - 8 * i));
            const QString path = dir.file(QString::number(index++) + ".mp3");
            test::writeFile(path, miscounted);
            EXPECT_EQ(statedByHeader(path), std::nullopt);
            const int64_t decoded = framesOf(test::ffmpegDecode(path), 2);
            for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance})
                EXPECT_EQ(fourLengths(path, use), std::vector<int64_t>(4, decoded));
        }
    }
}

namespace {

// An MPEG-1 stereo MP3's Info header field at offset past its "Xing" or "Info" set to value, and
// the LAME tag's CRC made to hold again, as a tool that rewrites the header would leave it
// (unless keepCrc, as a hand edit leaves it).
QByteArray withInfoField(QByteArray mp3, int offset, uint32_t value, bool keepCrc = false)
{
    const qsizetype tag = mp3.indexOf(mp3.contains("Xing") ? "Xing" : "Info"), frame = tag - 36, crcAt = tag + 154;
    for (int i = 0; i < 4; ++i)
        mp3[tag + offset + i] = char(value >> (24 - 8 * i));
    if (keepCrc)
        return mp3;
    mp3[crcAt] = mp3[crcAt + 1] = 0;
    uint16_t crc = 0;
    for (qsizetype i = frame; i < frame + 190; ++i) {
        crc ^= uint8_t(mp3[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    mp3[crcAt] = char(crc >> 8);
    mp3[crcAt + 1] = char(crc);
    return mp3;
}

uint32_t infoField(const QByteArray &mp3, int offset)
{
    const qsizetype at = mp3.indexOf(mp3.contains("Xing") ? "Xing" : "Info") + offset;
    return uint32_t(uint8_t(mp3[at])) << 24 | uint8_t(mp3[at + 1]) << 16 | uint8_t(mp3[at + 2]) << 8 | uint8_t(mp3[at + 3]);
}

} // namespace

// An Info header that agrees with its file where the audio ends (its tag's CRC, its frame count
// for its byte count, its last frames ending where the byte count says, nothing after them but
// tags or padding) is taken from a small read there. One that disagrees in any of these, its
// CRC made to hold, is not taken: the file is stated at what it decodes to.
TEST(DecodedLength, AnInfoHeaderIsTakenFromTheFilesEndOnlyWhereItAgrees)
{
    test::TempDir dir;
    int index = 0;
    const auto write = [&](const QByteArray &bytes) {
        const QString path = dir.file(QString::number(index++) + ".mp3");
        test::writeFile(path, bytes);
        return path;
    };
    for (const auto &[encoding, options, channels] : std::vector<std::tuple<const char *, QStringList, int>>{
             {"CBR", {"-c:a", "libmp3lame", "-b:a", "192k"}, 2},
             {"VBR", {"-c:a", "libmp3lame", "-q:a", "2"}, 2},
             {"mono CBR", {"-c:a", "libmp3lame", "-b:a", "96k"}, 1}}) {
        const QString clean = dir.file(QString::number(index++) + ".mp3");
        test::makeTone(clean, 882000, options, 44100, channels);
        const QByteArray stream = test::readAll(clean);
        for (const auto &[after, bytes] : std::vector<std::pair<const char *, QByteArray>>{
                 {"nothing", {}}, {"ID3v1", test::id3v1Tag()}, {"APE and ID3v1", test::apeTag(true) + test::id3v1Tag()},
                 {"Lyrics3 and ID3v1", test::lyrics3Tag() + test::id3v1Tag()}, {"2 KB padding", QByteArray(2048, '\0')}}) {
            SCOPED_TRACE(std::string(encoding) + ", then " + after);
            const QString path = write(stream + bytes);
            const qint64 before = test::bytesReadSoFar();
            EXPECT_EQ(statedByHeader(path), 882000);
            EXPECT_LT(test::bytesReadSoFar() - before, stream.size() / 4);
        }
        if (channels == 1)
            continue;
        const uint32_t frames = infoField(stream, 8), bytes = infoField(stream, 12);
        std::vector<std::pair<const char *, QByteArray>> disagreeing = {
            {"the last frames junk", stream.chopped(3000) + junk(3000)},
            {"junk before an intact last frame", stream.left(stream.size() - 3000) + junk(2300) + stream.right(700)},
            {"a byte count one short", withInfoField(stream, 12, bytes - 1)},
            {"a byte count one over, then ID3v1", withInfoField(stream, 12, bytes + 1) + test::id3v1Tag()},
            {"a second stream after", stream + stream},
            {"a frame count 8 times too high", withInfoField(stream, 8, frames * 8)},
            {"a frame count 8 times too low", withInfoField(stream, 8, frames / 8)},
            {"a frame count one too high, the CRC left as it was", withInfoField(stream, 8, frames + 1, true)}};
        if (std::string(encoding) == "CBR") {
            disagreeing.emplace_back("a frame count one too high", withInfoField(stream, 8, frames + 1));
            disagreeing.emplace_back("a frame count one too low", withInfoField(stream, 8, frames - 1));
        }
        for (const auto &[damage, bytes] : disagreeing) {
            SCOPED_TRACE(std::string(encoding) + ", " + damage);
            const QString path = write(bytes);
            EXPECT_EQ(statedByHeader(path), std::nullopt);
            AudioFileReader reader(path);
            EXPECT_EQ(reader.length(), framesOf(test::ffmpegDecode(path), 2));
        }
    }
}

namespace {

// An MPEG-1 stereo MP3 with 3,000 bytes from the first frame past its middle written over: a
// Layer I frame where that frame began, which the decoder decodes to a Layer I frame's samples,
// then zeros.
QByteArray withLayer1Frame(const QByteArray &mp3)
{
    qsizetype at = mp3.indexOf(mp3.contains("Xing") ? "Xing" : "Info") - 36;
    while (at < mp3.size() / 2)
        at += qsizetype(codedframes::layer3FrameBytes(std::span(reinterpret_cast<const uint8_t *>(mp3.constData() + at), 4)).value_or(1));
    QByteArray over(3000, '\0');
    over[0] = over[1] = char(0xFF);
    over[2] = char(0x90); // 288 kb/s at 44.1 kHz: 312 bytes
    return mp3.left(at) + over + mp3.mid(at + 3000);
}

} // namespace

// An MP3 taken at its Info header's length whose frames do not all bear it out: frames in the
// middle lost under junk or zeros (a hole an interrupted download leaves; a frame of another
// layer in it, which the decoder decodes to fewer samples), or a count raised with the tag's CRC
// made to hold. The stated length is delivered from the start, from any seek and
// to an export; the lost frames are silence in their place, so the audio after them stays where
// it is in the whole file (exactly, where frames are of one size), and the frames the count
// finds no bytes for are silence at the end. Every seek, fresh or back after a read, lands where
// the read from the start delivers the same samples.
TEST(DecodedLength, AnMp3TakenAtItsHeadersLengthDeliversItThoughFramesAreLost)
{
    test::TempDir dir;
    int index = 0;
    // At 160 kb/s half the frames are a byte longer than the rest, so the frames lost make up
    // no whole number of the header's average frame: the nearest one is lost.
    for (const auto &[encoding, options] : std::vector<std::pair<std::string, QStringList>>{
             {"CBR", {"-c:a", "libmp3lame", "-b:a", "192k"}}, {"CBR 160 kb/s", {"-c:a", "libmp3lame", "-b:a", "160k"}},
             {"VBR", {"-c:a", "libmp3lame", "-q:a", "2"}}}) {
        const QString clean = dir.file(QString::number(index++) + ".mp3");
        test::makeTone(clean, 882000, options);
        const QByteArray stream = test::readAll(clean);
        AudioFileReader cleanReader(clean);
        const std::vector<float> cleanRead = test::readAllFloat(cleanReader);
        const qsizetype hole = stream.size() / 2;
        std::vector<std::tuple<std::string, QByteArray, int64_t>> cases = {
            {"junk", stream.left(hole) + junk(3000) + stream.mid(hole + 3000), 882000},
            {"zeros", stream.left(hole) + QByteArray(3000, '\0') + stream.mid(hole + 3000), 882000},
            {"a Layer I frame and zeros", withLayer1Frame(stream), 882000}};
        if (encoding == "VBR")
            cases.emplace_back("a count 20 too high", withInfoField(stream, 8, infoField(stream, 8) + 20), 882000 + 20 * 1152);
        for (const auto &[damage, bytes, stated] : cases) {
            SCOPED_TRACE(encoding + ", " + damage);
            const QString path = dir.file(QString::number(index++) + ".mp3");
            test::writeFile(path, bytes);
            ASSERT_EQ(statedByHeader(path), stated);
            AudioFileReader reader(path);
            const std::vector<float> whole = test::readAllFloat(reader);
            ASSERT_EQ(int64_t(whole.size()) / 2, stated);
            EXPECT_EQ(fourLengths(path, AudioFileReader::Use::reading), std::vector<int64_t>(4, stated));
            // The second half of the tone, from a second past the hole, as in the whole file.
            if (encoding.starts_with("CBR")) {
                EXPECT_TRUE(std::equal(whole.begin() + 2 * 485100, whole.end(), cleanRead.begin() + 2 * 485100));
            }
            const auto readsAt = [&](AudioFileReader &r, int64_t target) {
                r.seek(target);
                std::vector<float> got(2 * 4096);
                const int64_t n = r.readFloatInterleaved(got.data(), 4096);
                return n == std::min<int64_t>(4096, stated - target)
                       && std::equal(got.begin(), got.begin() + 2 * n, whole.begin() + 2 * target);
            };
            for (const int64_t target : {stated - 1000, int64_t(881000), int64_t(700000), int64_t(452000), int64_t(441000),
                                         int64_t(430000), int64_t(200000), int64_t(30000)}) {
                EXPECT_TRUE(readsAt(reader, target)) << target;
                AudioFileReader fresh(path);
                EXPECT_TRUE(readsAt(fresh, target)) << target;
            }
        }
    }
}

// Frames lost in two places, the second hole longer than the frames a seek decodes before its
// target: a seek just past it, from a fresh reader or after reads, delivers what the read from
// the start delivers there, for which the frames before the hole filled the decoder.
TEST(DecodedLength, AnMp3SeekJustPastAHoleLongerThanItsPrerollDeliversTheRead)
{
    test::TempDir dir;
    const QString clean = dir.file("clean.mp3");
    test::makeTone(clean, 882000, {"-c:a", "libmp3lame", "-q:a", "2"});
    QByteArray bytes = test::readAll(clean);
    const qsizetype third = bytes.size() / 3;
    bytes.replace(third, 2500, junk(2500));
    bytes.replace(2 * third, 8000, QByteArray(8000, '\0'));
    const QString path = dir.file("holes.mp3");
    test::writeFile(path, bytes);
    ASSERT_EQ(statedByHeader(path), 882000);
    AudioFileReader reader(path);
    const std::vector<float> whole = test::readAllFloat(reader);
    ASSERT_EQ(whole.size(), size_t(2 * 882000));
    // Where the second hole's silence ends in the read.
    int64_t silent = 0, end = 0;
    for (int64_t at = 0; at < 882000 && end == 0; ++at) {
        if (whole[size_t(2 * at)] == 0 && whole[size_t(2 * at + 1)] == 0)
            ++silent;
        else if (silent > 25000)
            end = at;
        else
            silent = 0;
    }
    ASSERT_GT(end, 441000);
    std::vector<float> got(2 * 2048);
    for (int64_t target = end - 2000; target < end + 12000; target += 500) {
        for (const bool fresh : {true, false}) {
            std::optional<AudioFileReader> other;
            AudioFileReader &r = fresh ? other.emplace(path) : reader;
            r.seek(target);
            ASSERT_EQ(r.readFloatInterleaved(got.data(), 2048), 2048);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + 2 * target)) << target << (fresh ? " fresh" : "");
        }
    }
}

// An ID3v2 tag whose header states more or fewer bytes than the tag holds: the stream is found
// where its first frame begins, as the file with a right size plays. A size too large by more
// than a few bytes puts the stated end inside that first frame, which holds the Info header.
TEST(DecodedLength, AnId3v2SizeAFewBytesOffFindsTheFirstFrame)
{
    test::TempDir dir;
    const QString clean = dir.file("clean.mp3");
    test::makeTone(clean, 88200, {"-c:a", "libmp3lame", "-q:a", "2", "-metadata", "title=Take one"});
    const QByteArray bytes = test::readAll(clean);
    ASSERT_TRUE(bytes.startsWith("ID3"));
    const int size = (uint8_t(bytes[6]) << 21) | (uint8_t(bytes[7]) << 14) | (uint8_t(bytes[8]) << 7) | uint8_t(bytes[9]);
    AudioFileReader cleanReader(clean);
    const std::vector<float> reference = test::readAllFloat(cleanReader);
    for (const int off : {1, 3, 12, 17, 20, 60, -1, -2, -9}) {
        SCOPED_TRACE(off);
        QByteArray misstated = bytes;
        for (int i = 0; i < 4; ++i)
            misstated[6 + i] = char(((size + off) >> (21 - 7 * i)) & 0x7F);
        const QString path = dir.file(QStringLiteral("off%1.mp3").arg(off));
        test::writeFile(path, misstated);
        try {
            for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance})
                EXPECT_EQ(fourLengths(path, use), std::vector<int64_t>(4, 88200));
            AudioFileReader reader(path);
            EXPECT_TRUE(test::readAllFloat(reader) == reference);
        } catch (const AudioFileError &error) {
            ADD_FAILURE() << error.message().toStdString();
        }
    }
}

namespace {

// The last frame of a raw stream with bytes a tag begins with where the tag would begin: "TAG"
// 128 bytes before the end, or an APE footer in its last 32. An AC-3 frame's checksum is made to
// hold again.
QByteArray withTagLikeEnd(QByteArray stream, const QByteArray &look, qsizetype lastFrameBytes, bool ac3)
{
    const qsizetype at = look.startsWith("TAG") ? stream.size() - 128 : stream.size() - look.size();
    stream.replace(at, look.size(), look);
    if (ac3) {
        const qsizetype frame = stream.size() - lastFrameBytes;
        const qsizetype fiveEighths = ((lastFrameBytes >> 2) + (lastFrameBytes >> 4)) << 1;
        uint16_t crc = 0;
        for (qsizetype i = frame + fiveEighths; i < stream.size() - 2; ++i) {
            crc ^= uint16_t(uint8_t(stream[i]) << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = crc & 0x8000 ? uint16_t(crc << 1 ^ 0x8005) : uint16_t(crc << 1);
        }
        stream[stream.size() - 2] = char(crc >> 8);
        stream[stream.size() - 1] = char(crc);
    }
    return stream;
}

// A fixed-size last frame's length in bytes, from its header.
qsizetype lastFrameBytes(const QByteArray &stream, const char *kind)
{
    if (kind == QLatin1String("ac3")) {
        const int frmsizecod = uint8_t(stream[4]) & 0x3F;
        static constexpr int kbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
        return kbps[frmsizecod >> 1] * 4; // 48 kHz
    }
    return 0;
}

// An ADTS stream cut after its last frame large enough to hold a tag's first bytes.
QByteArray endingInALargeFrame(const QByteArray &stream, const char *kind)
{
    if (kind != QLatin1String("aac"))
        return stream;
    qsizetype end = 0;
    for (qsizetype at = 0; at + 7 <= stream.size();) {
        const qsizetype size = (uint8_t(stream[at + 3]) & 3) << 11 | uint8_t(stream[at + 4]) << 3 | uint8_t(stream[at + 5]) >> 5;
        at += size;
        if (size >= 160 && at <= stream.size())
            end = at;
    }
    return stream.left(end);
}

// The command line's decode of path as a stream it cannot seek in, which takes no bytes at the
// end for a tag.
QByteArray streamedDecode(const QString &path, const char *demuxer)
{
    return test::runCheckedBytes("sh", {"-c", QStringLiteral("ffmpeg -v error -f %1 -i - -f f32le - < '%2'").arg(QLatin1String(demuxer), path)});
}

} // namespace

// Bytes inside a raw stream's last frame that look like the start of a tag are audio: a tag is
// only where the frames end.
TEST(DecodedLength, ATagIsCutOnlyWhereTheFramesEnd)
{
    test::TempDir dir;
    const QByteArray apeFooter = "APETAGEX" + u32le(2000) + u32le(32) + u32le(0) + u32le(0) + QByteArray(8, '\0');
    struct Stream {
        const char *kind;
        QStringList options;
        int rate;
    };
    const std::vector<Stream> streams = {
        {"aac", {"-c:a", "aac", "-b:a", "128k", "-f", "adts"}, 44100},
        {"ac3", {"-c:a", "ac3", "-b:a", "192k"}, 48000},
        {"mp3", {"-c:a", "libmp3lame", "-b:a", "48k", "-write_xing", "0", "-id3v2_version", "0"}, 44100},
    };
    int index = 0;
    for (const Stream &s : streams) {
        const QString plain = dir.file(QStringLiteral("plain.") + s.kind);
        test::makeTone(plain, 3 * s.rate, s.options, s.rate);
        const QByteArray bytes = endingInALargeFrame(test::readAll(plain), s.kind);
        test::writeFile(plain, bytes);
        for (const QByteArray &look : {QByteArray("TAG"), apeFooter}) {
            const QString path = dir.file(QString::number(index++) + "." + s.kind);
            test::writeFile(path, withTagLikeEnd(bytes, look, lastFrameBytes(bytes, s.kind), s.kind == QLatin1String("ac3")));
            SCOPED_TRACE(path.toStdString() + " ending in " + look.left(3).toStdString());
            // The frame changed may not decode: it keeps its place as silence after what the
            // command line decodes.
            const int64_t frames = framesOf(streamedDecode(plain, s.kind), 2);
            ASSERT_GT(frames, 0);
            for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance})
                EXPECT_EQ(fourLengths(path, use), std::vector<int64_t>(4, frames));
            AudioFileReader reader(path);
            const QByteArray reference = streamedDecode(path, s.kind);
            const QByteArray silence(2 * frames * qsizetype(sizeof(float)) - reference.size(), '\0');
            EXPECT_TRUE(test::bytesOf(test::readAllFloat(reader)) == reference + silence);
        }
    }
}
