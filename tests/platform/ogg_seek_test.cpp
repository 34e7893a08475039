#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/internal/ogg/ogg_audio_info.h"
#include "platform/decode/internal/ogg/ogg_page_seeker.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace tampod;

namespace {

// A chord under seeded noise, so the codec has real work to do; options pick codec and serial.
void makeMusic(const QString &path, double seconds, int rate, int channels,
               const QStringList &options)
{
    const QString chord =
        channels == 1
            ? QStringLiteral("0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)")
            : QStringLiteral("0.3*sin(2*PI*220*t)+0.2*sin(2*PI*277*t)|0.3*sin(2*PI*330*t)");
    const QString timing = QStringLiteral(":sample_rate=%1:duration=%2").arg(rate).arg(seconds);
    test::runChecked(
        QStringLiteral("ffmpeg"),
        QStringList{"-v", "error", "-y", "-f", "lavfi", "-i", "aevalsrc=" + chord + timing, "-f",
                    "lavfi", "-i", "anoisesrc=c=pink:a=0.1:seed=7" + timing, "-filter_complex",
                    QStringLiteral(
                        "[1]aformat=channel_layouts=%1[n];[0][n]amix=inputs=2:normalize=0")
                        .arg(channels == 1 ? "mono" : "stereo")}
            + options + QStringList{path});
}

// A tone under seeded pink noise, mono at 8 kHz: long, yet quick to make on a loaded machine.
void makeLong(const QString &path, double seconds, const QStringList &options)
{
    const QString timing = QStringLiteral(":sample_rate=8000:duration=%1").arg(seconds);
    test::runChecked(QStringLiteral("ffmpeg"),
                     QStringList{"-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=220" + timing, "-f",
                                 "lavfi", "-i", "anoisesrc=c=pink:a=0.1:seed=7" + timing,
                                 "-filter_complex", "[0][1]amix=inputs=2:normalize=0", "-ac", "1"}
                         + options + QStringList{path});
}


// The largest difference between a read from frame and the same frames of a read from the start.
float differenceAfterSeek(AudioFileReader &reader, const std::vector<float> &whole, qint64 frame,
                          qint64 frames)
{
    const int channels = reader.channels();
    reader.seek(frame);
    EXPECT_EQ(reader.position(), frame);
    std::vector<float> got(size_t(frames * channels));
    const qint64 n = reader.readFloatInterleaved(got.data(), frames);
    EXPECT_EQ(n, std::min<qint64>(frames, qint64(whole.size()) / channels - frame)) << frame;
    float worst = 0;
    for (size_t i = 0; i < size_t(n * channels); ++i)
        worst = std::max(worst, std::abs(got[i] - whole[size_t(frame * channels) + i]));
    return worst;
}

} // namespace

// A seek far into a long file reads the pages the bisection visits and those it decodes from,
// not the whole file before the target: in a plain file, one with a tag or padding after its
// last page, and a chain, in whichever link holds the target, at and just after a link's start.
TEST(OggSeek, ReadsOnlyThePagesNearTheTarget)
{
    test::TempDir dir;
    const QString opus = dir.file(QStringLiteral("plain.opus")), vorbis = dir.file(QStringLiteral("plain.ogg"));
    makeLong(opus, 240, {"-c:a", "libopus", "-compression_level", "0"});
    makeLong(vorbis, 240, {"-c:a", "libvorbis", "-q:a", "10"});
    const QByteArray opusBytes = test::readAll(opus), vorbisBytes = test::readAll(vorbis);
    const std::vector<std::pair<const char *, QByteArray>> files = {
        {"long.opus", opusBytes},
        {"long.ogg", vorbisBytes},
        {"tagged.opus", opusBytes + test::id3v1Tag()},
        {"padded-tagged.ogg", vorbisBytes + QByteArray(2048, '\0') + test::id3v1Tag()},
        {"chained.opus", opusBytes + opusBytes},
        {"chained.ogg", vorbisBytes + vorbisBytes + vorbisBytes},
    };
    for (const auto &[name, bytes] : files) {
        const QString path = dir.file(QLatin1String(name));
        test::writeFile(path, bytes);
        AudioFileReader reader(path);
        std::vector<qint64> targets = {reader.length() * 9 / 10, reader.length() * 45 / 100};
        // In a chain, also each link's first frame and frames just after it, within the pre-roll:
        // the seek starts at that link's first page, not at the file's.
        const FileHandle file = FileHandle::openOutside(path);
        const auto described = oggaudio::describeLinks(file, 0, file.size());
        ASSERT_TRUE(described);
        qint64 start = 0;
        for (const auto &link : described->links) {
            if (start > 0)
                targets.insert(targets.end(), {start, start + 1, start + 1500});
            start += link.frames;
        }
        // Each seek goes back, so none is a short skip forward.
        std::sort(targets.begin(), targets.end(), std::greater<>());
        for (const qint64 at : targets) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(at));
            const qint64 before = test::bytesReadSoFar();
            reader.seek(at);
            std::vector<float> buffer(4096 * 2);
            EXPECT_EQ(reader.readFloatInterleaved(buffer.data(), 4096), 4096);
            const qint64 read = test::bytesReadSoFar() - before;
            EXPECT_GT(read, 0);
            EXPECT_LT(read, bytes.size() / 4) << bytes.size();
        }
    }
}

// A seek by the pages lands where a read from the start is, sample for sample: mono and stereo,
// Vorbis at several rates and Opus, targets on and off page boundaries, near both ends, back and
// forth; in a chain, in each link and across the joins, and with a tag after the last page.
// Files with a damaged page take the decode from the start instead.
TEST(OggSeek, LandsOnTheSamplesOfAReadFromTheStart)
{
    test::TempDir dir;
    struct File {
        const char *name;
        int rate, channels;
        QStringList options;
        bool byPages;
        // SILK's pitch prediction never quite forgets where a decode began: near, not equal.
        float tolerance = 0;
    };
    const std::vector<File> files = {
        {"stereo.opus", 48000, 2, {"-c:a", "libopus"}, true},
        {"mono-low.opus", 24000, 1, {"-c:a", "libopus", "-b:a", "24k"}, true, 1e-5f},
        {"stereo.ogg", 44100, 2, {"-c:a", "libvorbis"}, true},
        {"mono-22k.ogg", 22050, 1, {"-c:a", "libvorbis", "-q:a", "1"}, true},
        {"stereo-48k-high.ogg", 48000, 2, {"-c:a", "libvorbis", "-q:a", "9"}, true},
    };
    std::vector<std::tuple<QString, bool, float>> paths;
    for (const File &f : files) {
        const QString path = dir.file(QLatin1String(f.name));
        makeMusic(path, 40, f.rate, f.channels, f.options);
        paths.emplace_back(path, f.byPages, f.tolerance);
    }
    // Chains, tagged files, and a file with one page damaged (no bisection for that one).
    const QString first = dir.file(QStringLiteral("a.opus")),
                  second = dir.file(QStringLiteral("b.opus"));
    makeMusic(first, 12, 48000, 2, {"-c:a", "libopus"});
    makeMusic(second, 9, 48000, 2, {"-c:a", "libopus", "-serial_offset", "5"});
    const QString chained = dir.file(QStringLiteral("chained.opus"));
    test::writeFile(chained, test::readAll(first) + test::readAll(second));
    const QString shortLink = dir.file(QStringLiteral("short.ogg"));
    makeMusic(shortLink, 0.4, 44100, 2, {"-c:a", "libvorbis", "-serial_offset", "3"});
    const QString vorbisChain = dir.file(QStringLiteral("chained.ogg"));
    const QByteArray stereoVorbis = test::readAll(std::get<0>(paths[2]));
    test::writeFile(vorbisChain, stereoVorbis + test::readAll(shortLink) + stereoVorbis);
    const QString taggedVorbis = dir.file(QStringLiteral("tagged.ogg")),
                  taggedOpus = dir.file(QStringLiteral("tagged.opus"));
    test::writeFile(taggedVorbis, stereoVorbis + test::id3v1Tag());
    test::writeFile(taggedOpus, test::readAll(std::get<0>(paths[0])) + QByteArray(2048, '\0'));
    QByteArray vorbis = test::readAll(std::get<0>(paths[2]));
    vorbis[vorbis.size() / 2] = char(vorbis[vorbis.size() / 2] ^ 0x41);
    const QString damaged = dir.file(QStringLiteral("damaged.ogg"));
    test::writeFile(damaged, vorbis);
    for (const QString &path : {chained, vorbisChain, taggedVorbis, taggedOpus})
        paths.emplace_back(path, true, 0);
    paths.emplace_back(damaged, false, 0);

    for (const auto &[path, byPages, tolerance] : paths) {
        SCOPED_TRACE(path.toStdString());
        const FileHandle file = FileHandle::openOutside(path);
        AudioFileReader reader(path);
        const qint64 length = reader.length();
        const auto described = oggaudio::describeLinks(file, 0, file.size());
        EXPECT_EQ(described.has_value(), byPages);
        const std::vector<float> whole = test::readAllFloat(reader);
        ASSERT_EQ(qint64(whole.size()), length * reader.channels());
        std::vector<qint64> targets = {length * 9 / 10, 1, length / 2 + 1, length - 1, 20000, length - 3000,
                                       123457, length / 3, 0, length * 9 / 10 - 5000};
        // A link's first frame, the one after it, a little after (within the pre-roll) and its last.
        if (described && described->links.size() > 1) {
            qint64 start = 0;
            for (const auto &link : described->links) {
                targets.insert(targets.end(), {start, start + 1, start + 1500, start + link.frames - 1});
                start += link.frames;
            }
        }
        for (const qint64 frame : targets)
            EXPECT_LE(differenceAfterSeek(reader, whole, frame, 6000), tolerance) << frame;
    }
}

// The bisection finds the page a walk through every page finds: the last whose packets end at or
// before the target, and none before the first page of audio ends.
TEST(OggSeek, BisectionFindsThePageAWalkFinds)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("long.ogg"));
    makeMusic(path, 60, 44100, 2, {"-c:a", "libvorbis", "-page_duration", "200000"});
    const QByteArray bytes = test::readAll(path);
    // Each page's offset and granule, in file order.
    std::vector<std::pair<qsizetype, int64_t>> timed;
    for (qsizetype at = 0; at + 27 <= bytes.size();) {
        int64_t granule = 0;
        std::memcpy(&granule, bytes.constData() + at + 6, 8);
        if (granule > 0)
            timed.emplace_back(at, granule);
        qsizetype size = 27 + uint8_t(bytes[at + 26]);
        for (int i = 0; i < uint8_t(bytes[at + 26]); ++i)
            size += uint8_t(bytes[at + 27 + i]);
        at += size;
    }
    ASSERT_GT(timed.size(), 200u);
    const FileHandle file = FileHandle::openOutside(path);
    AudioFileReader reader(path);
    const int64_t length = reader.length(), last = timed.back().second;
    auto seeker = OggPageSeeker::open(file, file.size(), length);
    ASSERT_NE(seeker, nullptr);
    for (int64_t from = -5000; from < length + 5000; from += 7919) {
        std::optional<qsizetype> walked, walkedBefore;
        for (const auto &[offset, granule] : timed)
            if (length - (last - granule) <= from) {
                walkedBefore = walked;
                walked = offset;
            }
        std::optional<oggaudio::Page> before;
        const auto found = seeker->pageBefore(from, &before);
        ASSERT_EQ(found.has_value(), walked.has_value()) << from;
        if (found) {
            EXPECT_EQ(found->offset, *walked) << from;
        }
        if (before) {
            EXPECT_EQ(before->offset, *walkedBefore) << from;
        }
    }
}

// A chain whose links change the channel count, the rate or the codec (Ogg FLAC among Vorbis or
// Opus too) has no one format: the length is refused, so an import says the audio cannot be
// prepared, and nothing of it is read. Links of one codec and format all play.
TEST(OggSeek, ChainsWhoseLinksChangeFormatAreRefused)
{
    test::TempDir dir;
    const auto link = [&](const char *name, int rate, int channels, const QStringList &options) {
        const QString path = dir.file(QLatin1String(name));
        makeMusic(path, 2, rate, channels, options);
        return test::readAll(path);
    };
    const QByteArray opusStereo = link("s.opus", 48000, 2, {"-c:a", "libopus"});
    const QByteArray opusMono = link("m.opus", 48000, 1,
                                     {"-c:a", "libopus", "-serial_offset", "3"});
    const QByteArray opusStereoAgain = link("s2.opus", 48000, 2,
                                            {"-c:a", "libopus", "-serial_offset", "6"});
    const QByteArray vorbisStereo = link("s.ogg", 44100, 2, {"-c:a", "libvorbis"});
    const QByteArray vorbisMono = link("m.ogg", 44100, 1,
                                       {"-c:a", "libvorbis", "-serial_offset", "3"});
    const QByteArray vorbis32k = link("r.ogg", 32000, 2,
                                      {"-c:a", "libvorbis", "-serial_offset", "4"});
    const QByteArray flac = link("f.oga", 44100, 2, {"-c:a", "flac", "-f", "ogg", "-serial_offset", "8"});
    const QByteArray flacAgain = link("f2.oga", 44100, 2, {"-c:a", "flac", "-f", "ogg", "-serial_offset", "2"});
    const QByteArray flacMono = link("fm.oga", 44100, 1, {"-c:a", "flac", "-f", "ogg", "-serial_offset", "5"});
    const std::vector<std::pair<const char *, QByteArray>> chains = {
        {"opus stereo, mono, stereo", opusStereo + opusMono + opusStereoAgain},
        {"vorbis stereo, mono", vorbisStereo + vorbisMono},
        {"vorbis 44.1 kHz, 32 kHz", vorbisStereo + vorbis32k},
        {"vorbis, then opus", vorbisStereo + opusStereoAgain},
        {"vorbis, then ogg flac", vorbisStereo + flac},
        {"ogg flac, then vorbis", flac + vorbisStereo},
        {"vorbis, ogg flac, vorbis", vorbisStereo + flac + vorbisStereo},
        {"ogg flac stereo, mono", flac + flacMono},
    };
    for (const auto &[name, bytes] : chains) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QStringLiteral("chain.ogg"));
        test::writeFile(path, bytes);
        AudioFileReader glance(path, {}, AudioFileReader::Use::glance);
        EXPECT_THROW(glance.length(), AudioFileError);
        AudioFileReader reader(path);
        std::vector<float> buffer(8192 * 2);
        EXPECT_THROW(reader.readFloatInterleaved(buffer.data(), 8192), AudioFileError);
    }
    // Links alike in format still play, each as the command line decodes it alone.
    for (const auto &[name, bytes, first, second] :
         {std::tuple{"alike.opus", opusStereo + opusStereoAgain, "s.opus", "s2.opus"},
          std::tuple{"alike.oga", flac + flacAgain, "f.oga", "f2.oga"}}) {
        SCOPED_TRACE(name);
        const QString alike = dir.file(QLatin1String(name));
        test::writeFile(alike, bytes);
        AudioFileReader reader(alike);
        const qsizetype alone = test::ffmpegDecode(dir.file(QLatin1String(first))).size()
                                + test::ffmpegDecode(dir.file(QLatin1String(second))).size();
        EXPECT_EQ(reader.length(), qint64(alone / 8));
        EXPECT_EQ(qint64(test::readAllFloat(reader).size()), qint64(alone / 4));
    }
}

// A chain of links alike in format decodes each link as the link alone decodes: the decoder
// starts afresh with the link's own headers and Opus pre-skip. What is stated, read from the
// start, read from three quarters in and stated for a glance is the links' lengths together.
TEST(OggSeek, EachLinkOfAChainDecodesAsItWouldAlone)
{
    test::TempDir dir;
    struct Link {
        const char *name;
        double seconds;
        QStringList options;
    };
    const std::vector<std::pair<int, std::vector<Link>>> chains = {
        {48000,
         {{"a.opus", 3.1, {"-c:a", "libopus"}},
          {"b.opus", 2.3, {"-c:a", "libopus", "-b:a", "64k", "-serial_offset", "5"}},
          // Its audio on one page, which ends the link.
          {"c.opus", 0.6, {"-c:a", "libopus", "-serial_offset", "9"}}}},
        {44100,
         {{"a.ogg", 2.9, {"-c:a", "libvorbis", "-q:a", "1"}},
          {"b.ogg", 2.2, {"-c:a", "libvorbis", "-q:a", "8", "-serial_offset", "4"}}}},
    };
    for (const auto &[rate, links] : chains) {
        SCOPED_TRACE(links[0].name);
        QByteArray chained;
        std::vector<std::vector<float>> alone;
        for (const Link &link : links) {
            const QString path = dir.file(QLatin1String(link.name));
            makeMusic(path, link.seconds, rate, 2, link.options);
            chained += test::readAll(path);
            const QByteArray decoded = test::ffmpegDecode(path);
            alone.emplace_back(size_t(decoded.size()) / sizeof(float));
            std::memcpy(alone.back().data(), decoded.constData(), size_t(decoded.size()));
            // Where the link's pages state its length, they agree with its decode.
            const FileHandle file = FileHandle::openOutside(path);
            if (const auto stream = oggaudio::describe(file, 0, file.size())) {
                EXPECT_EQ(stream->exactLength, int64_t(alone.back().size()) / 2);
            }
        }
        const QString path = dir.file(QStringLiteral("chain")
                                      + QLatin1String(links[0].name).mid(1));
        test::writeFile(path, chained);
        int64_t total = 0;
        for (const auto &samples : alone)
            total += int64_t(samples.size()) / 2;

        AudioFileReader reader(path);
        const int64_t stated = reader.length();
        const std::vector<float> whole = test::readAllFloat(reader);
        EXPECT_EQ(stated, total);
        ASSERT_EQ(int64_t(whole.size()) / 2, total);
        size_t at = alone[0].size();
        for (size_t k = 1; k < alone.size(); ++k) {
            float worst = 0;
            for (size_t i = 0; i < alone[k].size(); ++i)
                worst = std::max(worst, std::abs(whole[at + i] - alone[k][i]));
            EXPECT_EQ(worst, 0.0f) << "link " << k + 1;
            at += alone[k].size();
        }
        reader.seek(stated * 3 / 4);
        const std::vector<float> tail = test::readAllFloat(reader);
        EXPECT_EQ(int64_t(tail.size()) / 2 + stated * 3 / 4, total);
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(),
                               whole.end() - std::ptrdiff_t(std::min(tail.size(), whole.size()))));
        EXPECT_EQ(AudioFileReader(path, {}, AudioFileReader::Use::glance).length(), total);
    }
}
