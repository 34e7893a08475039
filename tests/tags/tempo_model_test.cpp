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
