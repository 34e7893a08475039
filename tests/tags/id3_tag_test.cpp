#include "tags/container_tempo_reader.h"

#include "fixtures.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::test::tags;
using ContainerTempoReader::readTag;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}

QByteArray utf16(const char *ascii, bool bigEndian)
{
    QByteArray out;
    for (const char *c = ascii; *c; ++c)
        out += bigEndian ? '\0' + QByteArray(1, *c) : *c + QByteArray(1, '\0');
    return out;
}

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
        {"2.4 frame size not synchsafe", tag(4, bytes({'T', 'B', 'P', 'M', 0, 0, 0, 0x84, 0, 0}) + text("128")), none},
        {"2.3 extended header with padding", tag(3, bytes({0, 0, 0, 6, 0, 0, 0, 0, 0, 8}) + tempo + QByteArray(8, '\0'), 0x40), 128},
        {"2.3 extended header with CRC", tag(3, bytes({0, 0, 0, 10, 0x80, 0, 0, 0, 0, 0, 1, 2, 3, 4}) + tempo, 0x40), 128},
        {"CRC flag on a 6-byte header", tag(3, bytes({0, 0, 0, 6, 0x80, 0, 0, 0, 0, 0}) + tempo, 0x40), none},
        {"padding too large", tag(3, bytes({0, 0, 0, 6, 0, 0, 0, 0, 1, 0}) + tempo, 0x40), none},
        {"padding not zero", tag(3, bytes({0, 0, 0, 6, 0, 0, 0, 0, 0, 8}) + tempo + QByteArray(7, '\0') + "x", 0x40), none},
        {"extended header in a tiny tag", tag(3, bytes({0, 0, 0, 6}), 0x40), none},
        {"size byte with its top bit", QByteArray("ID3\3\0\0\0\0\0\x80", 10) + QByteArray(128, '\0'), none},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readTag(c.tag, false), c.tempo) << c.name;
}

TEST(ID3Tag, TextEncodingsAreDecodedStrictly)
{
    const QByteArray bomLE = bytes({0xFF, 0xFE}), bomBE = bytes({0xFE, 0xFF}), nul16(2, '\0');
    const std::pair<QByteArray, std::optional<double>> standards[] = {
        {bytes({1}) + bomLE + utf16("128", false), 128},
        {bytes({1}) + bomBE + utf16("128", true), 128},
        {bytes({1}) + utf16("128", false), 128}, // no mark: little-endian
        {bytes({2}) + utf16("128", true), 128},
        {bytes({3}) + "128", 128},
        {bytes({1}) + bomLE + utf16("128", false) + "x", none},          // odd length
        {bytes({2}) + utf16("128", true) + bytes({0xDC, 0x00}), none},   // lone surrogate
        {bytes({3}) + "128" + bytes({0xC0, 0x80}), none},                // overlong UTF-8
        {bytes({4}) + "128", none},                                      // unknown encoding
    };
    for (const auto &[payload, tempo] : standards)
        EXPECT_EQ(readTag(tag(3, frame(3, "TBPM", payload)), false), tempo) << payload.toHex().toStdString();

    // UTF-16 writers put a byte-order mark on the description and again on the value, or one
    // mark for both strings.
    for (const QByteArray &payload : {bytes({1}) + bomLE + utf16("tamPOD_BPM", false) + nul16 + bomLE + utf16("120.4", false),
                                      bytes({1}) + bomBE + utf16("tamPOD_BPM", true) + nul16 + utf16("120.4", true)})
        EXPECT_EQ(readTag(tag(3, frame(3, "TBPM", text("120")) + frame(3, "TXXX", payload)), true), 120.4);
}
