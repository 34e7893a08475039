#include "core/strict_json.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::StrictJson;

TEST(StrictJson, KeepsSixtyFourBitIntegersExactly)
{
    const auto json = parse(R"({"big":9223372036854775809,"neg":-9223372036854775808,"small":7})");
    EXPECT_EQ(requireUInt64(json, "big"), 9223372036854775809ULL);
    EXPECT_EQ(requireInt64(json, "neg"), INT64_MIN);
    EXPECT_EQ(requireInt64(json, "small"), 7);
    EXPECT_THROW(requireInt64(json, "big"), JsonError);
    EXPECT_THROW(requireUInt64(json, "neg"), JsonError);
    EXPECT_EQ(dump(json), R"({"big":9223372036854775809,"neg":-9223372036854775808,"small":7})");
}

TEST(StrictJson, RefusesWrongTypesAndMissingKeys)
{
    const auto json = parse(R"({"fraction":1.5,"whole":2,"text":"x","flag":true,"nothing":null,"extra":[1]})");
    EXPECT_THROW(requireInt64(json, "fraction"), JsonError);
    EXPECT_THROW(requireUInt64(json, "fraction"), JsonError);
    EXPECT_THROW(requireInt64(json, "text"), JsonError);
    EXPECT_THROW(requireString(json, "whole"), JsonError);
    EXPECT_THROW(requireBool(json, "whole"), JsonError);
    EXPECT_THROW(requireString(json, "absent"), JsonError);
    EXPECT_THROW(requireString(json, "nothing"), JsonError);
    EXPECT_EQ(requireDouble(json, "whole"), 2.0);
    EXPECT_EQ(optionalString(json, "nothing"), std::nullopt);
    EXPECT_EQ(optionalInt64(json, "absent"), std::nullopt);
    EXPECT_THROW(optionalInt64(json, "fraction"), JsonError);
    EXPECT_THROW(requireInt64(parse("[1]"), "a"), JsonError);
}

TEST(StrictJson, RefusesMalformedText)
{
    for (const char *bad : {"", "{", "{\"a\":}", "[1,]", "{\"a\":1}x", "\xff"})
        EXPECT_THROW(parse(QByteArray(bad)), JsonError) << bad;
    // Numbers too large for 64 bits are doubles, so an integer key refuses them.
    EXPECT_THROW(requireUInt64(parse(R"({"n":18446744073709551616})"), "n"), JsonError);
}
