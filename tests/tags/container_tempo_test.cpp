#include "tags/container_tempo_reader.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/wav_tempo_reader.h"

#include "concurrency/cancellation.h"
#include "support/test_support.h"
#include "tag_fixtures.h"

#include <gtest/gtest.h>

#include <limits>
#include <sys/stat.h>

using namespace tampod;
using namespace tampod::test::tags;

namespace {

class TempoChunks : public ::testing::Test {
protected:
    QString put(const QByteArray &file)
    {
        test::writeFile(path, file);
        return path;
    }
    std::optional<double> id3(const QByteArray &file, bool pairedOnly = false)
    {
        return ContainerTempoReader::read(put(file), pairedOnly);
    }
    std::optional<double> wav(const QByteArray &file, bool infoOnly)
    {
        return WAVTempoReader::read(put(file), infoOnly);
    }
    test::TempDir dir;
    QString path = dir.file(QStringLiteral("file"));
};

const QByteArray audio(1001, '\0');
const QByteArray tempo = tempoTag("120", "120.4");

} // namespace

TEST_F(TempoChunks, TagChunkIsFoundInWavAndAiff)
{
    EXPECT_EQ(id3(riff({{"fmt ", QByteArray(16, 1)}, {"data", audio}, {"id3 ", tempo}})), 120.4);
    EXPECT_EQ(id3(form({{"COMM", QByteArray(18, 0)}, {"ID3 ", tempo}})), 120.4);
    EXPECT_EQ(id3(form({{"id3 ", tempo}}, "AIFC")), 120.4);
    EXPECT_FALSE(id3(riff({{"id3 ", tempoTag("128", std::nullopt)}}), true)) << "pairing passes through";
    EXPECT_EQ(id3(riff({{"id3 ", tempoTag(std::nullopt, "98.25")}, {"id3 ", tempoTag("96", std::nullopt)}})), 96)
        << "a chunk without tempo is passed over";
    QByteArray huge = tempoTag("100", std::nullopt);
    huge += QByteArray(ContainerTempoReader::maximumTagSize + 1 - huge.size(), '\0');
    EXPECT_EQ(id3(riff({{"LIST", QByteArray(7, 'x')}, {"id3 ", huge}, {"id3 ", tempo}})), 120.4)
        << "odd chunk with its pad byte, then a tag over 1 MiB, are skipped";

    EXPECT_EQ(id3(riff({{"data", audio}, {"id3 ", tempo}}, 1u << 30)), 120.4) << "walked up to the file's end";
    EXPECT_FALSE(id3(riff({{"data", audio}, {"id3 ", tempo}}).chopped(2))) << "chunk running past the end";
    EXPECT_FALSE(id3(riff({{"id3 ", tempo}}, std::nullopt, "RIFX")));
    EXPECT_FALSE(id3(riff({{"id3 ", tempo}}, std::nullopt, "RIFF", "AVI ")));

    QList<Chunk> many(ContainerTempoReader::maximumChunks - 1, Chunk("junk", QByteArray()));
    many.append(Chunk("id3 ", tempo));
    EXPECT_EQ(id3(riff(many)), 120.4);
    many.prepend(Chunk("junk", QByteArray()));
    EXPECT_FALSE(id3(riff(many))) << "the tag is the 65,537th chunk";
}

TEST_F(TempoChunks, FirstFullAcidChunkDecides)
{
    EXPECT_EQ(wav(riff({{"data", audio}, {"acid", acid(97.3f)}}), false), 97.30000305175781);
    for (float bad : {0.0f, -120.0f, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_FALSE(wav(riff({{"acid", acid(bad)}, {"acid", acid(120)}}), false)) << bad;
    EXPECT_EQ(wav(riff({{"acid", acid(90).left(20)}, {"acid", acid(120)}}), false), 120.0);
    EXPECT_FALSE(wav(riff({{"ACID", acid(120)}}), false));
    EXPECT_FALSE(wav(riff({{"acid", acid(120)}}), true)) << "acid is not read for INFO";
    EXPECT_FALSE(wav(riff({{"data", audio}, {"acid", acid(120)}}).chopped(2), false));
    EXPECT_FALSE(wav(riff({{"acid", acid(120)}}, std::nullopt, "RF64"), false));
}

TEST_F(TempoChunks, InfoTempoIsOneTrimmedNumber)
{
    EXPECT_EQ(wav(riff({{"LIST", info({{"INAM", "Take"}, {"IBPM", QByteArray(" 120\0", 5)}})}}), true), 120.0);
    EXPECT_EQ(wav(riff({{"LIST", info({{"IBPM", "120 BPM"}, {"IBPM", "96"}})}}), true), 96.0);
    EXPECT_FALSE(wav(riff({{"LIST", info({{"IBPM", QByteArray("120\0" "130", 7)}})}}), true));
    EXPECT_FALSE(wav(riff({{"LIST", info({{"ibpm", "120"}})}}), true));
    EXPECT_FALSE(wav(riff({{"LIST", info({{"IBPM", "120"}}, "adtl")}}), true));
    EXPECT_FALSE(wav(riff({{"LIST", info({{"IBPM", "120"}})}}), false)) << "INFO is not read for acid";
    EXPECT_EQ(wav(riff({{"LIST", info({{"IBPM", "0"}})}, {"data", audio}, {"LIST", info({{"IBPM", "96"}})}}), true), 96.0);

    QByteArray broken = info({{"IBPM", "100"}});
    broken[8] = 99; // the entry now runs past its list, which is abandoned alone
    EXPECT_EQ(wav(riff({{"LIST", broken}, {"LIST", info({{"IBPM", "96"}})}}), true), 96.0);

    // Top-level chunks and INFO entries share one budget of 65,536 visits.
    const auto budget = [](int junk) {
        QList<Chunk> chunks(junk, Chunk("junk", QByteArray()));
        chunks.append(Chunk("LIST", info({{"INAM", "x"}, {"IBPM", "96"}})));
        return riff(chunks);
    };
    EXPECT_EQ(wav(budget(WAVTempoReader::maximumVisits - 3), true), 96.0);
    EXPECT_FALSE(wav(budget(WAVTempoReader::maximumVisits - 2), true));
}

TEST_F(TempoChunks, MP3TagIsReadOnlyAtTheStart)
{
    const QByteArray silence = QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(413, '\0');
    const auto mp3 = [&](const QByteArray &file) { return MP3TempoMetadata::read(put(file)); };
    EXPECT_EQ(mp3(tempoTag("128", std::nullopt) + silence), 128);
    EXPECT_EQ(mp3(tempo + silence), 120.4);
    EXPECT_FALSE(mp3(silence + tempo));
    EXPECT_FALSE(mp3(tempo.chopped(1)));
    EXPECT_FALSE(mp3(QByteArray("ID3\3\0\0\x40\0\0\x01", 10) + QByteArray(64, '\0'))) << "size over 1 MiB";
}

TEST_F(TempoChunks, UnreadableFilesAndCancellationGiveNoTempo)
{
    // A FIFO would block a plain open and read forever.
    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &p : {fifo, dir.path(), dir.file(QStringLiteral("missing"))}) {
        EXPECT_FALSE(ContainerTempoReader::read(p, false));
        EXPECT_FALSE(WAVTempoReader::read(p, true));
        EXPECT_FALSE(MP3TempoMetadata::read(p));
    }
    const QByteArray file = riff({{"acid", acid(120)}, {"LIST", info({{"IBPM", "96"}})}, {"id3 ", tempo}});
    put(file);
    CancellationSource source;
    source.cancel();
    CurrentCancellation::Scope scope(source.token());
    EXPECT_FALSE(ContainerTempoReader::read(path, false));
    EXPECT_FALSE(WAVTempoReader::read(path, false));
    EXPECT_FALSE(WAVTempoReader::read(path, true));
    EXPECT_FALSE(ContainerTempoReader::readTag(tempo, false));
}
