#include "file_fixtures.h"

#include "core/strict_json.h"
#include "files/access/source_bookmark.h"
#include "files/store/temporary_audio_lock.h"
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

    const QString session = store.session().toLocalFile();
    EXPECT_EQ(session, root + "/" + store.sessionId());
    EXPECT_EQ(entriesOf(session), (QStringList{"exports", "jobs", "lock", "owner.json"}));
    const QString job = store.makeDirectory().toLocalFile();
    for (const QString &folder : {root, session, session + "/jobs", session + "/exports", job})
        EXPECT_EQ(permissionsOf(folder), 0700) << folder.toStdString();
    EXPECT_EQ(lstatOf(session + "/lock").st_mode, S_IFREG | 0600);

    const auto owner = Safety::read<TemporaryAudioStore::SessionOwner>(fileUrl(session + "/owner.json"));
    EXPECT_EQ(owner.owner, (TemporaryAudioStore::Owner{"org.tampod.tamPOD.temporary-audio.v1", store.sessionId()}));
    EXPECT_EQ(owner.directory, identityOf(session));
    EXPECT_EQ(owner.lock, identityOf(session + "/lock"));
}

TEST(TemporaryAudioStore, UnsafeRootsAndPlantedLocksAreRefused)
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
    EXPECT_EQ(entriesOf(dir.file("target")) + entriesOf(dir.file("shared")), QStringList{});

    // A file planted where the lock goes: the half-made session is removed again. A link there
    // is not followed, and the session is not removed through it.
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const auto plant = [&](const std::function<void(const QString &lock)> &what) {
        const auto hook = [&](const QUrl &session) { what(session.toLocalFile() + "/lock"); };
        return posixCode([&] { TemporaryAudioStore(fileUrl(dir.file("root")), id, hook); });
    };
    EXPECT_EQ(plant([](const QString &lock) { writeFile(lock, ""); }), EACCES);
    EXPECT_EQ(entriesOf(dir.file("root")), QStringList{});
    writeFile(dir.file("victim"), "data");
    EXPECT_EQ(plant([&](const QString &lock) { makeLink(dir.file("victim"), lock); }), EACCES);
    EXPECT_EQ(readAll(dir.file("victim")), "data");
}

TEST(TemporaryAudioStore, SessionLockIsExclusiveAcrossProcesses)
{
    TempDir dir;
    QUrl lock;
    const auto lockIn = [&] { return posixCode([&] { TemporaryAudioLock(lock, false); }); };
    {
        TemporaryAudioStore store(fileUrl(dir.file("root")));
        lock = fileUrl(store.session().toLocalFile() + "/lock");
        EXPECT_EQ(inChild(lockIn), EAGAIN);
        EXPECT_EQ(lockIn(), EAGAIN) << "a second open in this process is another open file";
    }
    EXPECT_EQ(inChild(lockIn), 0) << "the lock ends with the store";

    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(lock, true); }), EACCES) << "exclusive create";
    makeLink(lock.toLocalFile(), dir.file("link"));
    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(fileUrl(dir.file("link")), false); }), EACCES);
    ASSERT_EQ(::link(encoded(lock.toLocalFile()).constData(), encoded(dir.file("hard")).constData()), 0);
    EXPECT_EQ(lockIn(), EACCES) << "a second hard link";
}

// In children: the process-wide store is built once per process, and the environment changes
// stay there.
TEST(TemporaryAudioStore, SharedStoreIsBuiltOnceUnderTheUsersCacheAndRemembersFailure)
{
    TempDir dir;
    EXPECT_EQ(inChild([&] {
                  qputenv("XDG_CACHE_HOME", encoded(dir.file("cache")));
                  TemporaryAudioStore &store = TemporaryAudioStore::shared();
                  return &store == &TemporaryAudioStore::shared()
                          && store.root().toLocalFile() == dir.file("cache/tamPOD/tamPOD-owned-audio-v1")
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
                  return first == EACCES && posixCode([] { TemporaryAudioStore::shared(); }) == EACCES ? 0 : 1;
              }),
              0)
        << "a failure is remembered, not retried";

    EXPECT_EQ(inChild([] {
                  const auto root = [](const char *cache) {
                      cache ? qputenv("XDG_CACHE_HOME", cache) : qunsetenv("XDG_CACHE_HOME");
                      return TemporaryAudioStore::defaultRoot().toLocalFile();
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
    TemporaryExportDirectory stageFor(const char *name) const
    {
        return store->makeExportDirectory(fileUrl(dir.file(QStringLiteral("out/") + name)));
    }

    void SetUp() override { makeFolder(dir.file("out"), 0775); }

    TempDir dir;
    std::unique_ptr<TemporaryAudioStore> store = std::make_unique<TemporaryAudioStore>(fileUrl(dir.file("store")));
};

TEST_F(ExportDirectoryTest, StagingFolderIsMarkedRecordedAndRemovedWithItsRecord)
{
    UmaskScope umask(002);
    const TemporaryExportDirectory stage = stageFor("Song.wav");
    const QString staging = stage.url.toLocalFile();
    EXPECT_EQ(QFileInfo(staging).path(), dir.file("out")) << "beside the destination";
    EXPECT_TRUE(QFileInfo(staging).fileName().startsWith(".tampod-staging-"));
    EXPECT_EQ(permissionsOf(staging), 0700);
    EXPECT_EQ(entriesOf(staging), QStringList{"tampod-owner.json"});
    EXPECT_EQ(Safety::read<TemporaryAudioStore::Owner>(fileUrl(staging + "/tampod-owner.json")), stage.owner);

    ASSERT_TRUE(stage.record.has_value());
    EXPECT_EQ(stage.record->toLocalFile(), store->session().toLocalFile() + "/exports/" + stage.owner.id + ".json");
    EXPECT_FALSE(readAll(stage.record->toLocalFile()).contains("isSplitPair"));
    const auto record = Safety::read<TemporaryAudioStore::ExportRecord>(*stage.record);
    EXPECT_EQ(record.owner, stage.owner);
    EXPECT_EQ(record.identity, identityOf(staging));
    EXPECT_EQ(SourceBookmark::resolve(record.bookmark).value().url, stage.url);

    writeFile(staging + "/audio.wav", "pcm");
    stage.remove();
    EXPECT_FALSE(exists(stage.record->toLocalFile()));
    EXPECT_EQ(entriesOf(dir.file("out")), QStringList{});
}

TEST_F(ExportDirectoryTest, RemoveDeletesNothingWhenTheOwnerFileWasReplacedOrLinked)
{
    const std::pair<const char *, std::function<void(const QString &ownerFile)>> tampers[] = {
        {"another owner",
         [](const QString &ownerFile) {
             QFile::remove(ownerFile);
             writeFile(ownerFile, StrictJson::dump(TemporaryAudioStore::Owner{
                                      TemporaryAudioStore::Owner::standardSignature(), "OTHER"}.toJson()));
         }},
        {"a link",
         [&](const QString &ownerFile) {
             QFile::remove(dir.file("copy.json"));
             rename(ownerFile, dir.file("copy.json"));
             makeLink(dir.file("copy.json"), ownerFile);
         }},
        {"a second hard link",
         [&](const QString &ownerFile) {
             QFile::remove(dir.file("hard"));
             ASSERT_EQ(::link(encoded(ownerFile).constData(), encoded(dir.file("hard")).constData()), 0);
         }},
        {"missing", [](const QString &ownerFile) { QFile::remove(ownerFile); }},
        // The same owner file in another folder put in the staging folder's place.
        {"a swapped folder",
         [&](const QString &ownerFile) {
             const QString staging = QFileInfo(ownerFile).path();
             rename(staging, dir.file("moved"));
             makeFolder(staging);
             writeFile(ownerFile, readAll(dir.file("moved/tampod-owner.json")));
             writeFile(staging + "/audio.wav", "theirs");
         }},
    };
    for (const auto &[what, tamper] : tampers) {
        const TemporaryExportDirectory stage = stageFor("a.wav");
        writeFile(stage.url.toLocalFile() + "/audio.wav", "pcm");
        tamper(stage.url.toLocalFile() + "/tampod-owner.json");
        stage.remove();
        EXPECT_TRUE(exists(stage.url.toLocalFile() + "/audio.wav")) << what;
        EXPECT_TRUE(exists(stage.record->toLocalFile())) << what;
    }
}

TEST_F(ExportDirectoryTest, UnrecordableStagingFolderIsRemovedAndTheCallFails)
{
    const QString exports = store->session().toLocalFile() + "/exports";
    ASSERT_TRUE(QDir(exports).removeRecursively());
    writeFile(exports, "not a folder");
    EXPECT_NE(posixCode([&] { stageFor("a.wav"); }), 0);
    EXPECT_EQ(entriesOf(dir.file("out")), QStringList{}) << "no hidden unrecorded folder is left";
    QFile::remove(exports);
    makeFolder(exports);

    const auto failingBookmark = [](const QUrl &) -> QByteArray { throw SystemError(EIO, "bookmark"); };
    EXPECT_EQ(posixCode([&] { store->makeExportDirectory(fileUrl(dir.file("out/a.wav")), failingBookmark); }), EIO);
    EXPECT_EQ(entriesOf(dir.file("out")) + entriesOf(exports), QStringList{}) << "no temporary record file either";
}
