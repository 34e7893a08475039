// A split-pair publication killed at every step, then cleaned up by the next launch.
#include "split_pair_fixture.h"

#include "files/temporary_audio_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tampod;
using namespace tampod::test;
using Report = TemporaryAudioCleanup::Report;

namespace {

// Set only in a forked child: it dies the moment it is about to delete a file it took back
// from the destination, which is the middle of a take-back.
std::atomic<bool> dieBeforeDeletingTakenBackFile{false};

[[noreturn]] void die()
{
    ::kill(::getpid(), SIGKILL);
    ::_exit(99);
}

} // namespace

// Every unlinkat of this test program passes through here.
extern "C" int unlinkat(int dirFd, const char *name, int flags) noexcept
{
    if (dieBeforeDeletingTakenBackFile.load() && std::strncmp(name, "tampod-unpublished-", 19) == 0)
        die();
    return static_cast<int>(::syscall(SYS_unlinkat, dirFd, name, flags));
}

namespace {

// The publication steps done before the kill; a take-back is killed after the first one.
enum KillPoint { afterBegin, afterFirstPublication, afterSecondPublication, afterCommittedMarker, duringTakeBack };
const char *const killPointNames[] = {"afterBegin", "afterFirstPublication", "afterSecondPublication",
                                      "afterCommittedMarker", "duringTakeBack"};

// Runs `steps` in a forked child, which must end killed by SIGKILL.
void expectKilled(const std::function<void()> &steps)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            steps();
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child status " << status;
}

class SplitExportCrashTest : public ::testing::TestWithParam<KillPoint> {
protected:
    void SetUp() override
    {
        makeFolder(dir.file("disk"));
        makeFolder(dir.file("disk/out"));
        writeFile(dir.file("disk/out/Take.wav"), "the source recording");
        writeFile(dir.file("disk/out/Take.L.sd2.txt"), "a near name");
        makeFolder(dir.file("disk/out/older"));
        writeFile(dir.file("disk/out/older/Take.L.sd2"), "an older export elsewhere");
        writeFile(dir.file("disk/notes.txt"), "notes");
    }

    // Everything but the store and the staging folders.
    QMap<QString, QByteArray> userFiles() const
    {
        QStringList excluded{"store"};
        for (const QString &name : entriesOf(dir.file("disk/out")))
            if (name.startsWith(".tampod-staging-"))
                excluded.append("disk/out/" + name);
        return snapshot(dir.path(), excluded);
    }

    // A split-pair publication that is killed at `point`.
    void publishUntil(KillPoint point) const
    {
        const int steps = point == duringTakeBack ? 1 : point;
        JournaledPair pair(dir.file("store"), dir.file("disk/out"));
        for (int step = 0; step < steps; ++step)
            step < 2 ? pair.publish(step) : pair.mark("tampod-pair-committed.json");
        die();
    }

    TempDir dir;
};

} // namespace

TEST_P(SplitExportCrashTest, NextLaunchLeavesBothChannelFilesOrNeither)
{
    const KillPoint point = GetParam();
    const auto before = userFiles();
    expectKilled([&] { publishUntil(point); });

    bool published = point == afterSecondPublication || point == afterCommittedMarker;
    if (point == duringTakeBack) {
        // A cleanup that dies in the middle of taking the first file back.
        expectKilled([&] {
            dieBeforeDeletingTakenBackFile = true;
            TemporaryAudioCleanup::run(QUrl::fromLocalFile(dir.file("store")), TemporaryAudioCleanup::launchEntryBudget);
        });
        const QStringList stages = entriesOf(dir.file("disk/out")).filter(".tampod-staging-");
        ASSERT_EQ(stages.size(), 1);
        const QStringList left = entriesOf(dir.file("disk/out/" + stages[0]));
        EXPECT_TRUE(left.contains("tampod-unpublished-0") && left.contains("tampod-pair-recovering.json"))
            << left.join(' ').toStdString();
        EXPECT_FALSE(exists(dir.file("disk/out/Take.L.sd2")));
    }

    Report expected;
    expected.removed = 1;
    expected.recoveredPairs = point == afterFirstPublication || point == duringTakeBack;
    EXPECT_EQ(TemporaryAudioCleanup::run(QUrl::fromLocalFile(dir.file("store")), TemporaryAudioCleanup::launchEntryBudget),
              expected);

    EXPECT_EQ(exists(dir.file("disk/out/Take.L.sd2")), published) << "never half a pair";
    EXPECT_EQ(exists(dir.file("disk/out/Take.R.sd2")), published) << "never half a pair";
    if (published) {
        EXPECT_EQ(readAll(dir.file("disk/out/Take.L.sd2")), JournaledPair::leftBytes());
        EXPECT_EQ(readAll(dir.file("disk/out/Take.R.sd2")), JournaledPair::rightBytes());
    }
    EXPECT_TRUE(entriesOf(dir.file("disk/out")).filter(".tampod-staging-").isEmpty());
    EXPECT_TRUE(entriesOf(dir.file("store")).isEmpty());
    auto now = userFiles();
    now.remove("disk/out/Take.L.sd2");
    now.remove("disk/out/Take.R.sd2");
    EXPECT_EQ(now, before) << "nothing outside the store and the staging folder changed";

    const auto settled = snapshot(dir.path());
    EXPECT_EQ(TemporaryAudioCleanup::run(QUrl::fromLocalFile(dir.file("store")), TemporaryAudioCleanup::launchEntryBudget),
              Report{});
    EXPECT_EQ(snapshot(dir.path()), settled) << "a second cleanup changes nothing";
}

INSTANTIATE_TEST_SUITE_P(EveryStep, SplitExportCrashTest,
                         ::testing::Values(afterBegin, afterFirstPublication, afterSecondPublication,
                                           afterCommittedMarker, duringTakeBack),
                         [](const auto &info) { return std::string(killPointNames[info.param]); });
