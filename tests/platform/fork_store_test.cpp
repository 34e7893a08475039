#include "platform/forks/fork_store.h"
#include "platform/forks/fork_store_error.h"

#include "support/fake_fork_backend.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>

using namespace tampod;
using Source = ForkStore::Source;

namespace {

std::optional<ForkStoreError::Kind> kindOf(const std::function<void()> &action)
{
    return test::caught<ForkStoreError>(action, [](const ForkStoreError &error) { return error.kind(); });
}

} // namespace

TEST(ForkStore, ReadsThePlacesInOrderAndRequiresThemToAgree)
{
    auto backend = std::make_shared<test::FakeForkBackend>();
    ForkStore store(backend);
    EXPECT_EQ(store.read("f", 100), std::nullopt);
    EXPECT_FALSE(store.hasFork("f"));

    // No extended attributes, a plain file where HFS+ would show "/rsrc": no fork, no error.
    backend->fail(Source::pseudoFile, ENOTDIR);
    backend->fail(Source::netatalkAttribute, EOPNOTSUPP);
    backend->fail(Source::appleAttribute, ENOTSUP);
    EXPECT_EQ(store.read("f", 100), std::nullopt);

    backend->put(Source::appleAttribute, "fork");
    EXPECT_EQ(store.read("f", 100), QByteArray("fork"));
    EXPECT_TRUE(store.hasFork("f"));
    // An empty place counts as absent, also beside a full one.
    backend->put(Source::pseudoFile, "");
    backend->put(Source::netatalkAttribute, "fork");
    EXPECT_EQ(store.read("f", 100), QByteArray("fork"));

    backend->put(Source::pseudoFile, "other");
    EXPECT_EQ(kindOf([&] { store.read("f", 100); }), ForkStoreError::Kind::conflicting);
    EXPECT_TRUE(store.hasFork("f"));

    // Oversized forks and real failures are reported; the yes/no question swallows them.
    backend->put(Source::pseudoFile, QByteArray(101, 'x'));
    EXPECT_EQ(kindOf([&] { store.read("f", 100); }), ForkStoreError::Kind::tooLarge);
    backend->fail(Source::pseudoFile, EACCES);
    EXPECT_THROW(store.read("f", 101), SystemError);
    backend->fail(Source::netatalkAttribute, EIO);
    EXPECT_TRUE(store.hasFork("f"));
    backend->fail(Source::appleAttribute, EIO);
    EXPECT_FALSE(store.hasFork("f"));
}

TEST(ForkStore, WriteFailuresAreClearAndNeverSilent)
{
    auto backend = std::make_shared<test::FakeForkBackend>();
    ForkStore store(backend);
    for (const auto &[error, kind] : {std::pair{EOPNOTSUPP, ForkStoreError::Kind::noAttributes},
                                      {ENOSPC, ForkStoreError::Kind::noSpace}, {E2BIG, ForkStoreError::Kind::noSpace}}) {
        backend->writeError = error;
        EXPECT_EQ(kindOf([&] { store.write("f", "fork"); }), kind) << error;
    }
    backend->writeError = EROFS;
    EXPECT_THROW(store.write("f", "fork"), SystemError);
    EXPECT_EQ(backend->writes, 4);

    // Another place already holding a different fork: refused before anything is written.
    backend->writeError = 0;
    backend->put(Source::appleAttribute, "old");
    EXPECT_EQ(kindOf([&] { store.write("f", "fork"); }), ForkStoreError::Kind::conflicting);
    EXPECT_EQ(backend->writes, 4);
    backend->put(Source::appleAttribute, "fork");
    store.write("f", "fork");
    EXPECT_EQ(store.read("f", 100), QByteArray("fork"));
}

TEST(ForkStore, StoresForksInExtendedAttributesThatFollowRenamesButNeverLinks)
{
    test::TempDir dir;
    const QString path = dir.file("take.sd2");
    test::writeFile(path, "audio");
    ForkStore store;
    EXPECT_EQ(store.read(path, 4 << 20), std::nullopt);
    EXPECT_EQ(store.read(dir.file("missing.sd2"), 4 << 20), std::nullopt);
    EXPECT_FALSE(store.hasFork(path));

    QByteArray fork(4096, '\0');
    for (int i = 0; i < fork.size(); ++i)
        fork[i] = char(i * 7);
    try {
        store.write(path, fork);
    } catch (const ForkStoreError &error) {
        if (error.kind() == ForkStoreError::Kind::noAttributes)
            GTEST_SKIP() << "the test folder's file system keeps no user extended attributes";
        // ext4 without the ea_inode feature keeps one attribute value inside one 4 KiB block,
        // which leaves a little less than 4 KiB for the value: refused clearly, nothing kept.
        ASSERT_EQ(error.kind(), ForkStoreError::Kind::noSpace) << error.what();
        EXPECT_EQ(store.read(path, 4 << 20), std::nullopt);
        fork.truncate(3 * 1024);
        store.write(path, fork);
    }
    EXPECT_TRUE(store.hasFork(path));
    EXPECT_EQ(store.read(path, 4 << 20), fork);
    EXPECT_EQ(test::readAll(path), QByteArray("audio"));

    const QString moved = dir.file("moved.sd2");
    ASSERT_TRUE(QFile::rename(path, moved));
    EXPECT_EQ(store.read(moved, 4 << 20), fork);

    // A link is read as the file it names (a user may add either), but never written through.
    const QString link = dir.file("link.sd2");
    ASSERT_TRUE(QFile::link(moved, link));
    EXPECT_EQ(store.read(link, 4 << 20), fork);
    EXPECT_TRUE(store.hasFork(link));
    EXPECT_THROW(store.write(link, "x"), SystemError);
    EXPECT_EQ(store.read(moved, 4 << 20), fork);
}

TEST(ForkStore, ReadsTheHfsPseudoFileOnlyWhenItIsARegularFile)
{
    // HFS+ shows a file's fork as "<file>/rsrc"; a folder stands in for such a file here.
    test::TempDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("take.sd2"));
    const QString take = dir.file("take.sd2");
    const QString rsrc = take + "/rsrc";
    test::writeFile(rsrc, "fork bytes");
    EXPECT_EQ(ForkStore().read(take, 100), std::nullopt) << "asked off HFS+";
    ASSERT_TRUE(QFile::remove(rsrc));
    ForkStore store(ForkStore::systemBackend(true));
    EXPECT_EQ(store.read(take, 100), std::nullopt);

    test::writeFile(rsrc, "fork bytes");
    EXPECT_EQ(store.read(take, 100), QByteArray("fork bytes"));
    EXPECT_TRUE(store.hasFork(take));
    EXPECT_THROW(store.read(take, 9), ForkStoreError);

    // A FIFO (never waited on) or a link in its place is no fork.
    ASSERT_TRUE(QFile::remove(rsrc));
    ASSERT_EQ(::mkfifo(QFile::encodeName(rsrc).constData(), 0600), 0);
    EXPECT_EQ(store.read(take, 100), std::nullopt);
    EXPECT_FALSE(store.hasFork(take));
    ASSERT_TRUE(QFile::remove(rsrc));
    test::writeFile(dir.file("elsewhere"), "fork bytes");
    ASSERT_TRUE(QFile::link(dir.file("elsewhere"), rsrc));
    EXPECT_EQ(store.read(take, 100), std::nullopt);
}
