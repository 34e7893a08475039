#include "file_safety_fixtures.h"
#include "support/test_support.h"

#include "library/store/temporary_audio_safety.h"
#include "library/store/temporary_audio_store.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tampod;
using namespace tampod::test;
namespace Safety = tampod::TemporaryAudioSafety;

namespace {

Safety::Identity identityOf(const QString &path)
{
    const struct stat status = lstatOf(path);
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// A JSON owner record padded with spaces to exactly `size` bytes.
QByteArray paddedOwner(qsizetype size)
{
    QByteArray json = R"({"signature":"s","id":"i"})";
    json.append(QByteArray(size - json.size(), ' '));
    return json;
}

} // namespace

TEST(TemporaryAudioSafety, InfoAndDirectoryIdentityAcceptOnlyTheUsersOwnPrivateFolders)
{
    TempDir dir;
    EXPECT_EQ(posixCode([&] { Safety::info(fileUrl(dir.file("missing"))); }), EACCES);

    const QString link = dir.file("link");
    makeLink(dir.path(), link);
    EXPECT_TRUE(S_ISLNK(Safety::info(fileUrl(link)).mode)) << "a link is described, not followed";
    EXPECT_EQ(posixCode([&] { Safety::directoryIdentity(fileUrl(link)); }), EACCES);

    writeFile(dir.file("file"), "x");
    EXPECT_EQ(posixCode([&] { Safety::directoryIdentity(fileUrl(dir.file("file"))); }), EACCES);

    for (mode_t writable : {mode_t(0770), mode_t(0702), mode_t(0722)}) {
        const QString folder = dir.file(QStringLiteral("w%1").arg(writable, 0, 8));
        makeFolder(folder, writable);
        EXPECT_EQ(posixCode([&] { Safety::directoryIdentity(fileUrl(folder)); }), EACCES) << writable;
    }
    // Only write bits of group and others matter; read and search bits do not.
    const QString readOnly = dir.file("readonly");
    makeFolder(readOnly, 0555);
    EXPECT_EQ(Safety::directoryIdentity(fileUrl(readOnly)), identityOf(readOnly));

    if (runningAsRoot()) {
        const QString foreign = dir.file("foreign");
        makeFolder(foreign);
        giveAway(foreign);
        EXPECT_EQ(posixCode([&] { Safety::info(fileUrl(foreign)); }), EACCES);
        EXPECT_EQ(posixCode([&] { Safety::directoryIdentity(fileUrl(foreign)); }), EACCES);

        // For its owner, a folder without read and search bits is still identified (root
        // reads everything, so the owner is played by an unprivileged child).
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0711), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(foreign).constData(), 0200), 0);
        const Safety::Identity expected = identityOf(foreign);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(2);
            try {
                ::_exit(Safety::directoryIdentity(fileUrl(foreign)) == expected ? 0 : 3);
            } catch (...) {
                ::_exit(4);
            }
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

TEST(TemporaryAudioSafety, RemoveTreeDeletesAWholeTreeOfTheUsersFilesAndFolders)
{
    TempDir dir;
    const QString root = dir.file("tree");
    makeFolder(root);
    makeFolder(root + "/a");
    makeFolder(root + "/a/b");
    writeFile(root + "/a/b/deep.wav", "pcm");
    writeFile(root + "/owner.json", "{}");
    writeFile(root + "/x.caf", "pcm");
    Safety::removeTree(fileUrl(root), identityOf(root));
    EXPECT_FALSE(exists(root));
}

TEST(TemporaryAudioSafety, RemoveTreeNeverFollowsOrRemovesWhatIsNotPinned)
{
    TempDir dir;
    const QString target = dir.file("target");
    makeFolder(target);
    writeFile(target + "/keep.wav", "pcm");

    // A link at the path itself: neither the link nor its target is touched.
    const QString link = dir.file("link");
    makeLink(target, link);
    EXPECT_NE(posixCode([&] { Safety::removeTree(fileUrl(link), identityOf(target)); }), 0);
    EXPECT_TRUE(exists(link));
    EXPECT_TRUE(exists(target + "/keep.wav"));

    // A folder swapped for another one: its identity no longer matches, nothing is removed.
    const QString other = dir.file("other");
    makeFolder(other);
    writeFile(other + "/keep.wav", "pcm");
    EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(other), identityOf(target)); }), EACCES);
    EXPECT_TRUE(exists(other + "/keep.wav"));
}

TEST(TemporaryAudioSafety, RemoveTreeStopsAtLinksAndSpecialFilesAndRemovesMarkersLast)
{
    TempDir dir;
    // An ordinary-named link inside: removal stops there, and markers and ownership files,
    // which go last, are all still there.
    {
        const QString root = dir.file("one");
        makeFolder(root);
        makeLink(dir.path(), root + "/escape");
        writeFile(root + "/tampod-pair-committed.json", "{}");
        writeFile(root + "/owner.json", "{}");
        writeFile(root + "/lock", "");
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), EACCES);
        EXPECT_EQ(entriesOf(root), (QStringList{"escape", "lock", "owner.json", "tampod-pair-committed.json"}));
        EXPECT_TRUE(exists(dir.path())) << "the link's target is never entered";
    }
    // A marker that is a link: ordinary entries are gone, the marker and ownership files stay.
    {
        const QString root = dir.file("two");
        makeFolder(root);
        makeFolder(root + "/jobs");
        writeFile(root + "/jobs/copy.wav", "pcm");
        writeFile(root + "/audio.wav", "pcm");
        makeLink(dir.path(), root + "/tampod-pair-recovering.json");
        writeFile(root + "/tampod-owner.json", "{}");
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), EACCES);
        EXPECT_EQ(entriesOf(root), (QStringList{"tampod-owner.json", "tampod-pair-recovering.json"}));
    }
    // An ownership file that is a link: everything else of lower rank is already gone.
    {
        const QString root = dir.file("three");
        makeFolder(root);
        writeFile(root + "/audio.wav", "pcm");
        writeFile(root + "/tampod-pair-committed.json", "{}");
        makeLink(dir.path(), root + "/lock");
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), EACCES);
        EXPECT_EQ(entriesOf(root), QStringList{"lock"});
    }
    // A FIFO is a special file, refused like a link.
    {
        const QString root = dir.file("four");
        makeFolder(root);
        ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/pipe").constData(), 0600), 0);
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), EACCES);
        EXPECT_TRUE(exists(root + "/pipe"));
    }
    if (runningAsRoot()) {
        const QString root = dir.file("five");
        makeFolder(root);
        makeFolder(root + "/theirs");
        writeFile(root + "/theirs/file", "x");
        giveAway(root + "/theirs/file");
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), EACCES);
        EXPECT_TRUE(exists(root + "/theirs/file"));
    }
}

TEST(TemporaryAudioSafety, RecordReaderTakesOnlySmallPlainFilesOfTheUser)
{
    TempDir dir;
    using Owner = TemporaryAudioStore::Owner;
    const QString limit = dir.file("limit.json");
    writeFile(limit, paddedOwner(65536));
    EXPECT_EQ(Safety::read<Owner>(fileUrl(limit)), (Owner{"s", "i"}));

    const QString over = dir.file("over.json");
    writeFile(over, paddedOwner(65537));
    EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(over)); }), EINVAL);

    writeFile(dir.file("empty.json"), "");
    EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(dir.file("empty.json"))); }), EINVAL);

    const QString linked = dir.file("linked.json");
    writeFile(linked, paddedOwner(40));
    ASSERT_EQ(::link(QFile::encodeName(linked).constData(), QFile::encodeName(dir.file("second")).constData()), 0);
    EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(linked)); }), EINVAL);

    makeLink(limit, dir.file("symlink.json"));
    EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(dir.file("symlink.json"))); }), EACCES);
    EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(dir.file("missing.json"))); }), EACCES);

    // A FIFO under a record's name is refused at once instead of blocking the reader.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file("fifo.json")).constData(), 0600), 0);
    EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(dir.file("fifo.json"))); }), EINVAL);

    if (runningAsRoot()) {
        const QString foreign = dir.file("foreign.json");
        writeFile(foreign, paddedOwner(40));
        giveAway(foreign);
        EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(foreign)); }), EINVAL);
    }
}

TEST(TemporaryAudioSafety, RecordDecodingIsStrictButIgnoresOrderAndUnknownKeys)
{
    TempDir dir;
    const auto decode = [&](const QByteArray &json) {
        writeFile(dir.file("r.json"), json);
        return Safety::read<TemporaryAudioStore::ExportRecord>(fileUrl(dir.file("r.json")));
    };
    const auto record = decode(R"({ "extra": [1, 2], "bookmark": "AAE=",
        "identity": {"inode": 18446744073709551615, "device": 64768},
        "owner": {"id": "X", "signature": "S"} })");
    EXPECT_EQ(record.identity.inode, 18446744073709551615ULL);
    EXPECT_EQ(record.identity.device, 64768U);
    EXPECT_EQ(record.bookmark, QByteArray("\x00\x01", 2));
    EXPECT_FALSE(record.isSplitPair.has_value());

    const QByteArray owner = R"("owner":{"signature":"S","id":"X"})";
    EXPECT_TRUE(*decode("{" + owner + R"(,"identity":{"device":1,"inode":2},"bookmark":"","isSplitPair":true})").isSplitPair);
    const QList<QByteArray> refused = {
        "{" + owner + R"(,"identity":{"device":1.5,"inode":2},"bookmark":""})", // fraction
        "{" + owner + R"(,"identity":{"device":1,"inode":-2},"bookmark":""})",  // negative
        "{" + owner + R"(,"identity":{"device":1},"bookmark":""})",             // missing key
        "{" + owner + R"(,"identity":{"device":1,"inode":2},"bookmark":"%%"})", // not Base64
        "{" + owner + R"(,"identity":{"device":1,"inode":2},"bookmark":"","isSplitPair":1})",
        R"({"identity":{"device":1,"inode":2},"bookmark":""})",
        "[]",
        "{",
    };
    for (const QByteArray &json : refused)
        EXPECT_THROW(decode(json), JsonError) << json.toStdString();
}
