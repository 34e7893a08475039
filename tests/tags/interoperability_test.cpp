// Tempo tags exchanged with independent programs: files tagged by mutagen, eyeD3 and metaflac
// read back the right tempo; files tagged here read right in mutagen, exiftool and metaflac,
// and still decode in ffmpeg and flac. Expected texts are written out, not computed here.
#include "tags/container_tempo_reader.h"
#include "tags/export_tempo_writer.h"
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/mp3_tempo_metadata.h"
#include "fixtures.h"

#include <gtest/gtest.h>

using namespace tampod;
using test::mutagenId3;
using test::systemPython;

namespace {

const auto run = test::runChecked;

// Prints the TBPM text and the "tamPOD_BPM" TXXX text of a WAV or AIFF, or the "tmpo" value
// and our freeform text of an MP4, one per line.
const char *mutagenRead = R"(
import sys
path, kind = sys.argv[1:]
if kind == 'm4a':
    from mutagen.mp4 import MP4
    tags = MP4(path).tags
    print(tags['tmpo'][0])
    print(bytes(tags['----:org.tampod.tamPOD:BPM'][0]).decode())
else:
    from mutagen.wave import WAVE
    from mutagen.aiff import AIFF
    tags = (WAVE(path) if kind == 'wav' else AIFF(path)).tags
    print(tags['TBPM'].text[0])
    print(tags['TXXX:tamPOD_BPM'].text[0])
)";

class Interoperability : public test::MadeFiles {
protected:
    static void SetUpTestSuite()
    {
        for (const char *kind : {"wav", "aiff", "mp3"})
            make(QStringLiteral("file.") + kind, {"anullsrc=r=44100:cl=mono", "-t", "0.2", "-map_metadata", "-1", "-fflags", "+bitexact"});
        const QStringList sine{"sine=f=440:d=1", "-ac", "2"};
        for (const QString bits : {"16", "24"}) {
            make(bits + ".wav", sine, {"-c:a", "pcm_s" + bits + "le"});
            run(QStringLiteral("flac"), {"--silent", "-o", sources->file(bits + ".flac"), sources->file(bits + ".wav")});
        }
        make("end.m4a", sine, {"-c:a", "aac", "-b:a", "96k"});
        make("start.m4a", sine, {"-c:a", "aac", "-b:a", "96k", "-movflags", "+faststart"});
    }
    void expectDecodes(const QString &path)
    {
        run(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-xerror", "-i", path, "-f", "null", "-"});
    }
};

} // namespace

TEST_F(Interoperability, ID3TagsWrittenByMutagenAndEyeD3ReadBack)
{
    // ID3v2.3 has no UTF-8: mutagen writes those frames as UTF-16 with a mark on every string.
    for (const auto &[version, encoding] : {std::pair("3", "0"), std::pair("3", "1"), std::pair("3", "3"), std::pair("4", "0"),
                                            std::pair("4", "1"), std::pair("4", "2"), std::pair("4", "3")}) {
        for (const QString kind : {"wav", "aiff", "mp3"}) {
            const QString path = copy("file." + kind);
            run(systemPython, {"-c", mutagenId3, path, kind, version, encoding, "120", "120.4"});
            const auto tempo = kind == u"mp3" ? MP3TempoMetadata::read(path) : ContainerTempoReader::read(path, true);
            EXPECT_EQ(tempo, 120.4) << version << " " << encoding << " " << kind.toStdString();
        }
    }
    const QString wav = copy("file.wav");
    run(systemPython, {"-c", mutagenId3, wav, "wav", "3", "1", "128", ""});
    EXPECT_EQ(ContainerTempoReader::read(wav, false), 128.0);
    EXPECT_FALSE(ContainerTempoReader::read(wav, true));
    const QString mp3 = copy("file.mp3");
    run(systemPython, {"-c", mutagenId3, mp3, "mp3", "4", "3", "121", "120.4"});
    EXPECT_EQ(MP3TempoMetadata::read(mp3), 121.0) << "disagreeing values";

    // ID3v2.3 knows only Latin-1 and UTF-16.
    for (const auto &[version, encoding] : {std::pair("--to-v2.3", "latin1"), std::pair("--to-v2.3", "utf16"), std::pair("--to-v2.4", "latin1"),
                                            std::pair("--to-v2.4", "utf16"), std::pair("--to-v2.4", "utf16-be"), std::pair("--to-v2.4", "utf8")}) {
        const QString path = copy("file.mp3");
        run(QStringLiteral("eyeD3"), {"--quiet", version, "--encoding", encoding, "--bpm", "98", "--user-text-frame", "tamPOD_BPM:98.25", path});
        EXPECT_EQ(MP3TempoMetadata::read(path), 98.25) << version << " " << encoding;
    }
    const QString lone = copy("file.mp3");
    run(QStringLiteral("eyeD3"), {"--quiet", "--to-v2.3", "--bpm", "128", lone});
    EXPECT_EQ(MP3TempoMetadata::read(lone), 128.0);
}

TEST_F(Interoperability, OurWavAndAiffTagsReadInMutagenAndExiftool)
{
    const struct {
        double bpm;
        const char *whole, *precise;
    } cases[] = {{120.0, "120", "120.0"}, {120.5, "120", "120.5"}, {120.51, "121", "120.51"},
                 {123.457, "123", "123.457"}, {98.25, "98", "98.25"}};
    for (const auto &c : cases) {
        for (const QString kind : {"wav", "aiff"}) {
            const QString path = copy("file." + kind);
            ExportTempoWriter::write(c.bpm, path, kind == u"wav" ? ExportTempoWriter::Container::wav : ExportTempoWriter::Container::aiff);
            EXPECT_EQ(run(systemPython, {"-c", mutagenRead, path, kind}), QByteArray(c.whole) + '\n' + c.precise) << c.bpm;
            EXPECT_EQ(run(QStringLiteral("exiftool"), {"-s3", "-BeatsPerMinute", "-UserDefinedText", path}),
                      QByteArray(c.whole) + "\n(tamPOD_BPM) " + c.precise) << c.bpm;
            expectDecodes(path);
        }
    }
}

TEST_F(Interoperability, FlacEncodedByTheCommandLineIsTaggedValidly)
{
    for (const QString bits : {"16", "24"}) {
        const QString source = copy(bits + ".flac");
        run(QStringLiteral("metaflac"), {"--set-tag=TITLE=Song", "--set-tag=bpm=98", "--set-tag=Tempo=97", source});
        EXPECT_EQ(FLACTempoMetadata::read(source), 98.0);
        const QString tagged = dir.file("tagged.flac");
        QFile::remove(tagged);
        FLACTempoMetadata::copyTagging(123.457, source, tagged);

        run(QStringLiteral("flac"), {"-t", "--silent", tagged});
        EXPECT_EQ(run(QStringLiteral("metaflac"), {"--show-vendor-tag", tagged}), "tamPOD");
        const QByteArrayList comments = run(QStringLiteral("metaflac"), {"--export-tags-to=-", tagged}).split('\n');
        EXPECT_EQ(comments.mid(comments.size() - 3), (QByteArrayList{"TITLE=Song", "BPM=123.457", "TAMPOD_BPM=123.457"}));
        EXPECT_EQ(run(QStringLiteral("metaflac"), {"--show-md5sum", tagged}), run(QStringLiteral("metaflac"), {"--show-md5sum", source}));
        EXPECT_EQ(FLACTempoMetadata::read(tagged), 123.457);
        EXPECT_EQ(FLACTempoMetadata::sourceFormat(tagged), (FLACTempoMetadata::StreamFormat{44100, bits.toInt()}));
    }

    // Without any comment block, a new one is added at the end and the file stays valid.
    const QString bare = copy(QStringLiteral("16.flac"));
    run(QStringLiteral("metaflac"), {"--remove", "--block-type=VORBIS_COMMENT,PADDING", "--dont-use-padding", bare});
    const QString tagged = dir.file("bare-tagged.flac");
    FLACTempoMetadata::copyTagging(90.0, bare, tagged);
    run(QStringLiteral("flac"), {"-t", "--silent", tagged});
    EXPECT_EQ(run(QStringLiteral("metaflac"), {"--export-tags-to=-", tagged}), "BPM=90.0\nTAMPOD_BPM=90.0");
}

TEST_F(Interoperability, Mp4FromTheMuxerIsTaggedInPlaceAndStillPlays)
{
    for (const QString name : {"end.m4a", "start.m4a"}) {
        const QString path = copy(name);
        const QByteArray decoded = run(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-f", "md5", "-"});
        const QByteArray before = test::readAll(path);
        M4ATempoMetadata::write(120.5, path);
        const QByteArray after = test::readAll(path);

        // The media data stays where it was: everything before the appended moov is unchanged
        // but for the old moov's name.
        EXPECT_EQ(after.left(before.size()).replace("moov", "free"), QByteArray(before).replace("moov", "free"));
        EXPECT_EQ(test::mpeg4::topLevel(after).last(), (test::mpeg4::TopBox{"moov", before.size(), after.size() - before.size()}));
        // Every packet still decodes, to the same samples.
        EXPECT_EQ(run(QStringLiteral("ffmpeg"), {"-v", "error", "-xerror", "-i", path, "-f", "md5", "-"}), decoded);
        EXPECT_EQ(run(systemPython, {"-c", mutagenRead, path, "m4a"}), "120\n120.5");
        EXPECT_EQ(M4ATempoMetadata::read(path), 120.5);
    }
}
