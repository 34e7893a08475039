#include "core/strict_json.h"

#include "core/native_path.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::StrictJson;

namespace {

template <typename Call>
auto unlessRefused(Call call) -> std::optional<decltype(call())>
{
    try {
        return call();
    } catch (const JsonError &) {
        return std::nullopt;
    }
}

} // namespace

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

TEST(StrictJson, WholeNumbersReadExactlyInEveryForm)
{
    struct Row {
        const char *text;
        std::optional<std::int64_t> signedValue;
        std::optional<std::uint64_t> unsignedValue;
    };
    const Row rows[] = {
        {"5", 5, 5u}, {"5.0", 5, 5u}, {"5e0", 5, 5u}, {"5.000E+0", 5, 5u}, {"0.5e1", 5, 5u}, {"50e-1", 5, 5u},
        {"-5.0", -5, std::nullopt}, {"-0.0", 0, 0u}, {"0e-999999999", 0, 0u},
        {"9223372036854775807.0", INT64_MAX, 9223372036854775807u}, {"-9223372036854775808.0", INT64_MIN, std::nullopt},
        {"1.8446744073709551615e19", std::nullopt, UINT64_MAX},
        // A double would round these to whole numbers, or to other whole numbers.
        {"9007199254740993.0", 9007199254740993, 9007199254740993u}, {"4.0000000000000001", std::nullopt, std::nullopt},
        {"5.5", std::nullopt, std::nullopt}, {"5e-1", std::nullopt, std::nullopt},
        {"18446744073709551616.0", std::nullopt, std::nullopt}, {"-9223372036854775809.0", std::nullopt, std::nullopt},
        {"1e20", std::nullopt, std::nullopt}, {"1e999999999", std::nullopt, std::nullopt},
    };
    // Too large for a double as well, the text is refused by the parser: nothing either way.
    for (const Row &row : rows) {
        const QByteArray text = QByteArray(R"({"n":)") + row.text + "}";
        EXPECT_EQ(unlessRefused([&] { return requireInt64(parse(text), "n"); }), row.signedValue) << row.text;
        EXPECT_EQ(unlessRefused([&] { return requireUInt64(parse(text), "n"); }), row.unsignedValue) << row.text;
    }
    EXPECT_EQ(requireDouble(parse(R"({"n":2.5e0})"), "n"), 2.5);
}

TEST(StrictJson, APathThatIsNotUtf8KeepsItsBytesAndOlderRecordsStillRead)
{
    const QString plain = QStringLiteral("/music/Take \u00e9\U0001F3B5.wav");
    const QString raw = decodedPath("/music/old\xe9/bad\xff\xfe.wav");
    Json record = Json::object();
    putPath(record, "plain", plain);
    putPath(record, "raw", raw);
    const QByteArray text = dump(record);
    EXPECT_FALSE(record.contains("plainBytes")) << "a UTF-8 path is written as before";
    const Json read = parse(text);
    EXPECT_EQ(requirePath(read, "plain"), plain);
    EXPECT_EQ(requirePath(read, "raw"), raw);
    EXPECT_EQ(encodedPath(requirePath(read, "raw")), QByteArray("/music/old\xe9/bad\xff\xfe.wav"));
    EXPECT_EQ(requireString(read, "raw"), QStringLiteral("/music/old\uFFFD/bad\uFFFD\uFFFD.wav")) << "readable as text";

    EXPECT_EQ(requirePath(parse(R"({"path":"/a/b.wav"})"), "path"), "/a/b.wav");
    EXPECT_THROW(requirePath(parse(R"({"path":"/a","pathBytes":"**"})"), "path"), JsonError);
    EXPECT_THROW(requirePath(parse(R"({"pathBytes":"L2E="})"), "other"), JsonError);
}
