#include "file_safety_fixtures.h"

#include "core/strict_json.h"
#include "files/access/source_bookmark.h"
#include "files/store/temporary_audio_lock.h"
#include "files/store/temporary_audio_store.h"
#include "files/store/temporary_export_directory.h"

#include <QUuid>

#include <cerrno>

using namespace tampod;
using namespace tampod::test;
namespace Safety = tampod::TemporaryAudioSafety;

class NewSessionTest : public ::testing::TestWithParam<mode_t> {};

// 002 would make default-mode folders group-writable; 0277 would take the owner's own bits.
INSTANTIATE_TEST_SUITE_P(Umasks, NewSessionTest, ::testing::Values(mode_t(002), mode_t(0277)));

TEST_P(NewSessionTest, IsPrivateWhateverTheUmask)
{
    TempDir dir;
    UmaskScope umask(GetParam());
    const QString root = dir.file("cache/tamPOD-owned-audio-v1");
    makeFolder(dir.file("cache"), 0755);
    TemporaryAudioStore store(fileUrl(root));

    const QString session = local(store.session());
    EXPECT_EQ(session, root + "/" + store.sessionId());
    EXPECT_FALSE(QUuid::fromString(store.sessionId()).isNull());
    EXPECT_EQ(entriesOf(session), (QStringList{"exports", "jobs", "lock", "owner.json"}));
    for (const QString &folder : {root, session, session + "/jobs", session + "/exports"})
        EXPECT_EQ(permissionsOf(folder), 0700) << folder.toStdString();
    const struct stat lock = lstatOf(session + "/lock");
    EXPECT_TRUE(S_ISREG(lock.st_mode));
    EXPECT_EQ(lock.st_mode & 07777, 0600);

    const auto owner = Safety::read<TemporaryAudioStore::SessionOwner>(fileUrl(session + "/owner.json"));
    EXPECT_EQ(owner.owner.signature, "org.tampod.tamPOD.temporary-audio.v1");
    EXPECT_EQ(owner.owner.id, store.sessionId());
    EXPECT_EQ(owner.directory, identityOf(session));
    EXPECT_EQ(owner.lock, identityOf(session + "/lock"));

    const QString job = local(store.makeDirectory());
    EXPECT_NE(job, local(store.makeDirectory()));
    EXPECT_EQ(permissionsOf(job), 0700);
}

TEST(TemporaryAudioStore, UsableRootIsReusedAndAnUnsafeOneRefused)
{
    TempDir dir;
    makeFolder(dir.file("reused"), 0750);
    {
        TemporaryAudioStore a(fileUrl(dir.file("reused")));
        TemporaryAudioStore b(fileUrl(dir.file("reused")));
        EXPECT_NE(a.session(), b.session());
        EXPECT_EQ(permissionsOf(dir.file("reused")), 0750) << "an existing root is left as it is";
    }
    makeFolder(dir.file("target"));
    makeLink(dir.file("target"), dir.file("linked"));
    makeFolder(dir.file("shared"), 0775);
    writeFile(dir.file("file"), "");
    for (const char *refused : {"linked", "shared", "file"})
        EXPECT_EQ(posixCode([&] { TemporaryAudioStore(fileUrl(dir.file(refused))); }), EACCES) << refused;
    EXPECT_TRUE(entriesOf(dir.file("target")).isEmpty());
    EXPECT_TRUE(entriesOf(dir.file("shared")).isEmpty());
}

TEST(TemporaryAudioStore, PlantedLockFileFailsTheSessionAndRemovesWhatWasMade)
{
    TempDir dir;
    const QString root = dir.file("root");
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const auto plant = [](const QUrl &session) { writeFile(local(session) + "/lock", ""); };
    EXPECT_EQ(posixCode([&] { TemporaryAudioStore(fileUrl(root), id, plant); }), EACCES);
    EXPECT_TRUE(entriesOf(root).isEmpty()) << "the half-made session folder is removed";

    // A planted link in its place is not followed, and the session is not removed through it.
    const QString target = dir.file("victim");
    writeFile(target, "data");
    const auto plantLink = [&](const QUrl &session) { makeLink(target, local(session) + "/lock"); };
    EXPECT_EQ(posixCode([&] { TemporaryAudioStore(fileUrl(root), id, plantLink); }), EACCES);
    EXPECT_EQ(readAll(target), "data");
}

TEST(TemporaryAudioStore, SessionLockIsExclusiveAcrossProcesses)
{
    TempDir dir;
    QUrl lockUrl;
    const auto tryLock = [&] {
        return inChild([&] { return posixCode([&] { TemporaryAudioLock(lockUrl, false); }); });
    };
    {
        TemporaryAudioStore store(fileUrl(dir.file("root")));
        lockUrl = fileUrl(local(store.session()) + "/lock");
        EXPECT_EQ(tryLock(), EAGAIN);
        // A second open in this process is another open file, so it is refused as well.
        EXPECT_EQ(posixCode([&] { TemporaryAudioLock(lockUrl, false); }), EAGAIN);
    }
    EXPECT_EQ(tryLock(), 0) << "the lock ends with the store";

    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(lockUrl, true); }), EACCES) << "exclusive create";
    makeLink(local(lockUrl), dir.file("link"));
    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(fileUrl(dir.file("link")), false); }), EACCES);
    ASSERT_EQ(::link(encoded(local(lockUrl)).constData(), encoded(dir.file("hard")).constData()), 0);
    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(lockUrl, false); }), EACCES) << "a second hard link";
}

// In children: the process-wide store is built once per process, and the environment changes
// stay there.
TEST(TemporaryAudioStore, SharedStoreIsBuiltOnceUnderTheUsersCacheAndRemembersFailure)
{
    TempDir dir;
    EXPECT_EQ(inChild([&] {
                  qputenv("XDG_CACHE_HOME", encoded(dir.file("cache")));
                  TemporaryAudioStore &store = TemporaryAudioStore::shared();
                  const bool placed = local(store.root()) == dir.file("cache/tamPOD/tamPOD-owned-audio-v1");
                  return &store == &TemporaryAudioStore::shared() && placed
                              && permissionsOf(dir.file("cache/tamPOD")) == 0700
                          ? 0
                          : 1;
              }),
              0);

    makeFolder(dir.file("bad"));
    makeFolder(dir.file("bad/tamPOD"));
    makeFolder(dir.file("bad/tamPOD/tamPOD-owned-audio-v1"), 0777);
    EXPECT_EQ(inChild([&] {
                  qputenv("XDG_CACHE_HOME", encoded(dir.file("bad")));
                  const int first = posixCode([] { TemporaryAudioStore::shared(); });
                  ::chmod(encoded(dir.file("bad/tamPOD/tamPOD-owned-audio-v1")).constData(), 0700);
                  const int second = posixCode([] { TemporaryAudioStore::shared(); });
                  return first == EACCES && second == EACCES ? 0 : 1;
              }),
              0)
        << "a failure is remembered, not retried";

    EXPECT_EQ(inChild([] {
                  const auto root = [](const char *cache) {
                      if (cache)
                          qputenv("XDG_CACHE_HOME", cache);
                      else
                          qunsetenv("XDG_CACHE_HOME");
                      return local(TemporaryAudioStore::defaultRoot());
                  };
                  qputenv("HOME", "/home/someone");
                  const QString fallback = "/home/someone/.cache/tamPOD/tamPOD-owned-audio-v1";
                  return root("/var/cache/me") == "/var/cache/me/tamPOD/tamPOD-owned-audio-v1"
                              && root("relative/cache") == fallback && root(nullptr) == fallback
                          ? 0
                          : 1;
              }),
              0);
}

class ExportDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(dir.file("out"), 0775);
        store = std::make_unique<TemporaryAudioStore>(fileUrl(dir.file("store")));
    }

    TemporaryExportDirectory stageFor(const char *name) const
    {
        return store->makeExportDirectory(fileUrl(dir.file(QStringLiteral("out/") + name)));
    }

    TempDir dir;
    std::unique_ptr<TemporaryAudioStore> store;
};

TEST_F(ExportDirectoryTest, StagingFolderIsMarkedRecordedAndRemovedWithItsRecord)
{
    UmaskScope umask(002);
    const TemporaryExportDirectory stage = stageFor("Song.wav");
    const QString staging = local(stage.url);
    EXPECT_EQ(QFileInfo(staging).path(), dir.file("out")) << "beside the destination";
    EXPECT_TRUE(QFileInfo(staging).fileName().startsWith(".tampod-staging-"));
    EXPECT_EQ(permissionsOf(staging), 0700);
    EXPECT_EQ(entriesOf(staging), QStringList{"tampod-owner.json"});
    EXPECT_EQ(Safety::read<TemporaryAudioStore::Owner>(fileUrl(staging + "/tampod-owner.json")), stage.owner);

    ASSERT_TRUE(stage.record.has_value());
    EXPECT_EQ(local(*stage.record), local(store->session()) + "/exports/" + stage.owner.id + ".json");
    const QByteArray raw = readAll(local(*stage.record));
    EXPECT_FALSE(raw.contains("isSplitPair"));
    EXPECT_FALSE(raw.contains(' ')) << "compact JSON";
    const auto record = Safety::read<TemporaryAudioStore::ExportRecord>(*stage.record);
    EXPECT_EQ(record.owner, stage.owner);
    EXPECT_EQ(record.identity, identityOf(staging));
    EXPECT_EQ(local(SourceBookmark::resolve(record.bookmark).value().url), staging);

    writeFile(staging + "/audio.wav", "pcm");
    stage.remove();
    EXPECT_FALSE(exists(local(*stage.record)));
    EXPECT_TRUE(entriesOf(dir.file("out")).isEmpty());
}

TEST_F(ExportDirectoryTest, RemoveDeletesNothingWhenTheOwnerFileWasReplacedOrLinked)
{
    const std::pair<const char *, std::function<void(const QString &ownerFile)>> tampers[] = {
        {"another owner",
         [](const QString &ownerFile) {
             ::unlink(encoded(ownerFile).constData());
             writeFile(ownerFile, StrictJson::dump(TemporaryAudioStore::Owner{
                                      TemporaryAudioStore::Owner::standardSignature(), "OTHER"}.toJson()));
         }},
        {"a link",
         [&](const QString &ownerFile) {
             ::unlink(encoded(dir.file("copy.json")).constData());
             ASSERT_TRUE(QFile::rename(ownerFile, dir.file("copy.json")));
             makeLink(dir.file("copy.json"), ownerFile);
         }},
        {"a second hard link",
         [&](const QString &ownerFile) {
             ::unlink(encoded(dir.file("hard")).constData());
             ASSERT_EQ(::link(encoded(ownerFile).constData(), encoded(dir.file("hard")).constData()), 0);
         }},
        {"missing", [](const QString &ownerFile) { ::unlink(encoded(ownerFile).constData()); }},
        // The same owner file in another folder put in the staging folder's place.
        {"a swapped folder",
         [&](const QString &ownerFile) {
             const QString staging = QFileInfo(ownerFile).path();
             ASSERT_TRUE(QDir().rename(staging, dir.file("moved")));
             makeFolder(staging);
             writeFile(ownerFile, readAll(dir.file("moved/tampod-owner.json")));
             writeFile(staging + "/audio.wav", "theirs");
         }},
    };
    for (const auto &[what, tamper] : tampers) {
        const TemporaryExportDirectory stage = stageFor("a.wav");
        writeFile(local(stage.url) + "/audio.wav", "pcm");
        tamper(local(stage.url) + "/tampod-owner.json");
        stage.remove();
        EXPECT_TRUE(exists(local(stage.url) + "/audio.wav")) << what;
        EXPECT_TRUE(exists(local(*stage.record))) << what;
    }
}

TEST_F(ExportDirectoryTest, UnrecordableStagingFolderIsRemovedAndTheCallFails)
{
    const QString exports = local(store->session()) + "/exports";
    ASSERT_TRUE(QDir(exports).removeRecursively());
    writeFile(exports, "not a folder");
    EXPECT_NE(posixCode([&] { stageFor("a.wav"); }), 0);
    EXPECT_TRUE(entriesOf(dir.file("out")).isEmpty()) << "no hidden unrecorded folder is left";
    ::unlink(encoded(exports).constData());
    makeFolder(exports);

    const auto failingBookmark = [](const QUrl &) -> QByteArray { throw SystemError(EIO, "bookmark"); };
    EXPECT_EQ(posixCode([&] { store->makeExportDirectory(fileUrl(dir.file("out/a.wav")), failingBookmark); }), EIO);
    EXPECT_TRUE(entriesOf(dir.file("out")).isEmpty());
    EXPECT_TRUE(entriesOf(exports).isEmpty()) << "no temporary record file is left either";
}
