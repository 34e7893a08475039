#include "core/private_folder.h"

#include "support/file_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tampod;

// Nobody else may read what is sent through the folder, take a socket or hold a lock in it: it
// is used only as this user's alone, and made so when missing.
TEST(PrivateFolder, OnlyAFolderOfTheUsersAloneIsUsed)
{
    test::TempDir base;
    const auto path = [&](const char *name) { return base.file(QString::fromLatin1(name)); };
    const auto make = [&](const char *name, mode_t mode) {
        const QByteArray encoded = QFile::encodeName(path(name));
        return ::mkdir(encoded.constData(), mode) == 0 && ::chmod(encoded.constData(), mode) == 0;
    };
    ASSERT_TRUE(make("private", 0700) && make("group", 0750) && make("everyone", 01777) && make("taken", 0700));
    ASSERT_EQ(::symlink(QFile::encodeName(path("private")).constData(), QFile::encodeName(path("link")).constData()), 0);
    test::writeFile(path("file"), QByteArray());
    if (test::runningAsRoot())
        test::giveAway(path("taken"));
    const struct {
        const char *name;
        bool makeMissing;
        bool usable;
    } cases[] = {
        {"private", false, true}, {"group", false, false},   {"everyone", false, false}, {"link", false, false},
        {"file", false, false},   {"missing", false, false}, {"made", true, true},       {"taken", true, !test::runningAsRoot()},
    };
    const test::UmaskScope umask(0); // a folder made here is 0700 whatever the umask
    for (const auto &c : cases)
        EXPECT_EQ(PrivateFolder::open(path(c.name), c.makeMissing).has_value(), c.usable) << c.name;
    EXPECT_EQ(statusOf(path("made"), LinkPolicy::NoFollow)->st_mode & 07777, 0700u);

    // Reached through the descriptor: a short path to the very folder, however deep it lies.
    const QString deep = base.path() + QLatin1Char('/') + QString(200, u'd');
    ASSERT_EQ(::mkdir(QFile::encodeName(deep).constData(), 0700), 0);
    const auto folder = PrivateFolder::open(deep);
    ASSERT_TRUE(folder);
    EXPECT_LT(folder->pathOf("name").size(), 40);
    test::writeFile(folder->pathOf("name"), QByteArrayLiteral("here"));
    EXPECT_EQ(test::readAll(deep + QStringLiteral("/name")), QByteArrayLiteral("here"));
    EXPECT_EQ(PrivateFolder::pathForUser(QStringLiteral("/t"), QStringLiteral("s")),
              QStringLiteral("/t/s-") + QString::number(::geteuid()));
}
