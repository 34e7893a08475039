#include "tags/sd2_document_tempo.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tampod;

TEST(SD2DocumentTempo, RecordRoundTripsTheTempoWord)
{
    const auto record = SD2DocumentTempo::record(120);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->size(), 420);
    EXPECT_EQ(record->mid(288, 4), QByteArray("\x00\x02\x00\x00", 4));
    EXPECT_EQ(record->mid(0, 2), QByteArray("\x00\x01", 2));
    EXPECT_EQ(record->mid(314, 7), QByteArray("\x06%Scale"));
    EXPECT_EQ(record->mid(354, 4), QByteArray("\x03sec"));
    EXPECT_EQ(SD2DocumentTempo::read(*record), 120.0);

    // A tempo off the 16.16 grid reads back as the grid value it was rounded to.
    const auto odd = SD2DocumentTempo::record(98.76);
    ASSERT_TRUE(odd);
    EXPECT_EQ(SD2DocumentTempo::read(*odd), 98.759765625);
}

TEST(SD2DocumentTempo, WordLimits)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {0.0, -120.0, inf, -inf, nan, 0.0004})
        EXPECT_FALSE(SD2DocumentTempo::record(bad)) << bad;

    EXPECT_EQ(SD2DocumentTempo::fixedWord(120), 0x00020000u);
    // The smallest tempo with a word: half a step rounds away from zero to 1.
    EXPECT_EQ(SD2DocumentTempo::fixedWord(0.000457763671875), 1u);
    EXPECT_FALSE(SD2DocumentTempo::fixedWord(0.00045776367187));
    // The top bit is never set.
    const double largest = 2147483647.0 / 65536.0 * 60.0;
    EXPECT_EQ(SD2DocumentTempo::fixedWord(largest), 2147483647u);
    EXPECT_FALSE(SD2DocumentTempo::fixedWord(2147483648.0 / 65536.0 * 60.0));
    EXPECT_FALSE(SD2DocumentTempo::fixedWord(1e300));
}

TEST(SD2DocumentTempo, ReadRefusesMalformedRecords)
{
    const QByteArray good = *SD2DocumentTempo::record(120);
    EXPECT_FALSE(SD2DocumentTempo::read(good.left(419)));
    EXPECT_FALSE(SD2DocumentTempo::read(good + '\0'));

    // Wrong version, wrong lead byte, a zero word, a word with the top bit set.
    for (const auto &[offset, bytes] : {std::pair(1, QByteArray("\x02")), std::pair(0, QByteArray("\x01")),
                                        std::pair(288, QByteArray(4, '\0')),
                                        std::pair(288, QByteArray("\x80\x00\x00\x00", 4))}) {
        QByteArray bad = good;
        EXPECT_FALSE(SD2DocumentTempo::read(bad.replace(offset, bytes.size(), bytes))) << offset;
    }
    QByteArray smallest = good;
    smallest.replace(288, 4, QByteArray("\x00\x00\x00\x01", 4));
    EXPECT_EQ(SD2DocumentTempo::read(smallest), 60.0 / 65536.0);
}

TEST(SD2DocumentTempo, EffectiveTrustsThePreciseTempoOnlyOnTheSameWord)
{
    using SD2DocumentTempo::effective;
    EXPECT_EQ(effective(98.759765625, 98.76), 98.76);
    EXPECT_EQ(effective(120, 120.004), 120.0);
    EXPECT_EQ(effective(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(effective(120, std::nullopt), 120.0);
    EXPECT_EQ(effective(std::nullopt, 98.76), 98.76);
    // Neither has a word: the words agree, so the precise tempo stays.
    EXPECT_EQ(effective(3e6, 4e6), 4e6);
    // Only the precise tempo lacks a word: they differ, the native tempo holds.
    EXPECT_EQ(effective(120, 0.0001), 120.0);
}
