#include "file_fixtures.h"

#include "concurrency/cancellation.h"
#include "core/strict_json.h"
#include "files/split_export_recovery_notice.h"

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

// A clock that jumps `by` once any of `names` under `folder` is gone.
TemporaryAudioCleanup::Clock jumpingClock(const QString &folder, const QStringList &names, std::chrono::seconds by)
{
    const auto start = std::chrono::steady_clock::now();
    return [=] {
        const bool gone = std::any_of(names.begin(), names.end(), [&](const QString &n) { return !exists(folder + "/" + n); });
        return start + (gone ? by : std::chrono::seconds(0));
    };
}

class TemporaryAudioCleanupTest : public ::testing::Test {
protected:
    QString root() const { return dir.file("store"); }

    // A session of a launch that has ended: its folder stays, its lock is free.
    QString abandonedSession(const std::function<void(TemporaryAudioStore::SessionOwner &)> &change = {})
    {
        const QString session = TemporaryAudioStore(fileUrl(root())).session().toLocalFile();
        if (change) {
            auto owner = TemporaryAudioSafety::read<TemporaryAudioStore::SessionOwner>(fileUrl(session + "/owner.json"));
            change(owner);
            SplitExportTransaction::write(owner.toJson(), fileUrl(session + "/owner.json"));
        }
        return session;
    }
    Report run(int entries = TemporaryAudioCleanup::launchEntryBudget, const TemporaryAudioCleanup::Clock &clock = {})
    {
        return TemporaryAudioCleanup::run(fileUrl(root()), entries, clock);
    }

    TempDir dir;
};

} // namespace

TEST_F(TemporaryAudioCleanupTest, AbandonedSessionsGoAndLiveOnesStay)
{
    QStringList ended{abandonedSession(), abandonedSession(), abandonedSession(), abandonedSession()};
    keepOnly(ended[0], {"lock", "owner.json"});
    const QString job = ended[1] + "/jobs/" + freshId();
    makeFolder(job);
    writeFile(job + "/copy.wav", "working copy");
    writeFile(ended[1] + "/exports/.0A2B.json.tmp-3kx9", "{\"owner\":"); // a record write cut short
    // Removals cut short after the owner file went leave the lock alone, or nothing.
    keepOnly(ended[2], {"lock"});
    keepOnly(ended[3]);

    // This launch, and another one still running (its lock is as busy as any other launch's).
    TemporaryAudioStore own(fileUrl(root()));
    auto other = std::make_unique<TemporaryAudioStore>(fileUrl(root()));
    for (QString &session : ended)
        session = QFileInfo(session).fileName();
    const auto liveBefore = snapshot(root(), ended);
    EXPECT_EQ(run(), report(4, 2, 0));
    EXPECT_EQ(snapshot(root()), liveBefore) << "live sessions are untouched";
    EXPECT_EQ(run(), report(0, 2, 0));
    other.reset();
    EXPECT_EQ(run(), report(1, 1, 0)) << "once that launch ended, its session goes too";
    EXPECT_EQ(entriesOf(root()), QStringList{own.sessionId()});
}

TEST_F(TemporaryAudioCleanupTest, EntriesNotProvablyOursAreLeftUntouchedAndCounted)
{
    TemporaryAudioStore own(fileUrl(root()));
    // Not a session name: retained without an error and never opened (a FIFO would hang).
    writeFile(root() + "/.hidden", "platform litter");
    makeFolder(root() + "/notes", 0777);
    ASSERT_EQ(::mkfifo(encoded(root() + "/pipe").constData(), 0600), 0);
    // Named like a session but not a folder: an error each; the link's target is not examined.
    writeFile(root() + "/" + freshId(), "a file");
    makeFolder(dir.file("elsewhere"));
    writeFile(dir.file("elsewhere/precious"), "keep");
    makeLink(dir.file("elsewhere"), root() + "/" + freshId());
    // Sessions whose records do not prove them ours: retained without an error.
    writeFile(abandonedSession() + "/extra.txt", "");
    abandonedSession([](auto &o) { o.owner.id = freshId(); });
    abandonedSession([](auto &o) { o.owner.signature = "org.example.other.temporary-audio.v1"; });
    abandonedSession([](auto &o) { o.directory.inode += 1; });
    // Sessions that fail a check: an error each.
    makeLink(dir.file("elsewhere/precious"), abandonedSession() + "/jobs/escape");
    QFile::remove(abandonedSession() + "/lock");
    abandonedSession([](auto &o) { o.lock.inode += 1; });
    ASSERT_EQ(::chmod(encoded(abandonedSession()).constData(), 0770), 0);
    const QString planted = abandonedSession();
    keepOnly(planted, {"lock"});
    writeFile(planted + "/notes.txt", "no owner file, and more than a lock");

    const auto before = snapshot(dir.path());
    const Report expected = report(0, 1, 14, QStringList(7, denied));
    EXPECT_EQ(run(), expected);
    EXPECT_EQ(run(), expected) << "nothing changes on later runs either";
    // A root that is a link is not followed at all.
    makeLink(root(), dir.file("linked-store"));
    EXPECT_EQ(cleanUp(dir.file("linked-store")), report(0, 0, 0, {denied}));
    EXPECT_EQ(snapshot(dir.path(), {"linked-store"}), before);
}

TEST_F(TemporaryAudioCleanupTest, ExhaustedBudgetStopsTheRunAndLeavesTheRestForLater)
{
    for (int i = 0; i < 3; ++i)
        abandonedSession();
    const auto before = snapshot(root());
    EXPECT_EQ(run(2), report(0, 0, 0, {exhausted}, 0, 0, true)) << "too small to list the root";
    EXPECT_EQ(snapshot(root()), before);
    {
        const CurrentCancellation::Scope scope(test::cancelledToken());
        EXPECT_EQ(run(), report(0, 0, 0, {exhausted})) << "cancelled: not counted as limited";
    }
    // The deadline passes once the first session is gone: the next one is retained with the
    // error, the last one is not counted at all.
    const auto clock = jumpingClock(root(), entriesOf(root()), std::chrono::seconds(2));
    EXPECT_EQ(run(TemporaryAudioCleanup::launchEntryBudget, clock), report(1, 0, 1, {exhausted}, 0, 0, true));
    EXPECT_EQ(run(), report(2, 0, 0)) << "a later launch finishes the work";

    // The same within a session's exports: the rest stays pending for the next launch.
    makeFolder(dir.file("out"));
    StagedPair first(root(), dir.file("out"), "Take");
    StagedPair second(first.store, dir.file("out"), "Other");
    for (StagedPair *pair : {&first, &second}) {
        pair->begun().publish(0);
        pair->abandon();
    }
    const auto stages = jumpingClock(dir.file("out"), entriesOf(dir.file("out")).filter(".tampod-staging-"), std::chrono::seconds(3));
    EXPECT_EQ(run(TemporaryAudioCleanup::launchEntryBudget, stages), report(0, 0, 1, {exhausted}, 1, 1));
    EXPECT_EQ(entriesOf(dir.file("out")).filter(".sd2").size(), 1) << "one half pair is still to be taken back";
    EXPECT_EQ(run(), report(1, 0, 0, {}, 1));
    EXPECT_EQ(entriesOf(dir.file("out")), QStringList{});
}

TEST_F(TemporaryAudioCleanupTest, ExportsAreSettledWhenTheirDiskIsThereAndPendingWhenNot)
{
    makeFolder(dir.file("disk"));
    makeFolder(dir.file("disk/out"));
    writeFile(dir.file("disk/out/Mix.wav"), "the user's mix");
    StagedPair interrupted(root(), dir.file("disk/out"), "Take");
    interrupted.begun().publish(0);
    StagedPair finished(root(), dir.file("disk/out"), "Other");
    finished.begun().publish(0);
    finished.publish(1);
    // Removals that ended after the staging folder went, or after its owner file went.
    StagedPair gone(finished.store, dir.file("disk/out"), "Gone");
    ASSERT_TRUE(QDir(gone.stagePath()).removeRecursively());
    StagedPair emptied(finished.store, dir.file("disk/out"), "Emptied");
    keepOnly(emptied.stagePath());
    for (StagedPair *pair : {&interrupted, &finished, &gone, &emptied})
        pair->abandon();

    // The destination's disk is gone: every export stays pending with its record; only the
    // sessions' working copies go.
    rename(dir.file("disk"), dir.file("away"));
    EXPECT_EQ(run(), report(0, 0, 2, {notFound, notFound, notFound, notFound}, 0, 2));
    for (const QString &session : entriesOf(root()))
        EXPECT_EQ(entriesOf(root() + "/" + session), (QStringList{"exports", "lock", "owner.json"}));
    EXPECT_EQ(entriesOf(dir.file("away/out")).filter(".tampod-staging-").size(), 3);

    rename(dir.file("away"), dir.file("disk"));
    EXPECT_EQ(run(), report(2, 0, 0, {}, 1));
    EXPECT_EQ(entriesOf(dir.file("disk/out")), (QStringList{"Mix.wav", "Other.L.sd2", "Other.R.sd2"}));
    EXPECT_EQ(entriesOf(root()), QStringList{});
}

TEST_F(TemporaryAudioCleanupTest, AStagingFolderFoundUnderAnotherNameIsKept)
{
    makeFolder(dir.file("out"));
    StagedPair pair(root(), dir.file("out"));
    const QString record = pair.stage.record->toLocalFile();
    pair.abandon();
    rename(pair.stagePath(), dir.file("out/.tampod-staging-renamed"));
    EXPECT_EQ(run(), report(0, 0, 1, {denied}));
    EXPECT_EQ(entriesOf(dir.file("out/.tampod-staging-renamed")),
              (QStringList{"encoded-0.sd2", "encoded-1.sd2", "tampod-owner.json"}));
    EXPECT_TRUE(exists(record));
}

TEST_F(TemporaryAudioCleanupTest, BadExportRecordsFailOneByOneAndKeepTheirSession)
{
    makeFolder(dir.file("out"));
    StagedPair pair(root(), dir.file("out"));
    pair.begun();
    const QString session = pair.store->session().toLocalFile();
    const QString exports = session + "/exports";
    writeFile(pair.store->makeDirectory().toLocalFile() + "/copy.wav", "working copy");
    pair.abandon();

    makeFolder(exports + "/folder");
    writeFile(exports + "/garbage.json", "not json");
    // Well-formed but not acceptable: another signature, a name that is not the record's id,
    // a link in the staging folder.
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

    // Eleven failures, of which the first eight keep their codes; the split pair's own record
    // stays pending.
    Report result = run();
    const QStringList codes = std::exchange(result.failureCodes, {});
    EXPECT_EQ(result, (Report{0, 0, 1, 11, 0, 1, false, {}}));
    EXPECT_EQ(codes.size(), 8);
    for (const QString &code : codes)
        EXPECT_TRUE(code == denied || code == "tampod.posix/22" || code == "tampod.json/1") << code.toStdString();
    EXPECT_FALSE(exists(session + "/jobs"));
    EXPECT_EQ(snapshot(dir.path()), before) << "everything but the working copies stays";
}

TEST(SplitExportRecoveryNotice, ReportsOnlyRecoveredAndPendingPairs)
{
    Report counts = report(3, 1, 4, {denied}, 0, 0, true);
    EXPECT_FALSE(SplitExportRecoveryNotice::make(counts).has_value());
    const QString recovered = "Recovery completed for 2 interrupted export(s). Verified incomplete channel output "
                              "has been removed. Add the original files again and retry using the same output name "
                              "if both channel names are available. If another file still uses either name, choose "
                              "a new output name.";
    const QString pending = "1 export(s) could not be safely cleaned up. Connect the destination disk and relaunch "
                            "tamPOD. If recovery still cannot finish, inspect both channel filenames and choose a "
                            "new output name. Changed or unrelated files are preserved.";
    const QString closing = "Your source audio is unchanged. Completed export pairs are preserved.";
    for (const auto &[recoveredPairs, pendingPairs, message] :
         {std::tuple{2, 0, recovered + "\n\n" + closing}, {2, 1, recovered + "\n\n" + pending + "\n\n" + closing},
          {0, 1, pending + "\n\n" + closing}}) {
        counts.recoveredPairs = recoveredPairs;
        counts.pendingPairs = pendingPairs;
        const auto notice = SplitExportRecoveryNotice::make(counts);
        ASSERT_TRUE(notice.has_value());
        EXPECT_EQ(notice->title, "Interrupted split-channel export");
        EXPECT_EQ(notice->message, message);
    }
}
