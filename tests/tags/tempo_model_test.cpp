#include "tags/sd2_document_tempo.h"
#include "tags/tempo_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tampod;

TEST(TempoModel, WholeTextRoundsUpOnlyAboveOneHalfAndReadsBack)
{
    const std::pair<double, const char *> cases[] = {
        {119.5, "119"}, {119.500001, "120"}, {120.51, "121"}, {1000, "1000"},
        {0.4, "0"},     {-0.25, "0"},        {1e20, "100000000000000000000"},
    };
    for (const auto &[bpm, expected] : cases)
        EXPECT_EQ(TempoModel::wholeText(bpm), QString::fromLatin1(expected)) << bpm;

    // The writers rely on the pairing test holding for every tempo they write.
    for (double bpm : {0.4, 97.3, 120.5, 9.2e18, 1e300, std::numeric_limits<double>::max()}) {
        const auto whole = TempoModel::parse(TempoModel::wholeText(bpm));
        ASSERT_TRUE(whole) << bpm;
        EXPECT_EQ(*whole, std::floor(*whole));
        EXPECT_TRUE(TempoModel::agrees(bpm, *whole)) << bpm;
        EXPECT_EQ(TempoModel::parse(TempoModel::preciseText(bpm)), bpm);
    }
    EXPECT_FALSE(TempoModel::agrees(120.5, 121));
}

TEST(SD2DocumentTempo, RecordHoldsItsFixedBytesAndTheTempoWord)
{
    QByteArray expected(420, '\0');
    const std::pair<int, char> fixed[] = {{1, 0x01},   {10, 0x01},  {11, 0x20},  {267, 0x08}, {273, 0x1E}, {275, 0x23},
                                          {293, 0x04}, {295, 0x04}, {302, '\xFF'}, {307, 0x01}, {310, 0x01}, {311, 0x47},
                                          {313, 0x04}, {314, 0x06}, {351, 0x01}, {354, 0x03}};
    for (const auto &[offset, value] : fixed)
        expected[offset] = value;
    expected.replace(315, 6, "%Scale").replace(355, 3, "sec").replace(288, 4, QByteArray("\x00\x02\x00\x00", 4));
    EXPECT_EQ(SD2DocumentTempo::record(120), expected);
    EXPECT_EQ(SD2DocumentTempo::read(expected), 120.0);
    // A tempo off the 16.16 grid reads back as the grid value it was rounded to.
    EXPECT_EQ(SD2DocumentTempo::read(*SD2DocumentTempo::record(98.76)), 98.759765625);

    // Wrong length, version or lead byte, a zero word, a word with the top bit set.
    for (const auto &[offset, bytes] : {std::pair(1, QByteArray("\x02")), std::pair(0, QByteArray("\x01")),
                                        std::pair(288, QByteArray(4, '\0')), std::pair(288, QByteArray("\x80\x00\x00\x00", 4))}) {
        QByteArray bad = expected;
        EXPECT_FALSE(SD2DocumentTempo::read(bad.replace(offset, bytes.size(), bytes))) << offset;
    }
    EXPECT_FALSE(SD2DocumentTempo::read(expected.left(419)));
    EXPECT_FALSE(SD2DocumentTempo::read(expected + '\0'));
    EXPECT_EQ(SD2DocumentTempo::read(QByteArray(expected).replace(288, 4, QByteArray("\x00\x00\x00\x01", 4))), 60.0 / 65536.0);
}

TEST(SD2DocumentTempo, WordLimitsAndTheTempoInForce)
{
    for (double bad : {0.0, -120.0, double(INFINITY), -double(INFINITY), double(NAN), 0.0004, 0.00045776367187, 2147483648.0 / 65536.0 * 60.0, 1e300}) {
        EXPECT_FALSE(SD2DocumentTempo::fixedWord(bad)) << bad;
        EXPECT_FALSE(SD2DocumentTempo::record(bad)) << bad;
    }
    EXPECT_EQ(SD2DocumentTempo::fixedWord(120), 0x00020000u);
    // The smallest tempo with a word: half a step rounds away from zero to 1. The top bit is
    // never set.
    EXPECT_EQ(SD2DocumentTempo::fixedWord(0.000457763671875), 1u);
    EXPECT_EQ(SD2DocumentTempo::fixedWord(2147483647.0 / 65536.0 * 60.0), 2147483647u);

    const auto none = std::nullopt;
    const std::pair<StoredTempo, std::optional<double>> cases[] = {
        {{98.759765625, 98.76}, 98.76}, {{120, 120.004}, 120}, {{none, none}, none}, {{120, none}, 120},
        {{none, 98.76}, 98.76},
        {{3e6, 4e6}, 4e6},  // neither has a word: the words agree, so the precise tempo stays
        {{120, 0.0001}, 120}, // only the precise tempo lacks a word: the native tempo holds
    };
    for (const auto &[values, tempo] : cases)
        EXPECT_EQ(SD2DocumentTempo::inForce(values), tempo);
}
