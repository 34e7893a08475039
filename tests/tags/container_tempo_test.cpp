#include "tags/container_tempo_reader.h"
#include "tags/mp3_tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "support/test_support.h"
#include "tag_fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tampod;
using namespace tampod::test::tags;

namespace {

class ContainerTempo : public ::testing::Test {
protected:
    std::optional<double> readBytes(const QByteArray &file, bool pairedOnly = false)
    {
        const QString path = dir.file(QStringLiteral("file"));
        test::writeFile(path, file);
        return ContainerTempoReader::read(path, pairedOnly);
    }
    std::optional<double> readMP3(const QByteArray &file)
    {
        const QString path = dir.file(QStringLiteral("file.mp3"));
        test::writeFile(path, file);
        return MP3TempoMetadata::read(path);
    }
    test::TempDir dir;
};

const QByteArray fmt(16, '\1');
const QByteArray audio(1000, '\0');

} // namespace

TEST_F(ContainerTempo, FindsTheTagChunkInWavAndAiff)
{
    const QByteArray tempo = tempoTag("120", "120.4");
    EXPECT_EQ(readBytes(riff({{"fmt ", fmt}, {"data", audio}, {"id3 ", tempo}})), 120.4);
    EXPECT_EQ(readBytes(riff({{"ID3 ", tempo}})), 120.4) << "case is not significant";
    EXPECT_EQ(readBytes(form({{"COMM", QByteArray(18, '\0')}, {"ID3 ", tempo}})), 120.4);
    EXPECT_EQ(readBytes(form({{"id3 ", tempo}}, "AIFC")), 120.4);
    EXPECT_FALSE(readBytes(riff({{"ID32", tempo}})));

    // Pairing passes through; the first chunk that yields a tempo wins.
    EXPECT_FALSE(readBytes(riff({{"id3 ", tempoTag("128", std::nullopt)}}), true));
    EXPECT_EQ(readBytes(riff({{"id3 ", tempoTag(std::nullopt, "98.25")}, {"id3 ", tempoTag("96", std::nullopt)}})), 96);
    EXPECT_EQ(readBytes(riff({{"id3 ", tempoTag("96", std::nullopt)}, {"id3 ", tempoTag("97", "97.5")}})), 96);

    // An odd chunk's pad byte is skipped; an oversized tag chunk is passed over.
    EXPECT_EQ(readBytes(riff({{"LIST", QByteArray(7, 'x')}, {"id3 ", tempo}})), 120.4);
    QByteArray huge = tempoTag("100", std::nullopt);
    huge += QByteArray(ContainerTempoReader::maximumTagSize + 1 - huge.size(), '\0');
    EXPECT_EQ(readBytes(riff({{"id3 ", huge}, {"id3 ", tempo}})), 120.4);
}

TEST_F(ContainerTempo, WalkStopsAtTheContainerEndAndTheChunkBudget)
{
    const QByteArray tempo = tempoTag("120", "120.4");
    EXPECT_EQ(readBytes(riff({{"data", audio}, {"id3 ", tempo}}, 1u << 30)), 120.4)
        << "a declared size beyond the file is cut at its end";
    QByteArray cut = riff({{"data", audio}, {"id3 ", tempo}});
    EXPECT_FALSE(readBytes(cut.chopped(2))) << "chunk running past the end";
    EXPECT_FALSE(readBytes(riff({{"data", audio}, {"id3 ", tempo}}, 4 + 1008))) << "tag after the declared end";
    EXPECT_FALSE(readBytes(riff({{"id3 ", tempo}}, std::nullopt, "RIFX")));
    EXPECT_FALSE(readBytes(riff({{"id3 ", tempo}}, std::nullopt, "RF64")));
    EXPECT_FALSE(readBytes(riff({{"id3 ", tempo}}, std::nullopt, "RIFF", "AVI ")));
    EXPECT_FALSE(readBytes(QByteArray("RIFF\4\0\0\0WAV")));

    QList<Chunk> many(ContainerTempoReader::maximumChunks - 1, Chunk("junk", QByteArray()));
    many.append(Chunk("id3 ", tempo));
    EXPECT_EQ(readBytes(riff(many)), 120.4);
    many.prepend(Chunk("junk", QByteArray()));
    EXPECT_FALSE(readBytes(riff(many))) << "the tag is the 65,537th chunk";

    CancellationSource source;
    source.cancel();
    CurrentCancellation::Scope scope(source.token());
    EXPECT_FALSE(readBytes(riff({{"id3 ", tempo}})));
}

TEST_F(ContainerTempo, UnreadableFilesGiveNoTempo)
{
    EXPECT_FALSE(ContainerTempoReader::read(dir.file(QStringLiteral("missing")), false));
    EXPECT_FALSE(ContainerTempoReader::read(dir.path(), false));
    EXPECT_FALSE(MP3TempoMetadata::read(dir.path()));
    // A FIFO would block a plain open and read.
    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    EXPECT_FALSE(ContainerTempoReader::read(fifo, false));
    EXPECT_FALSE(MP3TempoMetadata::read(fifo));
}

TEST_F(ContainerTempo, MP3TagIsReadOnlyAtTheStartOfTheFile)
{
    const QByteArray frameOfSilence = QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(413, '\0');
    EXPECT_EQ(readMP3(tempoTag("128", std::nullopt) + frameOfSilence), 128);
    EXPECT_EQ(readMP3(tempoTag("120", "120.4") + frameOfSilence), 120.4);
    EXPECT_EQ(readMP3(tempoTag("120", std::nullopt)), 120) << "a tag alone";
    EXPECT_FALSE(readMP3(frameOfSilence + tempoTag("128", std::nullopt)));
    EXPECT_FALSE(readMP3(tempoTag("128", std::nullopt).chopped(1)));
    EXPECT_FALSE(readMP3(QByteArray("ID3\3\0\0\x40\0\0\x01", 10) + QByteArray(64, '\0')))
        << "size over 1 MiB";
    EXPECT_FALSE(readMP3(QByteArray("ID3\3\0")));
}
