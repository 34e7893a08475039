// The order in which stored tempos are believed at import, on files tagged by independent
// programs (mutagen, eyeD3, metaflac, FFmpeg) and by hand-built chunks.
#include "import/tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "core/file_system_call.h"
#include "sd2/resource_fork_builder.h"
#include "tags/container_tempo_reader.h"
#include "tags/fixtures.h"
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/wav_tempo_reader.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <sys/stat.h>

using namespace tampod;
namespace tags = test::tags;

namespace {

const auto run = test::runChecked;
std::atomic<int> opens{0};

class ImportTempo : public test::MadeFiles {
protected:
    static void SetUpTestSuite()
    {
        for (const char *kind : {"wav", "aiff", "flac", "m4a", "ogg"})
            make(QStringLiteral("plain.") + kind, {"sine=d=0.2", "-map_metadata", "-1", "-fflags", "+bitexact"});
        // The MP3 gets no ID3 tag of its own.
        make("plain.mp3", {"sine=d=0.2", "-map_metadata", "-1", "-fflags", "+bitexact", "-id3v2_version", "0"});
    }
    QString copy(const QString &kind, const QString &name = QStringLiteral("file"))
    {
        return MadeFiles::copy("plain." + kind, name + u'.' + kind);
    }
    // Appends chunks to a RIFF or FORM file and corrects its size.
    static void append(const QString &path, const QList<tags::Chunk> &chunks)
    {
        const bool riff = path.endsWith(u".wav");
        QByteArray file = test::readAll(path) + tags::chunks(chunks, riff);
        const auto size = std::uint32_t(file.size() - 8);
        test::writeFile(path, file.replace(4, 4, (riff ? ByteWriter().u32le(size) : ByteWriter().u32be(size)).data()));
    }
    static std::optional<double> read(const QString &path, const CancellationToken &token = {})
    {
        return TempoMetadata::read(QUrl::fromLocalFile(path), token);
    }
};

} // namespace

TEST_F(ImportTempo, WavPrecedenceAgreedPairThenAcidThenTbpmThenInfo)
{
    const struct {
        const char *what, *standard, *precise;
        QList<tags::Chunk> chunks;
        std::optional<double> expected;
    } cases[] = {
        {"acid before a lone TBPM", "127", "", {{"acid", tags::acid(128)}}, 128.0},
        {"an agreed pair before acid", "127", "127.3", {{"acid", tags::acid(128)}}, 127.3},
        {"a disagreeing pair is its TBPM", "127", "128.3", {{"acid", tags::acid(128)}}, 127.0},
        {"TBPM before IBPM", "100", "", {{"LIST", tags::info({{"IBPM", "99"}})}}, 100.0},
        {"IBPM alone", "", "", {{"LIST", tags::info({{"IBPM", "99"}})}}, 99.0},
    };
    for (const auto &c : cases) {
        const QString path = copy(QStringLiteral("wav"));
        if (*c.standard)
            run(test::systemPython, {"-c", test::mutagenId3, path, "wav", "3", "3", c.standard, c.precise});
        append(path, c.chunks);
        EXPECT_EQ(read(path), c.expected) << c.what;
    }
    // AIFF has only its ID3 chunk; an "acid" chunk there is not looked for.
    const QString aiff = copy(QStringLiteral("aiff"));
    append(aiff, {{"acid", tags::acid(128)}});
    EXPECT_EQ(read(aiff), std::nullopt);
    run(test::systemPython, {"-c", test::mutagenId3, aiff, "aiff", "3", "3", "101", ""});
    EXPECT_EQ(read(aiff), 101.0);
}

TEST_F(ImportTempo, EachContainerHasItsReaderAndTheDemuxerComesLast)
{
    const QString song = dir.file(QStringLiteral("Song.MP3"));
    ASSERT_TRUE(QFile::rename(copy(QStringLiteral("mp3")), song));
    run(QStringLiteral("eyeD3"), {"--quiet", "--bpm", "128", song});
    EXPECT_EQ(read(song), 128.0);

    // Our precise text without its standard value is believed nowhere, the demuxer included.
    const QString precise = copy(QStringLiteral("mp3"));
    run(QStringLiteral("eyeD3"), {"--quiet", "--user-text-frame", "tamPOD_BPM:98.25", precise});
    EXPECT_EQ(read(precise), std::nullopt);

    // A tempo in a second ID3 tag, which only the demuxer reads; the same in an MP3 named .wav.
    const QString twoTags = copy(QStringLiteral("mp3"));
    const QByteArray second = tags::tag(3, tags::frame(3, "TBPM", tags::text("120")));
    test::writeFile(twoTags, tags::tag(3, tags::frame(3, "TIT2", tags::text("Song"))) + second + test::readAll(twoTags));
    EXPECT_EQ(read(twoTags), 120.0);
    ASSERT_TRUE(QFile::rename(twoTags, dir.file(QStringLiteral("disguised.wav"))));
    EXPECT_EQ(read(dir.file(QStringLiteral("disguised.wav"))), 120.0);

    const QString flac = copy(QStringLiteral("flac"));
    run(QStringLiteral("metaflac"), {"--set-tag=TEMPO=100", flac});
    EXPECT_EQ(read(flac), 100.0);

    // A disagreeing M4A pair is decided by the M4A reader, whatever the demuxer exposes.
    const QString m4a = copy(QStringLiteral("m4a"));
    run(test::systemPython, {"-c", "import sys\nfrom mutagen.mp4 import MP4, MP4FreeForm\nf = MP4(sys.argv[1])\n"
                                   "f['tmpo'] = [121]\nf['----:org.tampod.tamPOD:BPM'] = [MP4FreeForm(b'120.4')]\nf.save()", m4a});
    EXPECT_EQ(read(m4a), 121.0);

    const auto ogg = [this](const char *item) {
        const QString path = dir.file(QStringLiteral("file.ogg"));
        QFile::remove(path);
        run(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-i", sources->file("plain.ogg"), "-c", "copy", "-metadata", item, path});
        return path;
    };
    EXPECT_EQ(read(ogg("BPM=96")), 96.0);
    EXPECT_EQ(read(ogg("tbpm=1.2e2")), 120.0);
    for (const char *bad : {"BPM= 96", "BPM=96 bpm", "BPM=0", "TEMPO=90", "TAMPOD_BPM=90"})
        EXPECT_EQ(read(ogg(bad)), std::nullopt) << bad;
    CancellationSource cancelled;
    cancelled.cancel();
    EXPECT_THROW(read(ogg("BPM=96"), cancelled.token()), Cancelled);
}

// A cancelled import ends as cancelled: no reader may turn the cancellation into a file without
// a tempo, which the import would keep as a track.
TEST_F(ImportTempo, CancellationIsThrownByEveryTagReaderNotReadAsNoTempo)
{
    using Tagging = std::function<void(const QString &)>;
    using Reader = std::function<std::optional<double>(const FileHandle &)>;
    const auto id3 = [](const char *kind) -> Tagging {
        return [kind](const QString &path) {
            run(test::systemPython, {"-c", test::mutagenId3, path, kind, "3", "3", "120", ""});
        };
    };
    const auto chunk = [](const tags::Chunk &added) -> Tagging {
        return [added](const QString &path) { append(path, {added}); };
    };
    const Tagging flac = [](const QString &path) {
        run(QStringLiteral("metaflac"), {"--set-tag=BPM=120", path});
    };
    const Tagging mp3 = [](const QString &path) {
        run(QStringLiteral("eyeD3"), {"--quiet", "--bpm", "120", path});
    };
    const Tagging m4a = [](const QString &path) {
        run(test::systemPython, {"-c", "import sys\nfrom mutagen.mp4 import MP4\nf = MP4(sys.argv[1])\n"
                                       "f['tmpo'] = [120]\nf.save()", path});
    };
    const Reader id3Chunk = [](const FileHandle &file) {
        return ContainerTempoReader::read(file, false);
    };
    const struct {
        const char *kind;
        Tagging tagging;
        Reader reader;
    } cases[] = {
        {"flac", flac, [](const FileHandle &file) { return FLACTempoMetadata::read(file); }},
        {"mp3", mp3, [](const FileHandle &file) { return MP3TempoMetadata::read(file); }},
        {"wav", id3("wav"), id3Chunk},
        {"aiff", id3("aiff"), id3Chunk},
        {"wav", chunk({"acid", tags::acid(120)}),
         [](const FileHandle &file) { return WAVTempoReader::read(file, false); }},
        {"wav", chunk({"LIST", tags::info({{"IBPM", "120"}})}),
         [](const FileHandle &file) { return WAVTempoReader::read(file, true); }},
        {"m4a", m4a, [](const FileHandle &file) { return M4ATempoMetadata::read(file); }},
    };
    for (const auto &c : cases) {
        const QString path = copy(QLatin1String(c.kind));
        c.tagging(path);
        const FileHandle file = FileHandle::openOutside(path);
        ASSERT_EQ(c.reader(file), 120.0) << c.kind;
        ASSERT_EQ(read(path), 120.0) << c.kind;

        const CurrentCancellation::Scope scope(test::cancelledToken());
        EXPECT_THROW(c.reader(file), Cancelled) << c.kind;
        // The import's read under the current token, as the importer calls it.
        EXPECT_THROW(TempoMetadata::read(QUrl::fromLocalFile(path)), Cancelled) << c.kind;
    }
}

TEST_F(ImportTempo, SD2ResourcesAndUnreadableFiles)
{
    const QString sd2 = dir.file(QStringLiteral("take.sd2"));
    test::writeFile(sd2, QByteArray(4000, '\0'));
    EXPECT_EQ(read(sd2), std::nullopt);
    auto resources = test::parameters("2", "44100", "2");
    resources.push_back({test::typeSBPM, 128, "tamPOD_BPM=98.76"});
    test::writeFile(dir.file(QStringLiteral("._take.sd2")), test::buildFork(resources));
    EXPECT_EQ(read(sd2), 98.76);
    // Whatever the extension: a WAV without tempo tags but with SD2 resources beside it.
    const QString wav = copy(QStringLiteral("wav"), QStringLiteral("bounced"));
    test::writeFile(dir.file(QStringLiteral("._bounced.wav")), test::buildFork(resources));
    EXPECT_EQ(read(wav), 98.76);

    EXPECT_EQ(read(dir.file(QStringLiteral("missing.mp3"))), std::nullopt);
    test::writeFile(dir.file(QStringLiteral("text.flac")), "not audio at all");
    EXPECT_EQ(read(dir.file(QStringLiteral("text.flac"))), std::nullopt);
    EXPECT_EQ(TempoMetadata::read(QUrl(QStringLiteral("https://example.org/song.mp3"))), std::nullopt);

    // A FIFO under any name is refused at once, never waited on.
    const auto start = std::chrono::steady_clock::now();
    for (const char *extension : {"mp3", "flac", "m4a", "wav", "wave", "bwf", "aif", "aiff", "aifc", "sd2", "L", "ogg", ""}) {
        const QString fifo = dir.file(QStringLiteral("fifo.") + extension);
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        EXPECT_EQ(read(fifo), std::nullopt) << extension;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(ImportTempo, APlainWavIsOpenedAtMostTwice)
{
    const QString wav = copy(QStringLiteral("wav"));
    FileSystemCall::setObserver([](const char *operation) { opens += std::strcmp(operation, "open") == 0; });
    EXPECT_EQ(read(wav), std::nullopt);
    FileSystemCall::setObserver(nullptr);
    EXPECT_GE(opens, 1);
    EXPECT_LE(opens, 2) << "our own readers share one descriptor; the demuxer opens the other";
}
