#include "file_safety_fixtures.h"

#include "files/store/temporary_audio_store.h"

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
    for (mode_t writable : {mode_t(0770), mode_t(0702)})
        makeFolder(dir.file(QString::number(writable, 8)), writable);
    for (const char *refused : {"link", "file", "770", "702"})
        EXPECT_EQ(posixCode([&] { Safety::directoryIdentity(fileUrl(dir.file(refused))); }), EACCES) << refused;
    // Only write bits of group and others matter.
    makeFolder(dir.file("readonly"), 0555);
    EXPECT_EQ(Safety::directoryIdentity(fileUrl(dir.file("readonly"))), identityOf(dir.file("readonly")));

    if (runningAsRoot()) {
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
}

TEST(TemporaryAudioSafety, RemoveTreeStopsAtWhatIsNotPinnedAndRemovesMarkersLast)
{
    TempDir dir;
    const QString outside = dir.file("outside");
    makeFolder(outside);
    writeFile(outside + "/keep.wav", "pcm");
    struct Case {
        const char *name;
        std::function<void(const QString &root)> plant;
        int code;
        QStringList left; // entries of the tree afterwards
    };
    const std::vector<Case> cases{
        {"an ordinary tree",
         [](const QString &root) {
             makeFolder(root + "/a");
             makeFolder(root + "/a/b");
             writeFile(root + "/a/b/deep.wav", "pcm");
             writeFile(root + "/owner.json", "{}");
         },
         0, {}},
        {"a link inside",
         [&](const QString &root) {
             makeLink(outside, root + "/escape");
             writeFile(root + "/tampod-pair-committed.json", "{}");
             writeFile(root + "/owner.json", "{}");
             writeFile(root + "/lock", "");
         },
         EACCES, {"escape", "lock", "owner.json", "tampod-pair-committed.json"}},
        {"a marker that is a link",
         [&](const QString &root) {
             makeFolder(root + "/jobs");
             writeFile(root + "/jobs/copy.wav", "pcm");
             writeFile(root + "/audio.wav", "pcm");
             makeLink(outside, root + "/tampod-pair-recovering.json");
             writeFile(root + "/tampod-owner.json", "{}");
         },
         EACCES, {"tampod-owner.json", "tampod-pair-recovering.json"}},
        {"an ownership file that is a link",
         [&](const QString &root) {
             writeFile(root + "/audio.wav", "pcm");
             writeFile(root + "/tampod-pair-committed.json", "{}");
             makeLink(outside, root + "/lock");
         },
         EACCES, {"lock"}},
        {"a FIFO",
         [](const QString &root) { ASSERT_EQ(::mkfifo(encoded(root + "/pipe").constData(), 0600), 0); },
         EACCES, {"pipe"}},
    };
    for (const Case &c : cases) {
        const QString root = dir.file(c.name);
        makeFolder(root);
        c.plant(root);
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), c.code) << c.name;
        EXPECT_EQ(c.code == 0 ? QStringList{} : entriesOf(root), c.left) << c.name;
        EXPECT_EQ(exists(root), c.code != 0) << c.name;
    }
    EXPECT_EQ(entriesOf(outside), QStringList{"keep.wav"}) << "no link was followed";

    // A link at the path itself, or another folder than the pinned one: nothing is removed.
    makeLink(outside, dir.file("link"));
    EXPECT_NE(posixCode([&] { Safety::removeTree(fileUrl(dir.file("link")), identityOf(outside)); }), 0);
    EXPECT_TRUE(exists(dir.file("link")));
    const QString other = dir.file("other");
    makeFolder(other);
    writeFile(other + "/keep.wav", "pcm");
    EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(other), identityOf(outside)); }), EACCES);
    EXPECT_EQ(entriesOf(outside), QStringList{"keep.wav"});
    EXPECT_EQ(entriesOf(other), QStringList{"keep.wav"});

    if (runningAsRoot()) {
        const QString root = dir.file("theirs");
        makeFolder(root);
        writeFile(root + "/file", "x");
        giveAway(root + "/file");
        EXPECT_EQ(posixCode([&] { Safety::removeTree(fileUrl(root), identityOf(root)); }), EACCES);
        EXPECT_TRUE(exists(root + "/file"));
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
    EXPECT_EQ(posixCode([&] { Safety::read<Owner>(padded("over.json", 65537)); }), EINVAL);

    writeFile(dir.file("empty.json"), "");
    const QUrl linked = padded("linked.json", 40);
    ASSERT_EQ(::link(encoded(local(linked)).constData(), encoded(dir.file("second")).constData()), 0);
    makeLink(dir.file("limit.json"), dir.file("symlink.json"));
    // A FIFO is refused at once instead of blocking the reader.
    ASSERT_EQ(::mkfifo(encoded(dir.file("fifo.json")).constData(), 0600), 0);
    const std::pair<const char *, int> refused[] = {
        {"empty.json", EINVAL}, {"linked.json", EINVAL}, {"symlink.json", EACCES}, {"missing.json", EACCES},
        {"fifo.json", EINVAL}};
    for (const auto &[name, code] : refused)
        EXPECT_EQ(posixCode([&] { Safety::read<Owner>(fileUrl(dir.file(name))); }), code) << name;

    if (runningAsRoot()) {
        const QUrl foreign = padded("foreign.json", 40);
        giveAway(local(foreign));
        EXPECT_EQ(posixCode([&] { Safety::read<Owner>(foreign); }), EINVAL);
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
