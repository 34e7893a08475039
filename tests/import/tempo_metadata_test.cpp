// The order in which stored tempos are believed at import, on files tagged by independent
// programs (mutagen, eyeD3, metaflac, FFmpeg) and by hand-built chunks.
#include "import/tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "library/app_identity.h"
#include "sd2/sd2_tempo_metadata.h"
#include "sd2/resource_fork_builder.h"
#include "tags/tempo_identity.h"
#include "tags/tag_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

const auto run = test::runChecked;

// Adds ID3 frames with mutagen: TBPM and the "tamPOD_BPM" TXXX, either left out when empty.
const char *mutagenId3 = R"(
import sys
from mutagen.id3 import TBPM, TXXX
from mutagen.wave import WAVE
from mutagen.aiff import AIFF
path, standard, precise = sys.argv[1:]
f = AIFF(path) if path.endswith('.aiff') else WAVE(path)
f.add_tags()
if standard:
    f.tags.add(TBPM(encoding=3, text=[standard]))
if precise:
    f.tags.add(TXXX(encoding=3, desc='tamPOD_BPM', text=[precise]))
f.save(v2_version=3)
)";

class ImportTempo : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sources = new test::TempDir;
        for (const char *name : {"plain.wav", "plain.aiff", "plain.flac", "plain.m4a", "plain.ogg"}) {
            run(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                           "sine=f=440:d=0.2", "-map_metadata", "-1", "-fflags", "+bitexact",
                                           sources->file(name)});
        }
        // No tag of its own: no Xing header, no ID3 tag.
        run(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.2",
                                       "-map_metadata", "-1", "-fflags", "+bitexact", "-write_xing", "0",
                                       "-id3v2_version", "0", sources->file("plain.mp3")});
    }
    static void TearDownTestSuite()
    {
        delete sources;
        sources = nullptr;
    }
    QString copy(const QString &kind, const QString &name = QStringLiteral("file"))
    {
        const QString path = dir.file(name + u'.' + kind);
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(sources->file(QStringLiteral("plain.") + kind), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }
    QString ogg(const QStringList &metadata)
    {
        const QString path = dir.file(QStringLiteral("file.ogg"));
        QFile::remove(path);
        QStringList arguments{"-hide_banner", "-loglevel", "error", "-i", sources->file("plain.ogg"), "-c", "copy"};
        for (const QString &item : metadata)
            arguments << "-metadata" << item;
        run(QStringLiteral("ffmpeg"), arguments << path);
        return path;
    }
    static std::optional<double> read(const QString &path, const CancellationToken &token = {})
    {
        return TempoMetadata::read(QUrl::fromLocalFile(path), token);
    }

    static inline test::TempDir *sources = nullptr;
    test::TempDir dir;
};

// Appends a chunk to a RIFF/WAVE file and corrects its size.
void appendChunk(const QString &path, const QByteArray &id, const QByteArray &data)
{
    QByteArray file = test::readAll(path);
    file += test::tags::chunks({{id, data}}, true);
    ByteWriter size;
    size.u32le(static_cast<std::uint32_t>(file.size() - 8));
    file.replace(4, 4, size.data());
    test::writeFile(path, file);
}

} // namespace

TEST_F(ImportTempo, MP3TagsAndTheDemuxerTags)
{
    const QString upper = copy(QStringLiteral("mp3"), QStringLiteral("Song"));
    const QString song = dir.file(QStringLiteral("Song.MP3"));
    ASSERT_TRUE(QFile::rename(upper, song));
    run(QStringLiteral("eyeD3"), {"--quiet", "--to-v2.3", "--bpm", "128", song});
    EXPECT_EQ(read(song), 128.0);

    // A precise text without its standard value is believed nowhere, not even by the demuxer.
    const QString precise = copy(QStringLiteral("mp3"));
    run(QStringLiteral("eyeD3"), {"--quiet", "--to-v2.3", "--user-text-frame", "tamPOD_BPM:98.25", precise});
    EXPECT_EQ(read(precise), std::nullopt);

    // The tempo in a second tag, which only the demuxer reads.
    const QString twoTags = copy(QStringLiteral("mp3"));
    const QByteArray first = test::tags::tag(3, test::tags::frame(3, "TIT2", test::tags::text("Song")));
    const QByteArray second = test::tags::tag(3, test::tags::frame(3, "TBPM", test::tags::text("120")));
    test::writeFile(twoTags, first + second + test::readAll(twoTags));
    EXPECT_EQ(read(twoTags), 120.0);

    // An MP3 stream named .wav: no RIFF chunk is found, the demuxer still reads its tag.
    const QString disguised = copy(QStringLiteral("mp3"));
    run(QStringLiteral("eyeD3"), {"--quiet", "--to-v2.4", "--bpm", "99", disguised});
    const QString wav = dir.file(QStringLiteral("disguised.wav"));
    ASSERT_TRUE(QFile::rename(disguised, wav));
    EXPECT_EQ(read(wav), 99.0);
}

TEST_F(ImportTempo, WavPrecedenceAgreedPairThenAcidThenTbpmThenInfo)
{
    struct Case {
        const char *what, *standard, *precise;
        std::optional<float> acid;
        QByteArray ibpm;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {"acid before a lone TBPM", "127", "", 128.0f, {}, 128.0},
        {"an agreed pair before acid", "127", "127.3", 128.0f, {}, 127.3},
        {"a disagreeing pair is its TBPM, before acid", "127", "128.3", 128.0f, {}, 127.0},
        {"TBPM before IBPM", "100", "", std::nullopt, "99", 100.0},
        {"IBPM alone", "", "", std::nullopt, "99", 99.0},
        {"nothing", "", "", std::nullopt, {}, std::nullopt},
    };
    for (const Case &c : cases) {
        const QString path = copy(QStringLiteral("wav"));
        if (*c.standard || *c.precise)
            run(test::systemPython, {"-c", mutagenId3, path, c.standard, c.precise});
        if (c.acid)
            appendChunk(path, "acid", test::tags::acid(*c.acid));
        if (!c.ibpm.isEmpty())
            appendChunk(path, "LIST", test::tags::info({{"IBPM", c.ibpm + '\0'}}));
        EXPECT_EQ(read(path), c.expected) << c.what;
    }

    // AIFF has only its ID3 chunk; an "acid" chunk there is not looked for.
    const QString aiff = copy(QStringLiteral("aiff"));
    QByteArray bytes = test::readAll(aiff) + test::tags::chunks({{"acid", test::tags::acid(128.0f)}}, false);
    ByteWriter size;
    size.u32be(static_cast<std::uint32_t>(bytes.size() - 8));
    test::writeFile(aiff, bytes.replace(4, 4, size.data()));
    EXPECT_EQ(read(aiff), std::nullopt);
    run(test::systemPython, {"-c", mutagenId3, aiff, "101", ""});
    EXPECT_EQ(read(aiff), 101.0);
}

TEST_F(ImportTempo, FlacAndM4AReaders)
{
    const QString flac = copy(QStringLiteral("flac"));
    run(QStringLiteral("metaflac"), {"--set-tag=TEMPO=100", flac});
    EXPECT_EQ(read(flac), 100.0);
    run(QStringLiteral("metaflac"), {"--set-tag=BPM=101.5", flac});
    EXPECT_EQ(read(flac), 101.5);

    // The pairing rule holds for M4A files, whatever the demuxer exposes of the freeform item.
    const QString m4a = copy(QStringLiteral("m4a"));
    run(test::systemPython, {"-c",
                             "import sys\nfrom mutagen.mp4 import MP4, MP4FreeForm\nf = MP4(sys.argv[1])\n"
                             "f['tmpo'] = [121]\nf['----:org.tampod.tamPOD:BPM'] = [MP4FreeForm(b'120.4')]\nf.save()",
                             m4a});
    EXPECT_EQ(read(m4a), 121.0);
}

TEST_F(ImportTempo, OggThroughTheDemuxerTags)
{
    EXPECT_EQ(read(ogg({"BPM=96"})), 96.0);
    EXPECT_EQ(read(ogg({"TITLE=120", "tbpm=1.2e2"})), 120.0);
    EXPECT_EQ(read(ogg({"BPM= 96"})), std::nullopt);
    EXPECT_EQ(read(ogg({"BPM=96 bpm"})), std::nullopt);
    EXPECT_EQ(read(ogg({"BPM=0", "TEMPO=90"})), std::nullopt);
    EXPECT_EQ(read(ogg({"TAMPOD_BPM=90"})), std::nullopt);
    EXPECT_EQ(read(ogg({})), std::nullopt);

    CancellationSource cancelled;
    cancelled.cancel();
    EXPECT_EQ(read(ogg({"BPM=96"}), cancelled.token()), std::nullopt);
}

TEST_F(ImportTempo, SD2ResourcesAndUnreadableFiles)
{
    const QString sd2 = dir.file(QStringLiteral("take.sd2"));
    test::writeFile(sd2, QByteArray(4000, '\0'));
    EXPECT_EQ(read(sd2), std::nullopt);
    auto resources = test::parameters("2", "44100", "2");
    resources.push_back({test::typeSBPM, 128, QByteArray(SD2TempoMetadata::prefix) + "98.76"});
    test::writeFile(dir.file(QStringLiteral("._take.sd2")), test::buildFork(resources));
    EXPECT_EQ(read(sd2), 98.76);

    EXPECT_EQ(read(dir.file(QStringLiteral("missing.mp3"))), std::nullopt);
    test::writeFile(dir.file(QStringLiteral("text.flac")), "not audio at all");
    EXPECT_EQ(read(dir.file(QStringLiteral("text.flac"))), std::nullopt);
    EXPECT_EQ(TempoMetadata::read(QUrl(QStringLiteral("https://example.org/song.mp3"))), std::nullopt);
}

TEST(TempoIdentity, TheFreeformMeanIsTheBundleIdentifier)
{
    EXPECT_STREQ(TempoIdentity::freeformMean, AppIdentity::bundleIdentifier);
}
