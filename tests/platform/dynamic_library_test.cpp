#include "platform/loader/dynamic_library.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

QString failureOf(const std::function<void()> &action)
{
    return test::caught<DynamicLibraryError>(action, [](const auto &error) { return error.message(); }).value_or("no error");
}

} // namespace

TEST(DynamicLibrary, FindsFunctionsAndReportsTheLoadersText)
{
    DynamicLibrary math(QStringLiteral("libm.so.6"));
    const auto cosine = math.function<double (*)(double)>("cos");
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_TRUE(failureOf([&] { math.symbol("tampod_no_such_symbol"); }).contains("tampod_no_such_symbol"));

    test::TempDir dir;
    const QString text = dir.file(QStringLiteral("REX Shared Library"));
    test::writeFile(text, "not a library");
    for (const QString &path : {text, dir.file(QStringLiteral("missing.so"))})
        EXPECT_TRUE(failureOf([&] { DynamicLibrary library(path); }).contains(path)) << path.toStdString();
}
