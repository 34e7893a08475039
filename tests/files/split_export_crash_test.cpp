// The store's set-up and a pair's staging, or a split-pair publication, killed before each of
// their file-system calls in turn, and the next launch's recovery killed the same way: the launch after that always leaves both channel
// files or neither, nothing stray, and a further launch changes nothing.
#include "file_fixtures.h"

#include "support/crash_points.h"

#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <sys/syscall.h>

using namespace tampod;
using namespace tampod::test;

namespace {
// Plays a file system without RENAME_NOREPLACE, so the link-and-unlink fallback is killed too.
std::atomic<bool> noExclusiveRename{false};
} // namespace

extern "C" int renameat2(int fromFd, const char *from, int toFd, const char *to, unsigned flags) noexcept
{
    if (noExclusiveRename && (flags & RENAME_NOREPLACE))
        return errno = EINVAL, -1;
    return static_cast<int>(::syscall(SYS_renameat2, fromFd, from, toFd, to, flags));
}

namespace {

// The publication, up to `steps` of its steps: journal, first file, second file, committed
// marker, removal of the stage.
void publish(const QString &store, const QString &folder, int steps, const std::function<void()> &arm)
{
    StagedPair pair(store, folder);
    arm();
    const std::function<void()> step[] = {[&] { pair.begun(); }, [&] { pair.publish(0); }, [&] { pair.publish(1); },
                                          [&] { pair.mark(SplitExportTransaction::committedMarkerName); },
                                          [&] { pair.stage.remove(); }};
    for (int i = 0; i < steps; ++i)
        step[i]();
}

// A disk with the user's files beside the destination names; on a memory file system when
// there is one, since every crash point costs a few flushes.
class Scene {
public:
    Scene() : base_(QDir("/dev/shm").isReadable() ? "/dev/shm/tampod-crash-XXXXXX" : QDir::tempPath() + "/tampod-crash-XXXXXX")
    {
        makeFolder(out());
        makeFolder(out() + "/older");
        writeFile(out() + "/older/Take.L.sd2", "an older export elsewhere");
        writeFile(out() + "/Take.L.sd2.txt", "a near name");
        before_ = userFiles();
    }

    QString store() const { return base_.filePath("store"); }
    QString out() const { return base_.filePath("out"); }

    // The next launch settles everything, and the one after it finds nothing to do. Returns
    // whether the pair is at the destination.
    bool expectSettledByTheNextLaunches(int n) const
    {
        SCOPED_TRACE("killed before call " + std::to_string(n));
        if (!exists(store())) // the next launch's store makes it before its cleanup
            makeFolder(store(), 0700);
        const auto first = cleanUp(store());
        EXPECT_EQ(first.errors + first.pendingPairs, 0) << ::testing::PrintToString(first);
        StagedPair::expectBothOrNeither(out() + "/Take");
        EXPECT_EQ(userFiles(), before_) << "nothing else at the destination changed or stayed";
        EXPECT_EQ(entriesOf(store()), QStringList{}) << "nothing stays in the store";
        const auto settled = snapshot(base_.path());
        EXPECT_EQ(cleanUp(store()), TemporaryAudioCleanup::Report{});
        EXPECT_EQ(snapshot(base_.path()), settled) << "a second recovery changes nothing";
        return exists(out() + "/Take.L.sd2");
    }

private:
    QMap<QString, QByteArray> userFiles() const
    {
        auto files = snapshot(out());
        files.remove("Take.L.sd2");
        files.remove("Take.R.sd2");
        return files;
    }

    QTemporaryDir base_;
    QMap<QString, QByteArray> before_;
};

// With the exclusive rename or its fallback; the recovery after 1 to 4 publication steps.
class SplitExportCrashTest : public ::testing::TestWithParam<std::tuple<bool, int>> {
protected:
    void SetUp() override { noExclusiveRename = std::get<0>(GetParam()); }
    void TearDown() override { noExclusiveRename = false; }
};

} // namespace

TEST_P(SplitExportCrashTest, PublicationAndRecoveryKilledBeforeAnyCall)
{
    const int steps = std::get<1>(GetParam());
    bool published = false;
    for (int n = 1;; ++n) {
        Scene scene;
        bool died = false;
        if (steps < 0) { // the store's set-up and the staging of the pair
            died = diesAtCall(n, [&](const auto &arm) { arm(), StagedPair(scene.store(), scene.out()); });
        } else if (steps == 0) { // the publication itself
            died = diesAtCall(n, [&](const auto &arm) { publish(scene.store(), scene.out(), 5, arm); });
        } else {
            publish(scene.store(), scene.out(), steps, [] {});
            died = diesAtCall(n, [&](const auto &arm) { arm(), cleanUp(scene.store()); });
        }
        const bool pair = scene.expectSettledByTheNextLaunches(n);
        if (steps > 0) {
            EXPECT_EQ(pair, steps > 2) << "a pair is published once its second file is";
        }
        EXPECT_TRUE(pair || !published) << "a published pair stays published at later points";
        published = pair;
        if (!died)
            break;
        ASSERT_LT(n, 500) << "never ends";
    }
    EXPECT_TRUE(published || steps != 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, SplitExportCrashTest, ::testing::Combine(::testing::Bool(), ::testing::Range(-1, 5)),
                         [](const auto &info) {
                             const int steps = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param) ? "LinkAndUnlink" : "Exclusive")
                                 + (steps < 0 ? std::string("Setup") : std::to_string(steps));
                         });
