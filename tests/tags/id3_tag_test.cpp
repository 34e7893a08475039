#include "tags/container_tempo_reader.h"

#include "tag_fixtures.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::test::tags;
using ContainerTempoReader::readTag;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

QByteArray utf16(const char *ascii, bool bigEndian)
{
    QByteArray out;
    for (const char *c = ascii; *c; ++c)
        out += bigEndian ? QByteArray(1, '\0') + *c : QByteArray(1, *c) + '\0';
    return out;
}

} // namespace

TEST(ID3Tag, PairingRuleDecidesBetweenStandardAndPreciseValues)
{
    struct Case {
        const char *name;
        QByteArray tag;
        std::optional<double> paired, unpaired;
    };
    const auto none = std::nullopt;
    const Case cases[] = {
        {"agreeing", tempoTag("120", "120.4"), 120.4, 120.4},
        {"disagreeing", tempoTag("121", "120.4"), 121, 121},
        {"standard not whole", tempoTag("120.5", "120.5"), 120.5, 120.5},
        {"precise alone", tempoTag(none, "98.25"), none, none},
        {"standard alone", tempoTag("128", none), none, 128},
        {"zero with precise", tempoTag("0", "0.4"), 0.4, 0.4},
        {"zero alone", tempoTag("0", none), none, none},
        {"blanks and terminator", tempoTag(QByteArray(" 128 \0", 6), none), none, 128},
        {"two values", tempoTag(QByteArray("120\0" "130", 7), none), none, none},
        {"unit after number", tempoTag("128 BPM", none), none, none},
        {"decimal comma", tempoTag("128,5", none), none, none},
        {"precise with leading space", tempoTag("120", " 120.4"), none, 120},
        {"precise in exponent form", tempoTag("120", "1.2e2"), 120, 120},
        {"later precise frame replaces with absence",
         tag(3, frame(3, "TBPM", text("120")) + frame(3, "TXXX", userText("tamPOD_BPM", "120.4"))
                    + frame(3, "TXXX", userText("tamPOD_BPM", "x"))),
         none, 120},
        {"invalid later standard keeps the earlier",
         tag(3, frame(3, "TBPM", text("120")) + frame(3, "TBPM", text("fast"))), none, 120},
        {"description is case-sensitive",
         tag(3, frame(3, "TBPM", text("120")) + frame(3, "TXXX", userText("tampod_bpm", "120.4"))), none, 120},
        {"version 2.2 frames",
         tag(2, frame(2, "TBP", text("120")) + frame(2, "TXX", userText("tamPOD_BPM", "120.25"))), 120.25, 120.25},
        {"version 2.4 frames",
         tag(4, frame(4, "TBPM", text("120")) + frame(4, "TXXX", userText("tamPOD_BPM", "120.25"))), 120.25, 120.25},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(readTag(c.tag, true), c.paired) << c.name;
        EXPECT_EQ(readTag(c.tag, false), c.unpaired) << c.name;
    }
}

TEST(ID3Tag, StructureTheParserCannotReadDiscardsTheWholeTag)
{
    const QByteArray tempo = frame(3, "TBPM", text("128"));
    EXPECT_EQ(readTag(tag(3, tempo), false), 128);
    EXPECT_FALSE(readTag(tag(3, tempo, 0x80), false)) << "unsynchronisation";
    EXPECT_FALSE(readTag(tag(4, frame(4, "TBPM", text("128")), 0x40), false)) << "2.4 extended header";
    EXPECT_FALSE(readTag(tag(4, frame(4, "TBPM", text("128")), 0x10), false)) << "footer";
    EXPECT_FALSE(readTag(tag(5, tempo), false));
    EXPECT_FALSE(readTag(tag(3, tempo).chopped(1), false)) << "shorter than its size";

    // The 1 MiB cap: a tag of exactly 1,048,576 bytes is read, one byte more is not.
    const int room = ContainerTempoReader::maximumTagSize - tempo.size();
    EXPECT_EQ(readTag(tag(3, tempo + QByteArray(room, '\0')), false), 128);
    EXPECT_FALSE(readTag(tag(3, tempo + QByteArray(room + 1, '\0')), false));

    // Flagged frames (compressed, encrypted, ...) are passed over; a later plain one counts.
    EXPECT_EQ(readTag(tag(3, frame(3, "TBPM", text("99"), 0x0080) + tempo), false), 128);
    QByteArray stray = tempo + QByteArray(64, '\0');
    stray[tempo.size() + 40] = 1;
    EXPECT_FALSE(readTag(tag(3, stray), false)) << "non-zero byte in the padding";
    EXPECT_FALSE(readTag(tag(3, tempo + "TBP"), false)) << "leftover shorter than a frame header";
    EXPECT_FALSE(readTag(tag(3, frame(3, "TBPM", QByteArray()) + tempo), false)) << "empty frame";

    // Version 2.4 sizes are synchsafe: 130 is 00 00 01 02, which plain reading takes as 258.
    EXPECT_EQ(readTag(tag(4, frame(4, "TBPM", text("128" + QByteArray(126, ' ')))), false), 128);

    // Version 2.3 extended header: 6 bytes, or 10 with a CRC; declared padding at the end.
    EXPECT_EQ(readTag(tag(3, bytes({0, 0, 0, 6, 0, 0, 0, 0, 0, 8}) + tempo + QByteArray(8, '\0'), 0x40), false), 128);
    EXPECT_EQ(readTag(tag(3, bytes({0, 0, 0, 10, 0x80, 0, 0, 0, 0, 0, 1, 2, 3, 4}) + tempo, 0x40), false), 128);
    EXPECT_FALSE(readTag(tag(3, bytes({0, 0, 0, 6, 0x80, 0, 0, 0, 0, 0}) + tempo, 0x40), false));
    EXPECT_FALSE(readTag(tag(3, bytes({0, 0, 0, 6, 0, 0, 0, 0, 1, 0}) + tempo, 0x40), false)) << "padding too large";
    EXPECT_FALSE(readTag(tag(3, bytes({0, 0, 0, 6, 0, 0, 0, 0, 0, 8}) + tempo + QByteArray(7, '\0') + "x", 0x40), false));
}

TEST(ID3Tag, TextEncodingsAreDecodedStrictly)
{
    const auto standard = [](const QByteArray &payload) { return readTag(tag(3, frame(3, "TBPM", payload)), false); };
    const QByteArray bomLE = bytes({0xFF, 0xFE}), bomBE = bytes({0xFE, 0xFF});
    EXPECT_EQ(standard(bytes({1}) + bomLE + utf16("128", false)), 128);
    EXPECT_EQ(standard(bytes({1}) + bomBE + utf16("128", true)), 128);
    EXPECT_EQ(standard(bytes({1}) + utf16("128", false)), 128) << "no mark: little-endian";
    EXPECT_EQ(standard(bytes({2}) + utf16("128", true)), 128);
    EXPECT_EQ(standard(bytes({3}) + "128"), 128);
    EXPECT_FALSE(standard(bytes({1}) + bomLE + utf16("128", false) + "x")) << "odd length";
    EXPECT_FALSE(standard(bytes({2}) + utf16("128", true) + bytes({0xDC, 0x00}))) << "lone surrogate";
    EXPECT_FALSE(standard(bytes({3}) + "128" + bytes({0xC0, 0x80}))) << "overlong UTF-8";
    EXPECT_FALSE(standard(bytes({4}) + "128")) << "unknown encoding";

    // UTF-16 writers put a byte-order mark on the description and again on the value.
    const auto precise = [](const QByteArray &payload) {
        return readTag(tag(3, frame(3, "TBPM", text("120")) + frame(3, "TXXX", payload)), true);
    };
    const QByteArray nul16(2, '\0');
    EXPECT_EQ(precise(bytes({1}) + bomLE + utf16("tamPOD_BPM", false) + nul16 + bomLE + utf16("120.4", false)), 120.4);
    EXPECT_EQ(precise(bytes({1}) + bomBE + utf16("tamPOD_BPM", true) + nul16 + utf16("120.4", true)), 120.4)
        << "one mark for both strings";
}
