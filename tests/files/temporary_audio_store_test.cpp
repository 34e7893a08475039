#include "file_fixtures.h"

#include "core/strict_json.h"
#include "files/store/temporary_audio_lock.h"
#include "files/store/temporary_export_directory.h"

#include <QUuid>

#include <cerrno>

using namespace tampod;
using namespace tampod::test;
namespace Safety = tampod::TemporaryAudioSafety;
using Owner = TemporaryAudioStore::Owner;

class NewSessionTest : public ::testing::TestWithParam<mode_t> {};

// 002 would make default-mode folders group-writable; 0277 would take the owner's own bits.
INSTANTIATE_TEST_SUITE_P(Umasks, NewSessionTest, ::testing::Values(mode_t(002), mode_t(0277)));

TEST_P(NewSessionTest, SessionsAndStagingFoldersArePrivateWhateverTheUmask)
{
    TempDir dir;
    makeFolder(dir.file("out"), 0777);
    UmaskScope umask(GetParam());
    const QString root = dir.file("tamPOD-owned-audio-v1");
    TemporaryAudioStore store(fileUrl(root));
    const QString session = store.session().toLocalFile();
    EXPECT_EQ(session, root + "/" + store.sessionId());
    EXPECT_EQ(entriesOf(session), (QStringList{"exports", "jobs", "lock", "owner.json"}));
    const QString job = store.makeDirectory().toLocalFile();
    const TemporaryExportDirectory stage = store.makeExportDirectory(fileUrl(dir.file("out/Song.wav")));
    const QString staging = stage.url.toLocalFile();
    EXPECT_TRUE(staging.startsWith(dir.file("out/.tampod-staging-"))) << "hidden, beside the destination";
    for (const QString &folder : {root, session, session + "/jobs", session + "/exports", job, staging})
        EXPECT_EQ(permissionsOf(folder), 0700) << folder.toStdString();
    EXPECT_EQ(lstatOf(session + "/lock").st_mode, S_IFREG | 0600);

    // The stored signature, which later versions must keep recognising.
    EXPECT_EQ(Safety::read<TemporaryAudioStore::SessionOwner>(fileUrl(session + "/owner.json")).owner,
              (Owner{"org.tampod.tamPOD.temporary-audio.v1", store.sessionId()}));
    EXPECT_EQ(stage.record->toLocalFile(), session + "/exports/" + stage.owner.id + ".json");

    writeFile(staging + "/audio.wav", "pcm");
    stage.remove();
    EXPECT_EQ(entriesOf(dir.file("out")) + entriesOf(session + "/exports"), QStringList{});
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
    const auto inCache = [&](const QString &cache, const std::function<bool()> &check) {
        return inChild([&] { return qputenv("XDG_CACHE_HOME", encoded(cache)), check() ? 0 : 1; });
    };
    // The launch cleanup works in that store: an ended launch's session goes, this one's stays.
    EXPECT_EQ(inCache(dir.file("cache"), [&] {
                  TemporaryAudioStore &store = TemporaryAudioStore::shared();
                  { TemporaryAudioStore ended(store.root()); }
                  return &store == &TemporaryAudioStore::shared() && permissionsOf(dir.file("cache/tamPOD")) == 0700
                      && store.root().toLocalFile() == dir.file("cache/tamPOD/tamPOD-owned-audio-v1")
                      && runTask(TemporaryAudioCleanup::cleanAbandoned()) == report(1, 1, 0)
                      && entriesOf(store.root().toLocalFile()) == QStringList{store.sessionId()};
              }),
              0);
    makeFolder(dir.file("bad"));
    makeFolder(dir.file("bad/tamPOD"));
    makeFolder(dir.file("bad/tamPOD/tamPOD-owned-audio-v1"), 0777);
    EXPECT_EQ(inCache(dir.file("bad"), [&] {
                  const int first = posixCode([] { TemporaryAudioStore::shared(); });
                  ::chmod(encoded(dir.file("bad/tamPOD/tamPOD-owned-audio-v1")).constData(), 0700);
                  return first == EACCES && posixCode([] { TemporaryAudioStore::shared(); }) == EACCES
                      && !runTask(TemporaryAudioCleanup::cleanAbandoned()).has_value(); // and no cleanup waits for it
              }),
              0)
        << "a failure is remembered, not retried";
    // The base-directory rules ignore a relative value.
    for (const auto &[cache, root] : {std::pair{"/var/cache/me", "/var/cache/me/tamPOD/tamPOD-owned-audio-v1"},
                                      {"relative/cache", "/home/someone/.cache/tamPOD/tamPOD-owned-audio-v1"},
                                      {"", "/home/someone/.cache/tamPOD/tamPOD-owned-audio-v1"}})
        EXPECT_EQ(inCache(cache, [root = QString(root)] {
                      return qputenv("HOME", "/home/someone"), TemporaryAudioStore::defaultRoot().toLocalFile() == root;
                  }),
                  0)
            << cache;
}

class ExportDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { makeFolder(dir.file("out"), 0775); }
    TemporaryExportDirectory stage() const { return store->makeExportDirectory(fileUrl(dir.file("out/a.wav"))); }

    TempDir dir;
    std::unique_ptr<TemporaryAudioStore> store = std::make_unique<TemporaryAudioStore>(fileUrl(dir.file("store")));
};

TEST_F(ExportDirectoryTest, RemoveDeletesNothingWhenTheOwnerFileWasReplacedOrLinked)
{
    const std::pair<const char *, std::function<void(const QString &ownerFile)>> tampers[] = {
        {"another owner",
         [](const QString &ownerFile) {
             QFile::remove(ownerFile);
             writeFile(ownerFile, StrictJson::dump(Owner{Owner::standardSignature(), "OTHER"}.toJson()));
         }},
        {"a link", [&](const QString &ownerFile) {
             rename(ownerFile, dir.file("copy.json"));
             makeLink(dir.file("copy.json"), ownerFile);
         }},
        {"a second hard link",
         [&](const QString &ownerFile) { ::link(encoded(ownerFile).constData(), encoded(ownerFile + ".2").constData()); }},
        {"missing", [](const QString &ownerFile) { QFile::remove(ownerFile); }},
        // The same owner file in another folder put in the staging folder's place.
        {"a swapped folder", [&](const QString &ownerFile) {
             const QString staging = QFileInfo(ownerFile).path();
             rename(staging, dir.file("moved"));
             makeFolder(staging);
             writeFile(ownerFile, readAll(dir.file("moved/tampod-owner.json")));
             writeFile(staging + "/audio.wav", "theirs");
         }},
    };
    for (const auto &[what, tamper] : tampers) {
        const TemporaryExportDirectory made = stage();
        writeFile(made.url.toLocalFile() + "/audio.wav", "pcm");
        tamper(made.url.toLocalFile() + "/tampod-owner.json");
        made.remove();
        EXPECT_TRUE(exists(made.url.toLocalFile() + "/audio.wav") && exists(made.record->toLocalFile())) << what;
    }
}

TEST_F(ExportDirectoryTest, UnrecordableStagingFolderIsRemovedAndTheCallFails)
{
    const QString exports = store->session().toLocalFile() + "/exports";
    ASSERT_TRUE(QDir(exports).removeRecursively());
    writeFile(exports, "not a folder");
    EXPECT_NE(posixCode([&] { stage(); }), 0);
    EXPECT_EQ(entriesOf(dir.file("out")), QStringList{}) << "no hidden unrecorded folder is left";
    QFile::remove(exports);
    makeFolder(exports);
    const auto failingBookmark = [](const QUrl &) -> QByteArray { throw SystemError(EIO, "bookmark"); };
    EXPECT_EQ(posixCode([&] { store->makeExportDirectory(fileUrl(dir.file("out/a.wav")), failingBookmark); }), EIO);
    EXPECT_EQ(entriesOf(dir.file("out")) + entriesOf(exports), QStringList{}) << "no temporary record file either";
}
