#include "file_fixtures.h"

#include "files/store/internal/temporary_audio_status.h"

#include <cerrno>

using namespace tampod;
using namespace tampod::test;
namespace Safety = tampod::TemporaryAudioSafety;

TEST(TemporaryAudioSafety, DirectoryIdentityAcceptsOnlyTheUsersOwnUnsharedFolders)
{
    TempDir dir;
    EXPECT_EQ(posixCode([&] { Safety::info(fileUrl(dir.file("missing"))); }), EACCES);
    makeLink(dir.path(), dir.file("link"));
    EXPECT_TRUE(S_ISLNK(Safety::info(fileUrl(dir.file("link"))).mode)) << "a link is described, not followed";
    writeFile(dir.file("file"), "x");
    makeFolder(dir.file("770"), 0770);
    makeFolder(dir.file("702"), 0702);
    for (const char *refused : {"link", "file", "770", "702"})
        EXPECT_EQ(posixCode([&] { Safety::directoryIdentity(fileUrl(dir.file(refused))); }), EACCES) << refused;
    makeFolder(dir.file("readonly"), 0555);
    EXPECT_EQ(Safety::directoryIdentity(fileUrl(dir.file("readonly"))), identityOf(dir.file("readonly")));

    if (!runningAsRoot())
        return;
    const QString foreign = dir.file("foreign");
    makeFolder(foreign);
    giveAway(foreign);
    EXPECT_EQ(posixCode([&] { Safety::info(fileUrl(foreign)); }), EACCES);
    EXPECT_EQ(posixCode([&] { Safety::directoryIdentity(fileUrl(foreign)); }), EACCES);
    // For its owner, a folder without read and search bits is still identified.
    ASSERT_EQ(::chmod(encoded(dir.path()).constData(), 0711), 0);
    ASSERT_EQ(::chmod(encoded(foreign).constData(), 0200), 0);
    const Safety::Identity expected = identityOf(foreign);
    EXPECT_EQ(inChild([&] {
                  if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                      return 3;
                  return Safety::directoryIdentity(fileUrl(foreign)) == expected ? 0 : 4;
              }),
              0);
}

TEST(TemporaryAudioSafety, RemoveTreeStopsAtWhatIsNotPinnedAndRemovesMarkersLast)
{
    TempDir dir;
    const QString outside = dir.file("outside");
    makeFolder(outside);
    writeFile(outside + "/keep.wav", "pcm");
    struct Case {
        const char *name;
        QStringList files;  // "-> name" is a link to `outside`, "|name" a FIFO, "name/" a folder
        QStringList left;   // entries afterwards; none when the tree goes
    };
    const Case cases[] = {
        {"ordinary", {"a/", "a/b/", "a/b/deep.wav", "owner.json", "lock"}, {}},
        {"a link inside", {"-> escape", "tampod-pair-committed.json", "owner.json", "lock"},
         {"escape", "lock", "owner.json", "tampod-pair-committed.json"}},
        {"a marker that is a link", {"jobs/", "jobs/copy.wav", "audio.wav", "-> tampod-pair-recovering.json", "tampod-owner.json"},
         {"tampod-owner.json", "tampod-pair-recovering.json"}},
        {"an owner file that is a link", {"audio.wav", "tampod-pair-committed.json", "-> owner.json", "lock"},
         {"lock", "owner.json"}},
        {"a FIFO", {"|pipe", "lock"}, {"lock", "pipe"}},
    };
    for (const Case &c : cases) {
        const QString root = dir.file(c.name);
        makeFolder(root);
        for (const QString &file : c.files) {
            if (file.startsWith("-> "))
                makeLink(outside, root + "/" + file.mid(3));
            else if (file.startsWith('|'))
                ASSERT_EQ(::mkfifo(encoded(root + "/" + file.mid(1)).constData(), 0600), 0);
            else if (file.endsWith('/'))
                makeFolder(root + "/" + file);
            else
                writeFile(root + "/" + file, "x");
        }
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), c.left.isEmpty() ? 0 : EACCES)
            << c.name;
        EXPECT_EQ(entriesOf(root), c.left) << c.name;
    }
    EXPECT_EQ(entriesOf(outside), QStringList{"keep.wav"}) << "no link was followed";

    // A link at the path itself, or another folder than the pinned one: nothing is removed.
    makeLink(outside, dir.file("link"));
    EXPECT_NE(posixCode([&] { Safety::removeTree(fileUrl(dir.file("link")), identityOf(outside)); }), 0);
    makeFolder(dir.file("other"));
    writeFile(dir.file("other/keep.wav"), "pcm");
    EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(dir.file("other")), identityOf(outside)); }), EACCES);
    EXPECT_EQ(entriesOf(outside) + entriesOf(dir.file("other")), (QStringList{"keep.wav", "keep.wav"}));
    if (runningAsRoot()) {
        giveAway(dir.file("other/keep.wav"));
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(dir.file("other")), identityOf(dir.file("other"))); }),
                  EACCES);
        EXPECT_TRUE(exists(dir.file("other/keep.wav")));
    }
}

TEST(TemporaryAudioSafety, RecordReaderTakesOnlySmallPlainFilesOfTheUser)
{
    TempDir dir;
    using Owner = TemporaryAudioStore::Owner;
    const auto padded = [&](const char *name, qsizetype size) {
        QByteArray json = R"({"signature":"s","id":"i"})";
        writeFile(dir.file(name), json.append(QByteArray(size - json.size(), ' ')));
        return fileUrl(dir.file(name));
    };
    EXPECT_EQ(Safety::read<Owner>(padded("limit.json", 65536)), (Owner{"s", "i"}));
    padded("over.json", 65537);
    writeFile(dir.file("empty.json"), "");
    padded("linked.json", 40);
    ASSERT_EQ(::link(encoded(dir.file("linked.json")).constData(), encoded(dir.file("second")).constData()), 0);
    makeLink(dir.file("limit.json"), dir.file("symlink.json"));
    makeFolder(dir.file("folder.json"));
    padded("foreign.json", 40);
    if (runningAsRoot())
        giveAway(dir.file("foreign.json"));
    const std::pair<const char *, int> refused[] = {
        {"over.json", EINVAL},    {"empty.json", EINVAL},  {"linked.json", EINVAL},      {"symlink.json", EACCES},
        {"missing.json", EACCES}, {"folder.json", EINVAL},
        {"foreign.json", runningAsRoot() ? EINVAL : 0}};
    for (const auto &[name, code] : refused)
        EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(dir.file(name))); }), code) << name;
}

TEST(TemporaryAudioSafety, RecordDecodingIsStrictButIgnoresOrderAndUnknownKeys)
{
    TempDir dir;
    const auto decode = [&](const QByteArray &json) {
        writeFile(dir.file("r.json"), json);
        return Safety::read<TemporaryAudioStore::ExportRecord>(fileUrl(dir.file("r.json")));
    };
    const auto record = decode(R"({ "extra": [1, 2], "bookmark": "AAE=",
        "identity": {"inode": 18446744073709551615, "device": 6.4768e4},
        "owner": {"id": "X", "signature": "S"} })");
    EXPECT_EQ(record.identity.inode, 18446744073709551615ULL);
    EXPECT_EQ(record.identity.device, 64768u) << "a whole number in any form";
    EXPECT_EQ(record.bookmark, QByteArray("\x00\x01", 2));
    EXPECT_FALSE(record.isSplitPair.has_value());

    const QByteArray owner = R"("owner":{"signature":"S","id":"X"})";
    EXPECT_TRUE(*decode("{" + owner + R"(,"identity":{"device":1,"inode":2},"bookmark":"","isSplitPair":true})").isSplitPair);
    const QList<QByteArray> refused = {
        "{" + owner + R"(,"identity":{"device":1.5,"inode":2},"bookmark":""})",
        "{" + owner + R"(,"identity":{"device":1,"inode":-2},"bookmark":""})",
        "{" + owner + R"(,"identity":{"device":1},"bookmark":""})",
        "{" + owner + R"(,"identity":{"device":1,"inode":2},"bookmark":"%%"})",
        "{" + owner + R"(,"identity":{"device":1,"inode":2},"bookmark":"","isSplitPair":1})",
        R"({"identity":{"device":1,"inode":2},"bookmark":""})",
        "[]",
        "{",
    };
    for (const QByteArray &json : refused)
        EXPECT_THROW(decode(json), JsonError) << json.toStdString();
}
