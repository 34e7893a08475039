#include "player/playback_command_coordinator.h"

#include "concurrency/serial_executor.h"
#include "core/error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <set>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

// An engine whose snapshots count how many were asked for.
class FakeEngine final : public PlaybackServing {
public:
    Async<void> load(AudioTrack, double, bool) override { return call(); }
    Async<void> loadSection(AudioTrack, std::shared_ptr<const PreparedSection>, double) override { return call(); }
    Async<void> play() override { return call(); }
    Async<void> pause() override { return call(); }
    Async<void> unload() override { return call(); }
    Async<void> seek(double) override { return call(); }
    Async<void> setVolume(double) override { return call(); }
    Async<void> setRepeat(bool) override { return call(); }
    Async<PlaybackSnapshot> snapshot() override
    {
        return executor_.submit([this] {
            PlaybackSnapshot snapshot;
            snapshot.position = ++snapshots_;
            return snapshot;
        });
    }

private:
    Async<void> call() { return executor_.submit([] {}); }
    int snapshots_ = 0; // thread: executor_
    SerialExecutor executor_{QStringLiteral("fake engine")};
};

class CoordinatorTest : public ::testing::Test {
protected:
    CoordinatorTest()
    {
        // Logged with the engine's snapshot count, which tells which snapshot a refresh got.
        coordinator->updated = [this](const PlaybackSnapshot &s, bool refresh) {
            log.push_back((refresh ? "refresh " : "poll ") + QString::number(s.position));
            pollTimes.push_back(refresh ? -1 : clock.elapsed());
        };
        coordinator->failed = [this](std::exception_ptr error) { failures.push_back(errorText(error)); };
        coordinator->shouldMonitor = [this] { return monitor; };
    }
    ~CoordinatorTest() override
    {
        held.clear();
        coordinator.reset();
        // Every task has ended once none holds the engine any more.
        EXPECT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1; }));
    }

    // A command that logs its start and end around an engine call; it waits while held.
    void enqueue(const QString &name, bool refresh = false, bool fail = false)
    {
        coordinator->enqueue(refresh, [this, name, fail](PlaybackServing &engine) -> QCoro::Task<> {
            log.push_back(name + " start");
            co_await engine.play();
            while (held.count(name))
                co_await sleepFor(1ms);
            log.push_back(name + " end");
            if (fail)
                throw Error(QStringLiteral("test"), 1, name);
        });
    }

    bool logged(const QString &entry) const { return std::count(log.begin(), log.end(), entry) > 0; }
    long polls() const
    {
        return std::count_if(log.begin(), log.end(), [](const QString &e) { return e.startsWith("poll"); });
    }
    // Showing that something does not happen needs some time to pass.
    static void settle() { test::pumpUntil([] { return false; }, 120ms); }

    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::unique_ptr<PlaybackCommandCoordinator> coordinator = std::make_unique<PlaybackCommandCoordinator>(engine);
    std::set<QString> held;
    std::vector<QString> log, failures;
    std::vector<qint64> pollTimes;
    bool monitor = false;
    QElapsedTimer clock;
};

using Log = std::vector<QString>;

} // namespace

TEST_F(CoordinatorTest, CommandsRunInQueueOrderAndInvalidateDropsTheWaitingOnes)
{
    held = {"1"};
    enqueue("1", true);
    enqueue("2", true);
    enqueue("3", true);
    settle();
    EXPECT_EQ(log, Log{"1 start"});
    held.clear();
    // Only the newest command refreshes.
    ASSERT_TRUE(test::pumpUntil([&] { return log.size() == 7; }));
    EXPECT_EQ(log, (Log{"1 start", "1 end", "2 start", "2 end", "3 start", "3 end", "refresh 1"}));

    log.clear();
    held = {"4"};
    enqueue("4", true);
    coordinator->invalidate();
    held.clear(); // the running command finishes and, being the newest, refreshes
    ASSERT_TRUE(test::pumpUntil([&] { return logged("refresh 2"); }));
    held = {"6"};
    enqueue("6");
    enqueue("7");
    coordinator->invalidate();
    enqueue("8", true);
    held.clear();
    ASSERT_TRUE(test::pumpUntil([&] { return logged("refresh 3"); }));
    EXPECT_EQ(log, (Log{"4 start", "4 end", "refresh 2", "6 start", "6 end", "8 start", "8 end", "refresh 3"}));
}

TEST_F(CoordinatorTest, AFailureIsReportedOnceUnlessInvalidatedFirst)
{
    monitor = true;
    // A command that fails before its enqueue returns still drops the one queued right behind it.
    enum class Round { failsAtOnce, failsLater, invalidated };
    for (const Round round : {Round::failsAtOnce, Round::failsLater, Round::invalidated}) {
        SCOPED_TRACE(int(round));
        log.clear();
        failures.clear();
        held = {"fails"};
        if (round == Round::failsAtOnce)
            coordinator->enqueue(false, [this](PlaybackServing &) -> QCoro::Task<> {
                log.push_back("fails end");
                throw Error(QStringLiteral("test"), 1, QStringLiteral("fails"));
                co_return;
            });
        else
            enqueue("fails", false, true);
        enqueue("behind");
        const bool invalidated = round == Round::invalidated;
        if (invalidated) {
            coordinator->invalidate();
            enqueue("after");
        }
        held.clear();
        ASSERT_TRUE(test::pumpUntil([&] { return logged(invalidated ? "after end" : "fails end"); }));
        settle();
        EXPECT_FALSE(logged("behind start"));
        EXPECT_EQ(failures, invalidated ? Log{} : Log{"fails"});
        EXPECT_EQ(polls() > 0, invalidated);
    }
}

TEST_F(CoordinatorTest, RefreshAndMonitorFollowTheFlagAndTheModel)
{
    for (const bool refresh : {false, true}) {
        for (const bool model : {false, true}) {
            SCOPED_TRACE(testing::Message() << refresh << model);
            log.clear();
            monitor = model;
            enqueue("1", refresh);
            ASSERT_TRUE(test::pumpUntil([&] { return logged("1 end") && (!model || polls() >= 2); }));
            settle();
            EXPECT_EQ(log.size() > 2 && log[2].startsWith("refresh"), refresh);
            EXPECT_EQ(polls() > 0, model);
            EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto &e) { return e.startsWith("refresh"); }),
                      refresh ? 1 : 0);
            coordinator->stopMonitoring();
        }
    }
}

TEST_F(CoordinatorTest, ACommandOrStopMonitoringEndsThePolls)
{
    monitor = true;
    clock.start();
    enqueue("1");
    ASSERT_TRUE(test::pumpUntil([&] { return polls() >= 4; }));
    for (size_t i = 1; i < pollTimes.size(); ++i)
        EXPECT_GE(pollTimes[i] - pollTimes[i - 1], 30) << i;

    held = {"2"};
    enqueue("2");
    const auto before = log.size();
    settle();
    EXPECT_EQ(log.size(), before); // "2 start" was logged by enqueue itself
    held.clear();
    ASSERT_TRUE(test::pumpUntil([&] { return log.size() >= before + 2; }));
    EXPECT_EQ(log[before], "2 end");

    coordinator->stopMonitoring();
    const auto stopped = polls();
    monitor = false;
    enqueue("3");
    ASSERT_TRUE(test::pumpUntil([&] { return logged("3 end"); }));
    settle();
    EXPECT_EQ(polls(), stopped);
    monitor = true;
    enqueue("4");
    ASSERT_TRUE(test::pumpUntil([&] { return polls() > stopped; }));
}

TEST_F(CoordinatorTest, QueuedWorkEndsQuietlyWhenTheCoordinatorGoes)
{
    monitor = true;
    held = {"1"};
    enqueue("1", true, true);
    enqueue("2", true);
    coordinator.reset();
    held.clear();
    ASSERT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1; }));
    EXPECT_EQ(log, (Log{"1 start", "1 end"}));
    EXPECT_TRUE(failures.empty());
}
