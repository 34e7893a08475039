#include "split_pair_fixture.h"

#include "concurrency/cancellation.h"
#include "core/strict_json.h"
#include "files/journal/split_export_recovery_notice.h"

#include <QUuid>

#include <cerrno>

using namespace tampod;
using namespace tampod::test;
using Report = TemporaryAudioCleanup::Report;

namespace {

const QString denied = QStringLiteral("tampod.posix/13");
const QString notFound = QStringLiteral("tampod.posix/2");
const QString exhausted = QStringLiteral("tampod.posix/") + QString::number(EAGAIN);

QString freshId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

Report makeReport(int removed, int active, int retained, int errors, QStringList codes = {}, int recovered = 0,
                  int pending = 0, bool limited = false)
{
    Report report;
    report.removed = removed;
    report.active = active;
    report.retained = retained;
    report.errors = errors;
    report.failureCodes = std::move(codes);
    report.recoveredPairs = recovered;
    report.pendingPairs = pending;
    report.limited = limited;
    return report;
}

// A clock that jumps `by` once any of `names` under `folder` is gone.
TemporaryAudioCleanup::Clock jumpingClock(const QString &folder, const QStringList &names, std::chrono::seconds by)
{
    const auto start = std::chrono::steady_clock::now();
    return [=] {
        const bool oneGone = std::any_of(names.begin(), names.end(),
                                         [&](const QString &n) { return !exists(folder + "/" + n); });
        return start + (oneGone ? by : std::chrono::seconds(0));
    };
}

class TemporaryAudioCleanupTest : public ::testing::Test {
protected:
    QString root() const { return dir.file("store"); }
    QUrl rootUrl() const { return fileUrl(root()); }

    // A session of a launch that has ended: its folder stays, its lock is free.
    QString abandonedSession()
    {
        TemporaryAudioStore store(rootUrl());
        return store.session().toLocalFile();
    }
    void rewriteOwner(const QString &session, const std::function<void(TemporaryAudioStore::SessionOwner &)> &change)
    {
        auto owner = TemporaryAudioSafety::read<TemporaryAudioStore::SessionOwner>(fileUrl(session + "/owner.json"));
        change(owner);
        SplitExportTransaction::write(owner.toJson(), fileUrl(session + "/owner.json"));
    }
    Report run(int entries = TemporaryAudioCleanup::launchEntryBudget, const TemporaryAudioCleanup::Clock &clock = {})
    {
        return TemporaryAudioCleanup::run(rootUrl(), entries, clock);
    }

    TempDir dir;
};

} // namespace

TEST_F(TemporaryAudioCleanupTest, AbandonedSessionsGoAndLiveOnesStay)
{
    const QString bare = abandonedSession();
    ASSERT_EQ(::rmdir(QFile::encodeName(bare + "/jobs").constData()), 0);
    ASSERT_EQ(::rmdir(QFile::encodeName(bare + "/exports").constData()), 0);
    QString used;
    {
        TemporaryAudioStore store(rootUrl());
        used = store.session().toLocalFile();
        const QString job = store.makeDirectory().toLocalFile();
        makeFolder(job + "/deeper");
        writeFile(job + "/deeper/copy.wav", "working copy");
        // A record write cut short by a crash beside a finished record; neither names a
        // staging folder that still exists.
        writeFile(used + "/exports/.0A2B.json.tmp-3kx9", "{\"owner\":");
    }

    // Another launch that is still running, and this launch itself.
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        TemporaryAudioStore running(rootUrl());
        char byte = 'r';
        (void)!::write(fromChild[1], &byte, 1);
        (void)!::read(toChild[0], &byte, 1);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(fromChild[0], &byte, 1), 1);
    TemporaryAudioStore own(rootUrl());
    const auto liveBefore = snapshot(root(), {QFileInfo(bare).fileName(), QFileInfo(used).fileName()});

    EXPECT_EQ(run(), makeReport(2, 2, 0, 0));
    EXPECT_FALSE(exists(bare));
    EXPECT_FALSE(exists(used));
    EXPECT_EQ(snapshot(root()), liveBefore) << "live sessions are untouched";
    EXPECT_EQ(run(), makeReport(0, 2, 0, 0));

    (void)!::write(toChild[1], &byte, 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
        ::close(fd);
    EXPECT_EQ(run(), makeReport(1, 1, 0, 0)) << "once that launch ended, its session goes too";
    EXPECT_EQ(entriesOf(root()), QStringList{own.sessionId()});
}

TEST_F(TemporaryAudioCleanupTest, EntriesNotProvablyOursAreLeftUntouchedAndCounted)
{
    TemporaryAudioStore own(rootUrl());
    // Not a session name: retained without an error and never opened (a FIFO would hang).
    writeFile(root() + "/.hidden", "platform litter");
    makeFolder(root() + "/notes", 0777);
    ASSERT_EQ(::mkfifo(QFile::encodeName(root() + "/pipe").constData(), 0600), 0);
    // Named like a session but not a folder: an error each; the link's target is not examined.
    writeFile(root() + "/" + freshId(), "a file");
    makeFolder(dir.file("elsewhere"));
    writeFile(dir.file("elsewhere/precious"), "keep");
    makeLink(dir.file("elsewhere"), root() + "/" + freshId());
    // Sessions whose records do not prove them ours: retained without an error.
    const QString extra = abandonedSession();
    writeFile(extra + "/extra.txt", "");
    const QString foreignId = abandonedSession();
    rewriteOwner(foreignId, [](auto &o) { o.owner.id = freshId(); });
    const QString foreignSignature = abandonedSession();
    rewriteOwner(foreignSignature, [](auto &o) { o.owner.signature = "org.example.other.temporary-audio.v1"; });
    const QString foreignFolder = abandonedSession();
    rewriteOwner(foreignFolder, [](auto &o) { o.directory.inode += 1; });
    // Sessions that fail a check: an error each.
    const QString linked = abandonedSession();
    makeLink(dir.file("elsewhere/precious"), linked + "/jobs/escape");
    const QString lockless = abandonedSession();
    ASSERT_EQ(::unlink(QFile::encodeName(lockless + "/lock").constData()), 0);
    const QString swappedLock = abandonedSession();
    rewriteOwner(swappedLock, [](auto &o) { o.lock.inode += 1; });
    const QString shared = abandonedSession();
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0770), 0);

    const auto before = snapshot(dir.path());
    const Report report = run();
    EXPECT_EQ(report, makeReport(0, 1, 13, 6, {denied, denied, denied, denied, denied, denied}));
    EXPECT_EQ(snapshot(dir.path()), before);
    EXPECT_EQ(run(), report) << "nothing changes on later runs either";

    // A root that is a link is not followed at all.
    makeLink(root(), dir.file("linked-store"));
    EXPECT_EQ(TemporaryAudioCleanup::run(fileUrl(dir.file("linked-store")), TemporaryAudioCleanup::launchEntryBudget),
              makeReport(0, 0, 0, 1, {denied}));
    EXPECT_EQ(snapshot(dir.path(), {"linked-store"}), before);
}

TEST_F(TemporaryAudioCleanupTest, ExhaustedBudgetStopsTheRunAndLeavesTheRestForLater)
{
    for (int i = 0; i < 3; ++i)
        abandonedSession();
    const auto before = snapshot(root());

    // Too small to list the root: one error and nothing else.
    EXPECT_EQ(run(2), makeReport(0, 0, 0, 1, {exhausted}, 0, 0, true));
    EXPECT_EQ(snapshot(root()), before);

    // Cancelled: the same error, but not counted as limited.
    {
        CancellationSource source;
        source.cancel();
        CurrentCancellation::Scope scope(source.token());
        EXPECT_EQ(run(), makeReport(0, 0, 0, 1, {exhausted}));
    }

    // The deadline passes once the first session is gone: the next one is retained with the
    // error, the last one is not counted at all.
    const auto clock = jumpingClock(root(), entriesOf(root()), std::chrono::seconds(2));
    EXPECT_EQ(run(TemporaryAudioCleanup::launchEntryBudget, clock), makeReport(1, 0, 1, 1, {exhausted}, 0, 0, true));
    EXPECT_EQ(entriesOf(root()).size(), 2);
    EXPECT_EQ(run(), makeReport(2, 0, 0, 0)) << "a later launch finishes the work";
}

TEST_F(TemporaryAudioCleanupTest, SplitPairsAreSettledOrKeptPendingWithTheirStagingFolders)
{
    makeFolder(dir.file("disk"));
    makeFolder(dir.file("disk/out"));
    writeFile(dir.file("disk/out/Mix.wav"), "the user's mix");
    JournaledPair interrupted(root(), dir.file("disk/out"), "Take");
    interrupted.publish(0);
    const QString interruptedSession = interrupted.store->session().toLocalFile();
    interrupted.abandon();
    JournaledPair finished(root(), dir.file("disk/out"), "Other");
    finished.publish(0);
    finished.publish(1);
    finished.abandon();

    // The destination's disk is gone: both pairs stay pending with their staging folders and
    // records; only the sessions' working copies go.
    ASSERT_EQ(::rename(QFile::encodeName(dir.file("disk")).constData(), QFile::encodeName(dir.file("away")).constData()), 0);
    EXPECT_EQ(run(), makeReport(0, 0, 2, 2, {notFound, notFound}, 0, 2));
    for (const QString &session : entriesOf(root()))
        EXPECT_EQ(entriesOf(root() + "/" + session), (QStringList{"exports", "lock", "owner.json"}));
    EXPECT_TRUE(exists(dir.file("away/out/Take.L.sd2")));
    EXPECT_EQ(entriesOf(dir.file("away/out")).filter(".tampod-staging-").size(), 2);

    // With the disk back, the interrupted pair is taken back and the finished one kept.
    ASSERT_EQ(::rename(QFile::encodeName(dir.file("away")).constData(), QFile::encodeName(dir.file("disk")).constData()), 0);
    EXPECT_EQ(run(), makeReport(2, 0, 0, 0, {}, 1));
    EXPECT_EQ(entriesOf(dir.file("disk/out")), (QStringList{"Mix.wav", "Other.L.sd2", "Other.R.sd2"}));
    EXPECT_EQ(readAll(dir.file("disk/out/Mix.wav")), "the user's mix");
    EXPECT_TRUE(entriesOf(root()).isEmpty());
    EXPECT_FALSE(exists(interruptedSession));
}

TEST_F(TemporaryAudioCleanupTest, BudgetSpentDuringExportsKeepsTheRestPendingForTheNextLaunch)
{
    makeFolder(dir.file("out"));
    JournaledPair first(root(), dir.file("out"), "Take");
    JournaledPair second(first.store, dir.file("out"), "Other");
    const QString session = first.store->session().toLocalFile();
    for (JournaledPair *pair : {&first, &second}) {
        pair->publish(0);
        pair->abandon();
    }
    // The deadline passes once the first staging folder is gone.
    const auto clock = jumpingClock(dir.file("out"), entriesOf(dir.file("out")).filter(".tampod-staging-"),
                                    std::chrono::seconds(3));
    EXPECT_EQ(run(TemporaryAudioCleanup::launchEntryBudget, clock), makeReport(0, 0, 1, 1, {exhausted}, 1, 1));
    EXPECT_EQ(entriesOf(session), (QStringList{"exports", "lock", "owner.json"}));
    EXPECT_EQ(entriesOf(dir.file("out")).filter(".sd2").size(), 1) << "one half pair is still to be taken back";

    EXPECT_EQ(run(), makeReport(1, 0, 0, 0, {}, 1));
    EXPECT_TRUE(entriesOf(dir.file("out")).isEmpty());
}

TEST_F(TemporaryAudioCleanupTest, BadExportRecordsFailOneByOneAndKeepTheirSession)
{
    makeFolder(dir.file("out"));
    JournaledPair pair(root(), dir.file("out"));
    const QString session = pair.store->session().toLocalFile();
    const QString exports = session + "/exports";
    const QString job = pair.store->makeDirectory().toLocalFile();
    writeFile(job + "/copy.wav", "working copy");
    pair.abandon();

    makeFolder(exports + "/folder");
    writeFile(exports + "/garbage.json", "not json");
    // Records that are well-formed JSON but not acceptable: another signature, a name that is
    // not the record's id, a link in the staging folder.
    auto record = TemporaryAudioSafety::read<TemporaryAudioStore::ExportRecord>(*pair.stage.record);
    record.isSplitPair.reset();
    auto foreign = record;
    foreign.owner.signature = "org.example.other.temporary-audio.v1";
    writeFile(exports + "/" + foreign.owner.id.toLower() + "x.json", StrictJson::dump(foreign.toJson()));
    writeFile(exports + "/" + freshId() + ".json", StrictJson::dump(record.toJson()));
    makeLink(dir.file("out"), pair.stagePath() + "/escape");
    for (int i = 0; i < 6; ++i)
        writeFile(exports + "/stray-" + QString::number(i), "");
    const auto before = snapshot(dir.path(), {"store/" + QFileInfo(session).fileName() + "/jobs"});

    const Report report = run();
    EXPECT_EQ(report.errors, 11);
    EXPECT_EQ(report.failureCodes.size(), 8);
    EXPECT_EQ(report.retained, 1);
    EXPECT_EQ(report.pendingPairs, 1) << "the split pair's own record";
    EXPECT_EQ(report.removed + report.active + report.recoveredPairs, 0);
    for (const QString &code : report.failureCodes)
        EXPECT_TRUE(code == denied || code == "tampod.posix/22" || code == "tampod.json/1") << code.toStdString();
    EXPECT_FALSE(exists(session + "/jobs"));
    EXPECT_EQ(snapshot(dir.path()), before) << "everything but the working copies stays";
}

TEST(SplitExportRecoveryNotice, ReportsOnlyRecoveredAndPendingPairs)
{
    Report report = makeReport(3, 1, 4, 5, {denied}, 0, 0, true);
    EXPECT_FALSE(SplitExportRecoveryNotice::make(report).has_value());

    report.recoveredPairs = 2;
    const auto notice = SplitExportRecoveryNotice::make(report);
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(notice->title, "Interrupted split-channel export");
    const QString recovered = "Recovery completed for 2 interrupted export(s). Verified incomplete channel output "
                              "has been removed. Add the original files again and retry using the same output name "
                              "if both channel names are available. If another file still uses either name, choose "
                              "a new output name.";
    const QString pending = "1 export(s) could not be safely cleaned up. Connect the destination disk and relaunch "
                            "tamPOD. If recovery still cannot finish, inspect both channel filenames and choose a "
                            "new output name. Changed or unrelated files are preserved.";
    const QString closing = "Your source audio is unchanged. Completed export pairs are preserved.";
    EXPECT_EQ(notice->message, recovered + "\n\n" + closing);

    report.pendingPairs = 1;
    EXPECT_EQ(SplitExportRecoveryNotice::make(report)->message, recovered + "\n\n" + pending + "\n\n" + closing);
    report.recoveredPairs = 0;
    EXPECT_EQ(SplitExportRecoveryNotice::make(report)->message, pending + "\n\n" + closing);
}

// In children: the process-wide store is built once per process.
TEST(TemporaryAudioStoreLaunchCleanup, CleansTheSharedStoreOrNothingWhenItCouldNotBeBuilt)
{
    TempDir dir;
    const QString root = dir.file("cache/tamPOD/tamPOD-owned-audio-v1");
    makeFolder(dir.file("cache"));
    makeFolder(dir.file("cache/tamPOD"));
    makeFolder(root, 0777);
    EXPECT_EQ(inChild([&] {
                  qputenv("XDG_CACHE_HOME", encoded(dir.file("cache")));
                  std::optional<std::optional<Report>> result;
                  auto waiter = [&]() -> QCoro::Task<> { result = co_await TemporaryAudioStore::cleanAbandoned(); };
                  auto task = waiter();
                  return result.has_value() && !result->has_value() ? 0 : 1;
              }),
              0)
        << "no report at once when the store could not be built";

    ASSERT_EQ(::chmod(QFile::encodeName(root).constData(), 0700), 0);
    EXPECT_EQ(inChild([&] {
                  qputenv("XDG_CACHE_HOME", encoded(dir.file("cache")));
                  TemporaryAudioStore &store = TemporaryAudioStore::shared();
                  { TemporaryAudioStore ended(store.root()); }
                  const std::optional<Report> report = runTask(TemporaryAudioStore::cleanAbandoned());
                  return report && *report == makeReport(1, 1, 0, 0) && entriesOf(root) == QStringList{store.sessionId()}
                      ? 0
                      : 1;
              }),
              0);
}
