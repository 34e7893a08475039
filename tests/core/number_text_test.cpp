#include "core/number_text.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

using namespace tampod;

namespace {

struct LocaleGuard {
    explicit LocaleGuard(const char *name) : previous(setlocale(LC_ALL, nullptr))
    {
        applied = setlocale(LC_ALL, name) != nullptr;
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
    }
    ~LocaleGuard()
    {
        setlocale(LC_ALL, previous.c_str());
        QLocale::setDefault(QLocale::c());
    }
    std::string previous;
    bool applied = false;
};

const std::pair<double, const char *> kDescriptions[] = {
    {120, "120.0"},     {0.1, "0.1"},         {97.25, "97.25"},     {123.457, "123.457"}, {-3.5, "-3.5"},
    {0.0001, "0.0001"}, {0.00001, "1e-05"},   {1.5e-7, "1.5e-07"},  {9007199254740992.0, "9007199254740992.0"},
    {1e16, "1e+16"},    {1.25e300, "1.25e+300"}, {1000000, "1000000.0"}, {0.30000000000000004, "0.30000000000000004"},
    {0, "0.0"},
};

} // namespace

TEST(NumberText, DescribesLikeTheStandardDescriptionUnderAnyLocale)
{
    for (const char *locale : {"C", "de_DE.UTF-8"}) {
        LocaleGuard guard(locale);
        ASSERT_TRUE(guard.applied) << locale;
        for (const auto &[value, text] : kDescriptions) {
            EXPECT_EQ(NumberText::describe(value), text) << locale;
            const auto back = NumberText::parse(std::string_view(text));
            ASSERT_TRUE(back.has_value()) << text;
            EXPECT_EQ(*back, value) << text;
        }
        EXPECT_EQ(NumberText::whole(1234567), "1234567");
        EXPECT_EQ(NumberText::whole(-42), "-42");
        EXPECT_EQ(NumberText::parse(std::string_view("97,25")), std::nullopt) << locale;
    }
}

TEST(NumberText, ShortestTextReadsBackForAwkwardValues)
{
    const double values[] = {1.0 / 3, 2.0 / 3 * 1e10, 5e-324, std::numeric_limits<double>::max(),
                             std::nextafter(120.0, 121.0), 119.99999999999999};
    for (double v : values) {
        const auto text = NumberText::describe(v);
        ASSERT_EQ(NumberText::parse(std::string_view(text)), v) << text;
    }
    EXPECT_EQ(NumberText::describe(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(NumberText::describe(std::nan("")), "nan");
}

TEST(NumberText, ParsesOnlyAWholeCLocaleNumber)
{
    EXPECT_EQ(NumberText::parse(std::string_view("1.2e2")), 120.0);
    EXPECT_EQ(NumberText::parse(std::string_view("-0.5")), -0.5);
    EXPECT_TRUE(std::isinf(*NumberText::parse(std::string_view("inf"))));
    EXPECT_TRUE(std::isnan(*NumberText::parse(std::string_view("nan"))));
    for (const char *bad : {"", " 120", "120 ", "120bpm", "\t1", "abc", "1.2.3", "\n5"})
        EXPECT_EQ(NumberText::parse(std::string_view(bad)), std::nullopt) << '"' << bad << '"';
    EXPECT_EQ(NumberText::parse(std::string_view("12\0003", 4)), std::nullopt);
    EXPECT_EQ(NumberText::parse(std::string_view("\0" "12", 3)), std::nullopt);
}

TEST(NumberText, GuardsConversionsToIntegers)
{
    EXPECT_EQ(NumberText::toInt64(1e300), std::nullopt);
    EXPECT_EQ(NumberText::toInt64(std::nan("")), std::nullopt);
    EXPECT_EQ(NumberText::toInt64(9223372036854775808.0), std::nullopt);
    EXPECT_EQ(NumberText::toInt64(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(NumberText::toInt64(-2.9), -2);
    EXPECT_EQ(NumberText::toInt32(2147483648.0), std::nullopt);
    EXPECT_EQ(NumberText::toInt32(2147483647.0), 2147483647);
}
