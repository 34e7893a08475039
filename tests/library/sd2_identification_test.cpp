#include "library/sd2_identification.h"

#include "platform/forks/fork_store.h"
#include "platform/forks/fork_store_error.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using namespace tampod;

namespace {

QUrl named(const QString &name)
{
    return QUrl::fromLocalFile(QStringLiteral("/music/") + name);
}

} // namespace

TEST(SD2Identification, NamesAndChannels)
{
    struct Case {
        const char *name;
        bool legacy;
        const char *stem; // nullptr: no channel name
        const char *channel;
    };
    const Case cases[] = {
        {"Drums.L.sd2", true, "Drums", "L"},
        {"Drums.l", true, "Drums", "L"},
        {"Drums.R.SD2F", true, "Drums", "R"},
        {"Drums.L-export-3.sd2", true, "Drums-export-3", "L"},
        {"Drums.L-EXPORT", false, "Drums-EXPORT", "L"},
        {"Drums.L-export-", false, nullptr, nullptr},
        {"Drums.L.wav", false, nullptr, nullptr},
        {"take sd2", true, nullptr, nullptr},
        {"Take.sd2", true, nullptr, nullptr},
        {"Take.L.R.sd2", true, "Take.L", "R"},
        {"Take.r-export-12", false, "Take-export-12", "R"},
        {"Take.L\n", false, nullptr, nullptr},
        {"Take", false, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        const QUrl url = named(QString::fromUtf8(c.name));
        EXPECT_EQ(SD2Identification::hasLegacyName(url), c.legacy) << c.name;
        const auto channel = SD2Identification::channelName(url);
        if (c.stem) {
            ASSERT_TRUE(channel) << c.name;
            EXPECT_EQ(channel->stem, QString::fromUtf8(c.stem)) << c.name;
            EXPECT_EQ(channel->channel, QString::fromUtf8(c.channel)) << c.name;
        } else {
            EXPECT_FALSE(channel) << c.name;
        }
    }
}

TEST(SD2Identification, ResourceStorageIsACompanionOrANonEmptyFork)
{
    test::TempDir dir;
    const auto storage = [&](const QString &name) {
        return SD2Identification::hasResourceStorage(QUrl::fromLocalFile(dir.file(name)));
    };
    test::writeFile(dir.file("plain.sd2"), "audio");
    EXPECT_FALSE(storage("plain.sd2"));
    EXPECT_FALSE(storage("missing.sd2"));

    // Any item counts as a companion, even an empty file, a folder or a dangling link.
    test::writeFile(dir.file("a.sd2"), "audio");
    test::writeFile(dir.file("._a.sd2"), "");
    EXPECT_TRUE(storage("a.sd2"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("._b.sd2"));
    EXPECT_TRUE(storage("b.sd2"));
    ASSERT_TRUE(QFile::link(dir.file("nowhere"), dir.file("._c.sd2")));
    EXPECT_TRUE(storage("c.sd2"));
    ASSERT_TRUE(QDir(dir.path()).mkpath(".AppleDouble"));
    test::writeFile(dir.file(".AppleDouble/d.sd2"), "x");
    EXPECT_TRUE(storage("d.sd2"));

    ForkStore store;
    test::writeFile(dir.file("e.sd2"), "audio");
    try {
        store.write(dir.file("e.sd2"), "");
        EXPECT_FALSE(storage("e.sd2"));
        store.write(dir.file("e.sd2"), "fork");
        EXPECT_TRUE(storage("e.sd2"));
    } catch (const ForkStoreError &error) {
        ASSERT_EQ(error.kind(), ForkStoreError::Kind::noAttributes) << error.what();
        GTEST_SKIP() << "the test folder's file system keeps no user extended attributes";
    }
}
