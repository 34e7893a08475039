#include "player/playback_command_coordinator.h"

#include "concurrency/serial_executor.h"
#include "core/error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <coroutine>
#include <list>
#include <mutex>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

// An engine that only counts: each snapshot reports how many were asked so far.
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
    Async<void> call()
    {
        return executor_.submit([] {});
    }

    int snapshots_ = 0; // thread: executor_
    SerialExecutor executor_{QStringLiteral("fake engine")};
};

// Holds the commands that await it until opened.
class Gate {
public:
    // The awaiter refers to the gate: an awaitable may be copied by the coroutine machinery.
    struct Wait {
        Gate &gate;
        bool await_ready() const noexcept { return gate.open_; }
        void await_suspend(std::coroutine_handle<> handle) { gate.waiting_.push_back(handle); }
        void await_resume() const noexcept {}
    };
    Wait wait() { return {*this}; }
    void open()
    {
        open_ = true;
        for (auto handle : std::exchange(waiting_, {}))
            resumeOnMainThread(handle);
    }

private:
    bool open_ = false;
    std::vector<std::coroutine_handle<>> waiting_;
};

class Refused : public Error {
public:
    explicit Refused(const QString &what) : Error(QStringLiteral("test"), 1, what) {}
};

class CoordinatorTest : public ::testing::Test {
protected:
    CoordinatorTest() { make(); }

    ~CoordinatorTest() override
    {
        for (auto &gate : gates)
            gate.open();
        coordinator.reset();
        // Every task has ended once none holds the engine any more.
        EXPECT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1; }));
    }

    void make()
    {
        coordinator = std::make_unique<PlaybackCommandCoordinator>(engine);
        // Logged with the engine's snapshot count, so a refresh shows which snapshot it got.
        coordinator->updated = [this](const PlaybackSnapshot &snapshot, bool refresh) {
            log.push_back((refresh ? QStringLiteral("refresh ") : QStringLiteral("poll "))
                          + QString::number(snapshot.position));
            if (!refresh)
                pollTimes.push_back(clock.elapsed());
        };
        coordinator->failed = [this](std::exception_ptr error) { failures.push_back(errorText(error)); };
        coordinator->shouldMonitor = [this] { return monitor; };
    }

    Gate *gate() { return &gates.emplace_back(); }

    // A command that logs its start and end around an engine call and, if given, a gate.
    PlaybackCommandCoordinator::Operation step(QString name, Gate *gate = nullptr, bool fail = false)
    {
        return [this, name, gate, fail](PlaybackServing &engine) -> QCoro::Task<> {
            log.push_back(name + QStringLiteral(" start"));
            co_await engine.play();
            if (gate)
                co_await gate->wait();
            log.push_back(name + QStringLiteral(" end"));
            if (fail)
                throw Refused(name);
        };
    }

    bool logged(const QString &entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
    qsizetype count(const QString &prefix) const
    {
        return std::count_if(log.begin(), log.end(), [&](const QString &e) { return e.startsWith(prefix); });
    }
    // Entries without the polls, which come at their own pace.
    std::vector<QString> commands() const
    {
        std::vector<QString> result;
        std::copy_if(log.begin(), log.end(), std::back_inserter(result),
                     [](const QString &e) { return !e.startsWith(QStringLiteral("poll")); });
        return result;
    }
    // Showing that something does not happen needs some time to pass.
    static void settle(std::chrono::milliseconds span = 120ms)
    {
        test::pumpUntil([] { return false; }, span);
    }

    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::unique_ptr<PlaybackCommandCoordinator> coordinator;
    std::list<Gate> gates;
    std::vector<QString> log;
    std::vector<QString> failures;
    std::vector<qint64> pollTimes;
    bool monitor = false;
    QElapsedTimer clock;
};

} // namespace

TEST_F(CoordinatorTest, CommandsRunOneAfterAnotherInQueueOrder)
{
    auto *first = gate();
    coordinator->enqueue(false, step("1", first));
    coordinator->enqueue(false, step("2"));
    coordinator->enqueue(false, step("3"));
    ASSERT_TRUE(test::pumpUntil([&] { return logged("1 start"); }));
    settle();
    EXPECT_EQ(log, std::vector<QString>{"1 start"});
    first->open();
    ASSERT_TRUE(test::pumpUntil([&] { return logged("3 end"); }));
    EXPECT_EQ(log, (std::vector<QString>{"1 start", "1 end", "2 start", "2 end", "3 start", "3 end"}));
}

TEST_F(CoordinatorTest, InvalidateDropsWaitingCommandsButNotTheRunningOne)
{
    // The running command finishes and, being the newest, still refreshes.
    auto *running = gate();
    coordinator->enqueue(true, step("1", running));
    ASSERT_TRUE(test::pumpUntil([&] { return logged("1 start"); }));
    coordinator->invalidate();
    running->open();
    ASSERT_TRUE(test::pumpUntil([&] { return logged("refresh 1"); }));

    // Waiting commands are dropped; one queued after the invalidation runs and refreshes alone.
    log.clear();
    running = gate();
    coordinator->enqueue(true, step("2", running));
    coordinator->enqueue(true, step("3"));
    coordinator->enqueue(true, step("4"));
    ASSERT_TRUE(test::pumpUntil([&] { return logged("2 start"); }));
    coordinator->invalidate();
    coordinator->enqueue(true, step("5"));
    running->open();
    ASSERT_TRUE(test::pumpUntil([&] { return logged("refresh 2"); }));
    settle();
    EXPECT_EQ(log, (std::vector<QString>{"2 start", "2 end", "5 start", "5 end", "refresh 2"}));
    EXPECT_TRUE(failures.empty());
}

TEST_F(CoordinatorTest, AFailureIsReportedOnceUnlessInvalidatedFirst)
{
    for (const bool invalidated : {false, true}) {
        SCOPED_TRACE(invalidated);
        log.clear();
        failures.clear();
        monitor = true;
        auto *running = gate();
        coordinator->enqueue(false, step("fails", running, true));
        coordinator->enqueue(false, step("behind"));
        ASSERT_TRUE(test::pumpUntil([&] { return logged("fails start"); }));
        if (invalidated) {
            coordinator->invalidate();
            coordinator->enqueue(false, step("after"));
        }
        running->open();
        ASSERT_TRUE(test::pumpUntil([&] { return logged("fails end"); }));
        settle();
        EXPECT_FALSE(logged("behind start"));
        if (invalidated) {
            EXPECT_TRUE(failures.empty());
            EXPECT_TRUE(logged("after end"));
        } else {
            EXPECT_EQ(failures, std::vector<QString>{"fails"});
            coordinator->enqueue(false, step("next"));
            ASSERT_TRUE(test::pumpUntil([&] { return logged("next end"); }));
        }
        coordinator->stopMonitoring();
    }
}

TEST_F(CoordinatorTest, RefreshAndMonitorFollowTheFlagAndTheModel)
{
    const struct {
        bool refresh;
        bool monitor;
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.refresh << c.monitor);
        coordinator.reset();
        make();
        log.clear();
        monitor = c.monitor;
        coordinator->enqueue(c.refresh, step("1"));
        ASSERT_TRUE(test::pumpUntil([&] { return logged("1 end"); }));
        if (c.monitor) {
            ASSERT_TRUE(test::pumpUntil([&] { return count("poll") >= 2; }));
        } else {
            settle();
        }
        EXPECT_EQ(count("refresh"), c.refresh ? 1 : 0);
        EXPECT_EQ(count("poll") > 0, c.monitor);
        // The refresh comes right after the command, before any poll.
        if (c.refresh) {
            EXPECT_TRUE(log[2].startsWith(QStringLiteral("refresh")));
        }
    }
}

TEST_F(CoordinatorTest, OnlyTheNewestCommandRefreshesAndStartsTheMonitor)
{
    monitor = true;
    auto *first = gate();
    coordinator->enqueue(true, step("1", first));
    coordinator->enqueue(true, step("2"));
    ASSERT_TRUE(test::pumpUntil([&] { return logged("1 start"); }));
    first->open();
    ASSERT_TRUE(test::pumpUntil([&] { return count("poll") >= 1; }));
    EXPECT_EQ(commands(), (std::vector<QString>{"1 start", "1 end", "2 start", "2 end", "refresh 1"}));
}

TEST_F(CoordinatorTest, ACommandStopsThePollsUntilItHasRun)
{
    monitor = true;
    clock.start();
    coordinator->enqueue(false, step("1"));
    ASSERT_TRUE(test::pumpUntil([&] { return count("poll") >= 4; }));
    for (size_t i = 1; i < pollTimes.size(); ++i)
        EXPECT_GE(pollTimes[i] - pollTimes[i - 1], 30) << i;

    auto *running = gate();
    coordinator->enqueue(false, step("2", running));
    const auto pollsBefore = count("poll");
    settle();
    EXPECT_EQ(count("poll"), pollsBefore);
    running->open();
    ASSERT_TRUE(test::pumpUntil([&] { return count("poll") > pollsBefore; }));
    const auto at = static_cast<size_t>(pollsBefore) + 2; // after "1 start", "1 end" and the polls
    EXPECT_EQ(log[at], QStringLiteral("2 start"));
    EXPECT_EQ(log[at + 1], QStringLiteral("2 end"));

    // stopMonitoring ends the polls at once and leaves the queue alone.
    coordinator->stopMonitoring();
    const auto pollsStopped = count("poll");
    settle();
    EXPECT_EQ(count("poll"), pollsStopped);
    monitor = false;
    coordinator->enqueue(false, step("3"));
    ASSERT_TRUE(test::pumpUntil([&] { return logged("3 end"); }));
    settle();
    EXPECT_EQ(count("poll"), pollsStopped);
    monitor = true;
    coordinator->enqueue(false, step("4"));
    ASSERT_TRUE(test::pumpUntil([&] { return count("poll") > pollsStopped; }));
}

TEST_F(CoordinatorTest, QueuedWorkEndsQuietlyWhenTheCoordinatorGoes)
{
    monitor = true;
    auto *running = gate();
    coordinator->enqueue(true, step("1", running, true));
    coordinator->enqueue(true, step("2"));
    ASSERT_TRUE(test::pumpUntil([&] { return logged("1 start"); }));
    coordinator.reset();
    running->open();
    ASSERT_TRUE(test::pumpUntil([&] { return engine.use_count() == 1; }));
    EXPECT_EQ(log, (std::vector<QString>{"1 start", "1 end"}));
    EXPECT_TRUE(failures.empty());
}
