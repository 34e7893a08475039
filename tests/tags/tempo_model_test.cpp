#include "tags/tempo_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tampod;

TEST(TempoModel, WholeTextRoundsUpOnlyAboveOneHalf)
{
    const std::pair<double, const char *> cases[] = {
        {119.5, "119"},   {119.500001, "120"}, {120.5, "120"}, {120.51, "121"},
        {120, "120"},     {1000, "1000"},      {0.4, "0"},     {0.6, "1"},
        {-0.25, "0"},     {1e20, "100000000000000000000"},
    };
    for (const auto &[bpm, expected] : cases)
        EXPECT_EQ(TempoModel::wholeText(bpm), QString::fromLatin1(expected)) << bpm;
}

TEST(TempoModel, EveryWholeTextReadsBackAsAWholeNumber)
{
    // The writers rely on this: the pairing test must hold for the precise text they write.
    for (double bpm : {0.4, 97.3, 120.5, 123.457, 9.2e18, 1e300, std::numeric_limits<double>::max()}) {
        const auto whole = TempoModel::parse(TempoModel::wholeText(bpm));
        ASSERT_TRUE(whole) << bpm;
        EXPECT_EQ(*whole, std::floor(*whole));
        EXPECT_TRUE(TempoModel::agrees(bpm, *whole)) << bpm;
        EXPECT_EQ(TempoModel::parse(TempoModel::preciseText(bpm)), bpm);
    }
    EXPECT_TRUE(TempoModel::agrees(120.5, 120));
    EXPECT_FALSE(TempoModel::agrees(120.5, 121));
    EXPECT_TRUE(TempoModel::agrees(0.4, 0));
}

TEST(TempoModel, NumberRuleTakesOnlyOneWholeNumber)
{
    for (const char *text : {" 120", "120 ", "\t120", "\n120", "120bpm", "120 BPM", "120,5", "", "BPM"})
        EXPECT_FALSE(TempoModel::parse(text)) << '"' << text << '"';
    EXPECT_FALSE(TempoModel::parse(std::string_view("\0" "120", 4)));
    EXPECT_EQ(TempoModel::parse("1.2e2"), 120.0);
    EXPECT_EQ(TempoModel::parse("-3"), -3.0);
    const auto infinity = TempoModel::parse("inf");
    ASSERT_TRUE(infinity);
    EXPECT_FALSE(TempoModel::isUsable(*infinity));
    EXPECT_FALSE(TempoModel::isUsable(std::nan("")));
    EXPECT_FALSE(TempoModel::isUsable(0));
    EXPECT_TRUE(TempoModel::isUsable(5e-324));
}
