#include "tags/container_tempo_reader.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/wav_tempo_reader.h"

#include "concurrency/cancellation.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <limits>
#include <sys/stat.h>

using namespace tampod;
using namespace tampod::test::tags;

namespace {

class TempoChunks : public ::testing::Test {
protected:
    QString put(const QByteArray &file) { return test::writeFile(path, file), path; }
    std::optional<double> id3(const QByteArray &file, bool paired = false) { return ContainerTempoReader::read(put(file), paired); }
    std::optional<double> wav(const QByteArray &file, bool infoOnly) { return WAVTempoReader::read(put(file), infoOnly); }

    test::TempDir dir;
    QString path = dir.file(QStringLiteral("file"));
};

const QByteArray audio(1001, '\0');
const QByteArray tempo = tempoTag("120", "120.4");
const auto none = std::nullopt;

} // namespace

TEST_F(TempoChunks, TagChunkIsFoundInWavAndAiff)
{
    QByteArray huge = tempoTag("100", none);
    huge += QByteArray(ContainerTempoReader::maximumTagSize + 1 - huge.size(), '\0');
    QList<Chunk> many(ContainerTempoReader::maximumChunks - 1, Chunk("junk", QByteArray()));
    many.append(Chunk("id3 ", tempo));
    const std::pair<QByteArray, std::optional<double>> cases[] = {
        {riff({{"fmt ", QByteArray(16, 1)}, {"data", audio}, {"id3 ", tempo}}), 120.4},
        {form({{"COMM", QByteArray(18, 0)}, {"ID3 ", tempo}}), 120.4}, {form({{"id3 ", tempo}}, "AIFC"), 120.4},
        {riff({{"id3 ", tempoTag(none, "98.25")}, {"id3 ", tempoTag("96", none)}}), 96}, // a chunk without tempo is passed over
        {riff({{"LIST", QByteArray(7, 'x')}, {"id3 ", huge}, {"id3 ", tempo}}), 120.4},  // odd chunk, pad byte; a tag over 1 MiB
        {riff({{"data", audio}, {"id3 ", tempo}}, 1u << 30), 120.4},                     // declared size past the end
        {riff({{"data", audio}, {"id3 ", tempo}}).chopped(2), none},                     // chunk running past the end
        {riff({{"id3 ", tempo}}, none, "RIFX"), none}, {riff({{"id3 ", tempo}}, none, "RIFF", "AVI "), none},
        {riff(many), 120.4}, {riff(QList<Chunk>{Chunk("junk", {})} + many), none},      // the 65,536th and 65,537th chunk
    };
    for (const auto &[file, expected] : cases)
        EXPECT_EQ(id3(file), expected) << file.left(40).toHex().toStdString();
    EXPECT_FALSE(id3(riff({{"id3 ", tempoTag("128", none)}}), true)) << "pairing passes through";
}

TEST_F(TempoChunks, FirstFullAcidChunkAndFirstUsableInfoTempo)
{
    EXPECT_EQ(wav(riff({{"data", audio}, {"acid", acid(97.3f)}}), false), 97.30000305175781);
    EXPECT_EQ(wav(riff({{"acid", acid(90).left(20)}, {"acid", acid(120)}}), false), 120.0);
    for (const QByteArray &file : {riff({{"acid", acid(0)}, {"acid", acid(120)}}), riff({{"acid", acid(-120)}, {"acid", acid(120)}}),
                                   riff({{"acid", acid(std::numeric_limits<float>::quiet_NaN())}, {"acid", acid(120)}}),
                                   riff({{"ACID", acid(120)}}), riff({{"data", audio}, {"acid", acid(120)}}).chopped(2),
                                   riff({{"acid", acid(120)}}, none, "RF64"), riff({{"LIST", info({{"IBPM", "120"}})}})})
        EXPECT_FALSE(wav(file, false)) << file.toHex().toStdString();

    QByteArray broken = info({{"IBPM", "100"}});
    broken[8] = 99; // the entry now runs past its list, which is abandoned alone
    const std::pair<QByteArray, std::optional<double>> cases[] = {
        {riff({{"LIST", info({{"INAM", "Take"}, {"IBPM", QByteArray(" 120\0", 5)}})}}), 120},
        {riff({{"LIST", info({{"IBPM", "120 BPM"}, {"IBPM", "96"}})}}), 96}, {riff({{"LIST", info({{"ibpm", "120"}})}}), none},
        {riff({{"LIST", info({{"IBPM", QByteArray("120\0" "130", 7)}})}}), none}, {riff({{"acid", acid(120)}}), none},
        {riff({{"LIST", info({{"IBPM", "120"}}, "adtl")}}), none}, {riff({{"LIST", broken}, {"LIST", info({{"IBPM", "96"}})}}), 96},
        {riff({{"LIST", info({{"IBPM", "0"}})}, {"data", audio}, {"LIST", info({{"IBPM", "96"}})}}), 96},
    };
    for (const auto &[file, expected] : cases)
        EXPECT_EQ(wav(file, true), expected) << file.toHex().toStdString();

    // Top-level chunks and INFO entries share one budget of 65,536 visits.
    const auto budget = [](int junk) {
        return riff(QList<Chunk>(junk, Chunk("junk", {})) + QList<Chunk>{{"LIST", info({{"INAM", "x"}, {"IBPM", "96"}})}});
    };
    EXPECT_EQ(wav(budget(WAVTempoReader::maximumVisits - 3), true), 96.0);
    EXPECT_FALSE(wav(budget(WAVTempoReader::maximumVisits - 2), true));
}

TEST_F(TempoChunks, MP3TagIsReadOnlyAtTheStart)
{
    const QByteArray silence = QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(413, '\0');
    EXPECT_EQ(MP3TempoMetadata::read(put(tempoTag("128", none) + silence)), 128);
    EXPECT_EQ(MP3TempoMetadata::read(put(tempo + silence)), 120.4);
    for (const QByteArray &file : {silence + tempo, tempo.chopped(1), QByteArray("ID3\3\0\0\x40\0\0\x01", 10) + QByteArray(64, '\0')})
        EXPECT_FALSE(MP3TempoMetadata::read(put(file))); // the last declares more than 1 MiB
}

TEST_F(TempoChunks, UnreadableFilesAndCancellationGiveNoTempo)
{
    // A FIFO would block a plain open and read forever.
    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &p : {fifo, dir.path(), dir.file(QStringLiteral("missing"))})
        EXPECT_FALSE(ContainerTempoReader::read(p, false) || WAVTempoReader::read(p, true) || MP3TempoMetadata::read(p));
    put(riff({{"acid", acid(120)}, {"LIST", info({{"IBPM", "96"}})}, {"id3 ", tempo}}));
    CancellationSource source;
    source.cancel();
    CurrentCancellation::Scope scope(source.token());
    EXPECT_FALSE(ContainerTempoReader::read(path, false) || WAVTempoReader::read(path, false) || WAVTempoReader::read(path, true)
                 || ContainerTempoReader::readTag(tempo, false));
}
