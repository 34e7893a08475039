// FLAC and MPEG-4 files encoded by the flac command line and by FFmpeg's mp4 muxer stay valid
// and play the same once tagged here, and their tags read right in metaflac and mutagen.
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/tempo_identity.h"
#include "flac_fixtures.h"
#include "mpeg4_fixtures.h"
#include "made_files.h"

#include <gtest/gtest.h>

using namespace tampod;
using test::systemPython;

namespace {

const auto run = test::runChecked;

// Prints the "tmpo" value and the text of our freeform item, one per line.
const char *mutagenReadMp4 = R"(
import sys
from mutagen.mp4 import MP4
tags = MP4(sys.argv[1]).tags
print(tags['tmpo'][0])
print(bytes(tags['----:%s:BPM' % sys.argv[2]][0]).decode())
)";

class FlacAndMp4Interoperability : public test::MadeFiles {
protected:
    static void SetUpTestSuite()
    {
        const QStringList sine{"sine=f=440:d=1", "-ac", "2"};
        for (const QString bits : {"16", "24"}) {
            make(bits + ".wav", sine, {"-c:a", "pcm_s" + bits + "le"});
            run(QStringLiteral("flac"), {"--silent", "-o", sources->file(bits + ".flac"), sources->file(bits + ".wav")});
        }
        make("end.m4a", sine, {"-c:a", "aac", "-b:a", "96k"});
        make("start.m4a", sine, {"-c:a", "aac", "-b:a", "96k", "-movflags", "+faststart"});
    }
};

} // namespace

TEST_F(FlacAndMp4Interoperability, FlacEncodedByTheCommandLineIsTaggedValidly)
{
    for (const QString bits : {"16", "24"}) {
        const QString source = copy(bits + ".flac");
        run(QStringLiteral("metaflac"), {"--set-tag=TITLE=Song", "--set-tag=bpm=98", "--set-tag=Tempo=97", source});
        const QString tagged = dir.file("tagged.flac");
        QFile::remove(tagged);
        FLACTempoMetadata::copyTagging(source, tagged, 123.457);

        run(QStringLiteral("flac"), {"-t", "--silent", tagged});
        EXPECT_EQ(run(QStringLiteral("metaflac"), {"--show-vendor-tag", tagged}), "tamPOD");
        const QByteArrayList comments = run(QStringLiteral("metaflac"), {"--export-tags-to=-", tagged}).split('\n');
        EXPECT_EQ(comments.mid(comments.size() - 3),
                  (QByteArrayList{"TITLE=Song", "BPM=123.457", "TAMPOD_BPM=123.457"}));
        EXPECT_EQ(test::flac::parse(test::readAll(tagged)).audio, test::flac::parse(test::readAll(source)).audio);
        EXPECT_EQ(FLACTempoMetadata::read(tagged), 123.457);
        EXPECT_EQ(FLACTempoMetadata::sourceFormat(tagged), (FLACTempoMetadata::StreamFormat{44100, bits.toInt()}));
    }

    // Without any comment block, a new one is added at the end and the file stays valid.
    const QString bare = copy(QStringLiteral("16.flac"));
    run(QStringLiteral("metaflac"), {"--remove", "--block-type=VORBIS_COMMENT,PADDING", "--dont-use-padding", bare});
    const QString tagged = dir.file("bare-tagged.flac");
    FLACTempoMetadata::copyTagging(bare, tagged, 90.0);
    run(QStringLiteral("flac"), {"-t", "--silent", tagged});
    EXPECT_EQ(run(QStringLiteral("metaflac"), {"--export-tags-to=-", tagged}), "BPM=90.0\nTAMPOD_BPM=90.0");
}

TEST_F(FlacAndMp4Interoperability, Mp4FromTheMuxerIsTaggedInPlaceAndStillPlays)
{
    for (const QString name : {"end.m4a", "start.m4a"}) {
        const QString path = copy(name);
        const QByteArray decoded = run(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-f", "md5", "-"});
        const QByteArray before = test::readAll(path);
        M4ATempoMetadata::write(120.5, path);
        const QByteArray after = test::readAll(path);

        const auto boxes = test::mpeg4::topLevel(after), old = test::mpeg4::topLevel(before);
        ASSERT_EQ(boxes.size(), old.size() + 1);
        EXPECT_EQ(boxes.last().name, "moov");
        EXPECT_EQ(boxes.last().offset, before.size()) << "the new moov is appended";
        EXPECT_EQ(boxes.last().offset + boxes.last().size, after.size());
        for (qsizetype i = 0; i < old.size(); ++i) {
            EXPECT_EQ(boxes[i].offset, old[i].offset);
            EXPECT_EQ(boxes[i].name, old[i].name == "moov" ? QByteArray("free") : old[i].name);
        }

        // Every packet still decodes, to the same samples.
        EXPECT_EQ(run(QStringLiteral("ffmpeg"), {"-v", "error", "-xerror", "-i", path, "-f", "md5", "-"}), decoded);
        EXPECT_EQ(run(systemPython, {"-c", mutagenReadMp4, path, TempoIdentity::freeformMean}), "120\n120.5");
        EXPECT_EQ(M4ATempoMetadata::read(path), 120.5);
    }
}
