// The ID3v2 tag parser and the chunk walks that find tags and tempos in WAV, AIFF and MP3 files.
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
using ContainerTempoReader::readTag;

namespace {

QByteArray utf16(const char *ascii, bool bigEndian)
{
    QByteArray out;
    for (const char *c = ascii; *c; ++c)
        out += bigEndian ? '\0' + QByteArray(1, *c) : *c + QByteArray(1, '\0');
    return out;
}

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

TEST(ID3Tag, PairingRuleDecidesBetweenStandardAndPreciseValues)
{
    const auto pair = [](const QByteArray &standard, const QByteArray &description, const QByteArray &precise, int version = 3) {
        const bool v2 = version == 2;
        return tag(version, frame(version, v2 ? "TBP" : "TBPM", text(standard)) + frame(version, v2 ? "TXX" : "TXXX", userText(description, precise)));
    };
    const struct {
        QByteArray tag;
        std::optional<double> paired, unpaired;
    } cases[] = {
        {tempoTag("120", "120.4"), 120.4, 120.4},        {tempoTag("121", "120.4"), 121, 121},       // agreeing, disagreeing
        {tempoTag("120.5", "120.5"), 120.5, 120.5},      {tempoTag(none, "98.25"), none, none},      // standard not whole; precise alone
        {tempoTag("128", none), none, 128},              {tempoTag("0", "0.4"), 0.4, 0.4},           // standard alone; zero with precise
        {tempoTag("0", none), none, none},               {tempoTag("120", " 120.4"), none, 120},     // precise with a blank: unusable
        {tempoTag(QByteArray(" 128 \0", 6), none), none, 128},                                     // blanks and terminator trimmed
        {tempoTag(QByteArray("120\0" "130", 7), none), none, none},                                // two values
        {tempoTag("128 BPM", none), none, none},         {pair("120", "tampod_bpm", "120.4"), none, 120}, // case-sensitive description
        {pair("120", "tamPOD_BPM", "120.25", 2), 120.25, 120.25}, {pair("120", "tamPOD_BPM", "120.25", 4), 120.25, 120.25},
        // A later precise frame replaces with absence; an invalid later standard keeps the earlier.
        {tag(3, frame(3, "TBPM", text("120")) + frame(3, "TXXX", userText("tamPOD_BPM", "120.4")) + frame(3, "TXXX", userText("tamPOD_BPM", "x"))),
         none, 120},
        {tag(3, frame(3, "TBPM", text("120")) + frame(3, "TBPM", text("fast"))), none, 120},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readTag(c.tag, true), c.paired) << c.tag.toHex().toStdString();
        EXPECT_EQ(readTag(c.tag, false), c.unpaired) << c.tag.toHex().toStdString();
    }
}

TEST(ID3Tag, StructureTheParserCannotReadDiscardsTheWholeTag)
{
    const QByteArray tempo = frame(3, "TBPM", text("128"));
    const int room = ContainerTempoReader::maximumTagSize - tempo.size();
    QByteArray stray = tempo + QByteArray(64, '\0');
    stray[tempo.size() + 40] = 1;
    const struct {
        const char *name;
        QByteArray tag;
        std::optional<double> tempo;
    } cases[] = {
        {"plain", tag(3, tempo), 128},
        {"unsynchronisation", tag(3, tempo, 0x80), none},
        {"2.4 extended header", tag(4, frame(4, "TBPM", text("128")), 0x40), none},
        {"footer", tag(4, frame(4, "TBPM", text("128")), 0x10), none},
        {"version 5", tag(5, tempo), none},
        {"shorter than its size", tag(3, tempo).chopped(1), none},
        {"exactly 1 MiB", tag(3, tempo + QByteArray(room, '\0')), 128},
        {"one byte over 1 MiB", tag(3, tempo + QByteArray(room + 1, '\0')), none},
        {"flagged frame passed over", tag(3, frame(3, "TBPM", text("99"), 0x0080) + tempo), 128},
        {"non-zero byte in the padding", tag(3, stray), none},
        {"leftover shorter than a frame header", tag(3, tempo + "TBP"), none},
        {"empty frame", tag(3, frame(3, "TBPM", QByteArray()) + tempo), none},
        // 130 is 00 00 01 02 synchsafe, which plain reading takes as 258.
        {"synchsafe 2.4 frame size", tag(4, frame(4, "TBPM", text("128" + QByteArray(126, ' ')))), 128},
        {"2.4 frame size not synchsafe", tag(4, "TBPM" + hex("00000084 0000") + text("128")), none},
        {"2.3 extended header with padding", tag(3, hex("00000006 0000 00000008") + tempo + QByteArray(8, '\0'), 0x40), 128},
        {"2.3 extended header with CRC", tag(3, hex("0000000a 8000 00000000 01020304") + tempo, 0x40), 128},
        {"CRC flag on a 6-byte header", tag(3, hex("00000006 8000 00000000") + tempo, 0x40), none},
        {"padding too large", tag(3, hex("00000006 0000 00000100") + tempo, 0x40), none},
        {"padding not zero", tag(3, hex("00000006 0000 00000008") + tempo + QByteArray(7, '\0') + "x", 0x40), none},
        {"extended header in a tiny tag", tag(3, hex("00000006"), 0x40), none},
        {"size byte with its top bit", QByteArray("ID3\3\0\0\0\0\0\x80", 10) + QByteArray(128, '\0'), none},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readTag(c.tag, false), c.tempo) << c.name;
}

TEST(ID3Tag, TextEncodingsAreDecodedStrictly)
{
    const QByteArray bomLE = hex("fffe"), bomBE = hex("feff"), nul16(2, '\0');
    const std::pair<QByteArray, std::optional<double>> standards[] = {
        {hex("01") + bomLE + utf16("128", false), 128}, {hex("01") + bomBE + utf16("128", true), 128},
        {hex("01") + utf16("128", false), 128}, // no mark: little-endian
        {hex("02") + utf16("128", true), 128},  {"\x03" "128", 128},
        {hex("01") + bomLE + utf16("128", false) + "x", none},    // odd length
        {hex("02") + utf16("128", true) + hex("dc00"), none},     // lone surrogate
        {"\x03" "128" + hex("c080"), none}, {"\x04" "128", none}, // overlong UTF-8, unknown encoding
    };
    for (const auto &[payload, tempo] : standards)
        EXPECT_EQ(readTag(tag(3, frame(3, "TBPM", payload)), false), tempo) << payload.toHex().toStdString();

    // UTF-16 writers put a byte-order mark on the description and again on the value, or one
    // mark for both strings.
    for (const QByteArray &payload : {hex("01") + bomLE + utf16("tamPOD_BPM", false) + nul16 + bomLE + utf16("120.4", false),
                                      hex("01") + bomBE + utf16("tamPOD_BPM", true) + nul16 + utf16("120.4", true)})
        EXPECT_EQ(readTag(tag(3, frame(3, "TBPM", text("120")) + frame(3, "TXXX", payload)), true), 120.4);
}

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
        // At most 256 bytes of text.
        {riff({{"LIST", info({{"IBPM", QByteArray(253, ' ') + "120"}, {"IBPM", "96"}})}}), 120},
        {riff({{"LIST", info({{"IBPM", QByteArray(254, ' ') + "120"}, {"IBPM", "96"}})}}), 96},
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

TEST_F(TempoChunks, UnreadableFilesGiveNoTempoAndCancellationIsThrown)
{
    // A FIFO would block a plain open and read forever.
    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &p : {fifo, dir.path(), dir.file(QStringLiteral("missing"))})
        EXPECT_FALSE(ContainerTempoReader::read(p, false) || WAVTempoReader::read(p, true) || MP3TempoMetadata::read(p));
    put(riff({{"acid", acid(120)}, {"LIST", info({{"IBPM", "96"}})}, {"id3 ", tempo}}));
    const CurrentCancellation::Scope scope(test::cancelledToken());
    EXPECT_THROW(ContainerTempoReader::read(path, false), Cancelled);
    EXPECT_THROW(WAVTempoReader::read(path, false), Cancelled);
    EXPECT_THROW(WAVTempoReader::read(path, true), Cancelled);
    EXPECT_THROW(ContainerTempoReader::readTag(tempo, false), Cancelled);
}
