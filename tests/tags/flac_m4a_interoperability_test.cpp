// FLAC and MPEG-4 files encoded by the flac command line and by FFmpeg's mp4 muxer stay valid
// and play the same once tagged here, and their tags read right in metaflac and mutagen.
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/tempo_identity.h"
#include "flac_fixtures.h"
#include "mpeg4_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <QFile>

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

class FlacAndMp4Interoperability : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sources = new test::TempDir;
        const auto make = [](const QStringList &arguments) {
            run(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                                      "sine=f=440:d=1", "-ac", "2"}
                                              + arguments);
        };
        make({"-c:a", "pcm_s16le", sources->file("16.wav")});
        make({"-c:a", "pcm_s24le", sources->file("24.wav")});
        for (const char *bits : {"16", "24"})
            run(QStringLiteral("flac"), {"--silent", "-o", sources->file(QString(bits) + ".flac"),
                                         sources->file(QString(bits) + ".wav")});
        make({"-c:a", "aac", "-b:a", "96k", sources->file("end.m4a")});
        make({"-c:a", "aac", "-b:a", "96k", "-movflags", "+faststart", sources->file("start.m4a")});
    }
    static void TearDownTestSuite()
    {
        delete sources;
        sources = nullptr;
    }
    QString copy(const QString &name)
    {
        const QString path = dir.file(name);
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(sources->file(name), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    static inline test::TempDir *sources = nullptr;
    test::TempDir dir;
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

        const auto boxes = test::mpeg4::topLevel(after);
        qsizetype moovs = 0;
        for (const auto &box : boxes) {
            if (box.name == "moov") {
                ++moovs;
                EXPECT_EQ(box.offset, before.size()) << "the new moov is appended";
            }
        }
        EXPECT_EQ(moovs, 1);
        EXPECT_EQ(boxes.last().name, "moov");
        EXPECT_EQ(boxes.last().offset + boxes.last().size, after.size());
        const auto old = test::mpeg4::topLevel(before);
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
