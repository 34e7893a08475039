#include "file_safety_fixtures.h"
#include "support/test_support.h"

#include "core/strict_json.h"
#include "library/internal/source_bookmark.h"
#include "library/store/temporary_audio_lock.h"
#include "library/store/temporary_audio_store.h"
#include "library/store/temporary_export_directory.h"

#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

using namespace tampod;
using namespace tampod::test;
namespace Safety = tampod::TemporaryAudioSafety;

namespace {

QString local(const QUrl &url)
{
    return url.toLocalFile();
}

Safety::Identity identityOf(const QString &path)
{
    const struct stat status = lstatOf(path);
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Runs `child` in a forked process and returns its exit status.
int inChild(const std::function<int()> &child)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(child());
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Restores an environment variable when the scope ends.
class EnvironmentScope {
public:
    explicit EnvironmentScope(const char *name) : name_(name), had_(qEnvironmentVariableIsSet(name)), value_(qgetenv(name)) {}
    ~EnvironmentScope()
    {
        if (had_)
            qputenv(name_, value_);
        else
            qunsetenv(name_);
    }

private:
    const char *name_;
    bool had_;
    QByteArray value_;
};

} // namespace

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
    EXPECT_EQ(store.sessionId(), store.sessionId().toUpper());
    EXPECT_EQ(permissionsOf(root), 0700);
    EXPECT_EQ(entriesOf(root), QStringList{store.sessionId()});
    EXPECT_EQ(entriesOf(session), (QStringList{"exports", "jobs", "lock", "owner.json"}));
    for (const char *folder : {"", "/jobs", "/exports"})
        EXPECT_EQ(permissionsOf(session + folder), 0700) << folder;
    const struct stat lock = lstatOf(session + "/lock");
    EXPECT_TRUE(S_ISREG(lock.st_mode));
    EXPECT_EQ(lock.st_mode & 07777, 0600);
    EXPECT_EQ(lock.st_nlink, 1U);
    EXPECT_EQ(lock.st_size, 0);

    const auto owner = Safety::read<TemporaryAudioStore::SessionOwner>(fileUrl(session + "/owner.json"));
    EXPECT_EQ(owner.owner.signature, "org.tampod.tamPOD.temporary-audio.v1");
    EXPECT_EQ(owner.owner.id, store.sessionId());
    EXPECT_EQ(owner.directory, identityOf(session));
    EXPECT_EQ(owner.lock, identityOf(session + "/lock"));
    EXPECT_EQ(store.lock().identity(), owner.lock);

    const QString first = local(store.makeDirectory());
    const QString second = local(store.makeDirectory());
    EXPECT_NE(first, second);
    EXPECT_EQ(entriesOf(session + "/jobs").size(), 2);
    EXPECT_EQ(permissionsOf(first), 0700);
    EXPECT_TRUE(entriesOf(first).isEmpty());
}

TEST(TemporaryAudioStore, UsableRootIsReusedAndAnUnsafeOneRefused)
{
    TempDir dir;
    const QString reused = dir.file("reused");
    makeFolder(reused, 0750);
    {
        TemporaryAudioStore a(fileUrl(reused));
        TemporaryAudioStore b(fileUrl(reused));
        EXPECT_NE(a.session(), b.session());
        EXPECT_EQ(permissionsOf(reused), 0750) << "an existing root is left as it is";
    }

    const QString target = dir.file("target");
    makeFolder(target);
    makeLink(target, dir.file("linked"));
    EXPECT_EQ(posixCode([&] { TemporaryAudioStore(fileUrl(dir.file("linked"))); }), EACCES);
    EXPECT_TRUE(entriesOf(target).isEmpty());

    makeFolder(dir.file("shared"), 0775);
    EXPECT_EQ(posixCode([&] { TemporaryAudioStore(fileUrl(dir.file("shared"))); }), EACCES);
    EXPECT_TRUE(entriesOf(dir.file("shared")).isEmpty());

    writeFile(dir.file("file"), "");
    EXPECT_EQ(posixCode([&] { TemporaryAudioStore(fileUrl(dir.file("file"))); }), EACCES);
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
    const QString root = dir.file("root");
    QUrl lockUrl;
    const auto tryLock = [&] {
        return inChild([&] { return posixCode([&] { TemporaryAudioLock(lockUrl, false); }); });
    };
    {
        TemporaryAudioStore store(fileUrl(root));
        lockUrl = fileUrl(local(store.session()) + "/lock");
        EXPECT_EQ(tryLock(), EWOULDBLOCK);
        EXPECT_EQ(EWOULDBLOCK, EAGAIN);
        // A second open in this process is another open file, so it is refused as well.
        EXPECT_EQ(posixCode([&] { TemporaryAudioLock(lockUrl, false); }), EWOULDBLOCK);
    }
    EXPECT_EQ(tryLock(), 0) << "the lock ends with the store";

    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(lockUrl, true); }), EACCES) << "exclusive create";
    makeLink(local(lockUrl), dir.file("link"));
    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(fileUrl(dir.file("link")), false); }), EACCES);
    ASSERT_EQ(::link(QFile::encodeName(local(lockUrl)).constData(), QFile::encodeName(dir.file("hard")).constData()), 0);
    EXPECT_EQ(posixCode([&] { TemporaryAudioLock(lockUrl, false); }), EACCES) << "a second hard link";
}

TEST(TemporaryAudioStore, SharedStoreIsBuiltOnceUnderTheUsersCacheAndRemembersFailure)
{
    TempDir dir;
    // In children: the process-wide store is built once per process.
    const int built = inChild([&] {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.file("cache")));
        try {
            TemporaryAudioStore &store = TemporaryAudioStore::shared();
            const bool same = &store == &TemporaryAudioStore::shared();
            const bool placed = local(store.root()) == dir.file("cache/tamPOD/tamPOD-owned-audio-v1");
            return same && placed && permissionsOf(dir.file("cache/tamPOD")) == 0700 ? 0 : 1;
        } catch (...) {
            return 2;
        }
    });
    EXPECT_EQ(built, 0);

    makeFolder(dir.file("bad"));
    makeFolder(dir.file("bad/tamPOD"));
    makeFolder(dir.file("bad/tamPOD/tamPOD-owned-audio-v1"), 0777);
    const int failed = inChild([&] {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.file("bad")));
        const int first = posixCode([] { TemporaryAudioStore::shared(); });
        ::chmod(QFile::encodeName(dir.file("bad/tamPOD/tamPOD-owned-audio-v1")).constData(), 0700);
        const int second = posixCode([] { TemporaryAudioStore::shared(); });
        return first == EACCES && second == EACCES ? 0 : 1;
    });
    EXPECT_EQ(failed, 0) << "a failure is remembered, not retried";

    EnvironmentScope cache("XDG_CACHE_HOME");
    EnvironmentScope home("HOME");
    qputenv("HOME", "/home/someone");
    qputenv("XDG_CACHE_HOME", "/var/cache/me");
    EXPECT_EQ(local(TemporaryAudioStore::defaultRoot()), "/var/cache/me/tamPOD/tamPOD-owned-audio-v1");
    qputenv("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(local(TemporaryAudioStore::defaultRoot()), "/home/someone/.cache/tamPOD/tamPOD-owned-audio-v1");
    qunsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(local(TemporaryAudioStore::defaultRoot()), "/home/someone/.cache/tamPOD/tamPOD-owned-audio-v1");
}

class ExportDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(dir.file("out"), 0775);
        store = std::make_unique<TemporaryAudioStore>(fileUrl(dir.file("store")));
    }

    QString exportsFolder() const { return local(store->session()) + "/exports"; }

    TempDir dir;
    std::unique_ptr<TemporaryAudioStore> store;
};

TEST_F(ExportDirectoryTest, StagingFolderIsMarkedRecordedAndRemovedWithItsRecord)
{
    UmaskScope umask(002);
    const TemporaryExportDirectory stage = store->makeExportDirectory(fileUrl(dir.file("out/Song.wav")));
    const QString staging = local(stage.url);
    EXPECT_EQ(QFileInfo(staging).path(), dir.file("out")) << "beside the destination";
    EXPECT_TRUE(QFileInfo(staging).fileName().startsWith(".tampod-staging-"));
    EXPECT_EQ(permissionsOf(staging), 0700);
    EXPECT_EQ(stage.identity, identityOf(staging));
    EXPECT_EQ(entriesOf(staging), QStringList{"tampod-owner.json"});
    EXPECT_EQ(Safety::read<TemporaryAudioStore::Owner>(fileUrl(staging + "/tampod-owner.json")), stage.owner);
    EXPECT_EQ(stage.owner.signature, TemporaryAudioStore::Owner::standardSignature());

    ASSERT_TRUE(stage.record.has_value());
    EXPECT_EQ(local(*stage.record), exportsFolder() + "/" + stage.owner.id + ".json");
    const QByteArray raw = readAll(local(*stage.record));
    EXPECT_FALSE(raw.contains("isSplitPair"));
    EXPECT_FALSE(raw.contains(' ')) << "compact JSON";
    const auto record = Safety::read<TemporaryAudioStore::ExportRecord>(*stage.record);
    EXPECT_EQ(record.owner, stage.owner);
    EXPECT_EQ(record.identity, stage.identity);
    const auto resolved = SourceBookmark::resolve(record.bookmark);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(local(resolved->url), staging);
    EXPECT_FALSE(resolved->stale);

    writeFile(staging + "/audio.wav", "pcm");
    stage.remove();
    EXPECT_FALSE(exists(staging));
    EXPECT_FALSE(exists(local(*stage.record)));
    EXPECT_TRUE(entriesOf(dir.file("out")).isEmpty());
}

TEST_F(ExportDirectoryTest, RemoveDeletesNothingWhenTheOwnerFileWasReplacedOrLinked)
{
    const auto check = [&](const char *what, const std::function<void(const QString &ownerFile)> &tamper) {
        const TemporaryExportDirectory stage = store->makeExportDirectory(fileUrl(dir.file("out/a.wav")));
        const QString ownerFile = local(stage.url) + "/tampod-owner.json";
        writeFile(local(stage.url) + "/audio.wav", "pcm");
        tamper(ownerFile);
        stage.remove();
        EXPECT_TRUE(exists(local(stage.url) + "/audio.wav")) << what;
        EXPECT_TRUE(exists(local(*stage.record))) << what;
    };
    check("another owner", [](const QString &ownerFile) {
        ::unlink(QFile::encodeName(ownerFile).constData());
        writeFile(ownerFile, StrictJson::dump(TemporaryAudioStore::Owner{
                                 TemporaryAudioStore::Owner::standardSignature(), "OTHER"}.toJson()));
    });
    check("a link", [&](const QString &ownerFile) {
        const QString copy = dir.file("copy.json");
        ::unlink(QFile::encodeName(copy).constData());
        ASSERT_TRUE(QFile::rename(ownerFile, copy));
        makeLink(copy, ownerFile);
    });
    check("a second hard link", [&](const QString &ownerFile) {
        ::unlink(QFile::encodeName(dir.file("hard")).constData());
        ASSERT_EQ(::link(QFile::encodeName(ownerFile).constData(), QFile::encodeName(dir.file("hard")).constData()), 0);
    });
    check("missing", [](const QString &ownerFile) { ::unlink(QFile::encodeName(ownerFile).constData()); });

    // The same owner file in a different folder put in the staging folder's place.
    const TemporaryExportDirectory stage = store->makeExportDirectory(fileUrl(dir.file("out/b.wav")));
    const QString staging = local(stage.url);
    ASSERT_TRUE(QDir().rename(staging, dir.file("moved")));
    makeFolder(staging);
    writeFile(staging + "/tampod-owner.json", readAll(dir.file("moved/tampod-owner.json")));
    stage.remove();
    EXPECT_TRUE(exists(staging + "/tampod-owner.json"));
    EXPECT_TRUE(exists(local(*stage.record)));
}

TEST_F(ExportDirectoryTest, UnrecordableStagingFolderIsRemovedAndTheCallFails)
{
    const QString exports = exportsFolder();
    ASSERT_TRUE(QDir(exports).removeRecursively());
    writeFile(exports, "not a folder");
    EXPECT_NE(posixCode([&] { store->makeExportDirectory(fileUrl(dir.file("out/a.wav"))); }), 0);
    EXPECT_TRUE(entriesOf(dir.file("out")).isEmpty()) << "no hidden unrecorded folder is left";
    ::unlink(QFile::encodeName(exports).constData());
    makeFolder(exports);

    const auto failingBookmark = [](const QUrl &) -> QByteArray { throw SystemError(EIO, "bookmark"); };
    EXPECT_EQ(posixCode([&] { store->makeExportDirectory(fileUrl(dir.file("out/a.wav")), failingBookmark); }), EIO);
    EXPECT_TRUE(entriesOf(dir.file("out")).isEmpty());
    EXPECT_TRUE(entriesOf(exports).isEmpty()) << "no temporary record file is left either";

    EXPECT_NE(posixCode([&] { store->makeExportDirectory(fileUrl(dir.file("missing/a.wav"))); }), 0);
}
