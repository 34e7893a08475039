#include "concurrency/cancellation.h"
#include "concurrency/detached.h"
#include "concurrency/generation.h"
#include "concurrency/main_thread.h"
#include "concurrency/serial_executor.h"
#include "concurrency/task_handle.h"
#include "core/error.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <thread>
#include <vector>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

class TypedFailure : public Error {
public:
    TypedFailure() : Error(QStringLiteral("test"), 42, QStringLiteral("It failed on purpose.")) {}
};

} // namespace

TEST(SerialExecutor, RunsJobsOneAtATimeInArrivalOrder)
{
    SerialExecutor executor(QStringLiteral("fifo"));
    std::vector<int> order; // touched only on the worker
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::vector<Async<int>> results;
    for (int i = 0; i < 20; ++i) {
        results.push_back(executor.submit([&, i] {
            if (running.fetch_add(1) != 0)
                overlapped = true;
            if (i == 0)
                std::this_thread::sleep_for(100ms); // a slow first job must not be overtaken
            order.push_back(i);
            running.fetch_sub(1);
            return i * 2;
        }));
    }
    const int last = test::runTask([&]() -> QCoro::Task<int> {
        int sum = 0;
        for (auto &r : results)
            sum += co_await r;
        co_return sum;
    }());
    EXPECT_EQ(last, 380);
    EXPECT_FALSE(overlapped);
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

TEST(SerialExecutor, TypedErrorsReachTheAwaitingCoroutineUnchanged)
{
    SerialExecutor executor(QStringLiteral("errors"));
    bool onWorker = false;
    auto task = [&]() -> QCoro::Task<QString> {
        try {
            co_await executor.submit([&]() -> int {
                onWorker = executor.isCurrent();
                throw TypedFailure();
            });
        } catch (const TypedFailure &e) {
            EXPECT_TRUE(isMainThread());
            co_return e.message() + QString::number(e.code());
        }
        co_return QString();
    };
    EXPECT_EQ(test::runTask(task()), QStringLiteral("It failed on purpose.42"));
    EXPECT_TRUE(onWorker);
    EXPECT_THROW(executor.submit([] { throw Cancelled(); }).wait(), Cancelled);
}

TEST(Detached, RunsOffTheMainThreadAtBothPriorities)
{
    for (auto priority : {TaskPriority::Utility, TaskPriority::UserInitiated}) {
        const bool main = test::runTask([priority]() -> QCoro::Task<bool> {
            co_return co_await runDetached(priority, [] { return isMainThread(); });
        }());
        EXPECT_FALSE(main);
    }
}

TEST(TaskHandle, ReleasesEveryAwaiterWhateverTheOutcome)
{
    for (bool fails : {false, true}) {
        int released = 0;
        auto blocker = std::make_shared<bool>(false);
        auto handle = TaskHandle::start([blocker, fails](CancellationToken) -> QCoro::Task<> {
            while (!*blocker)
                co_await sleepFor(5ms);
            if (fails)
                throw TypedFailure();
        });
        std::vector<TaskHandle> waiters;
        for (int i = 0; i < 3; ++i) {
            waiters.push_back(TaskHandle::start([handle, &released](CancellationToken) -> QCoro::Task<> {
                co_await handle.finished();
                ++released;
            }));
        }
        ASSERT_FALSE(test::pumpUntil([&] { return released > 0; }, 50ms));
        *blocker = true;
        ASSERT_TRUE(test::pumpUntil([&] { return released == 3; }));
        EXPECT_EQ(errorIs<TypedFailure>(handle.error()), fails);
    }
    // An empty handle counts as finished.
    bool ran = false;
    TaskHandle::start([&](CancellationToken) -> QCoro::Task<> {
        co_await TaskHandle().finished();
        ran = true;
    });
    EXPECT_TRUE(test::pumpUntil([&] { return ran; }));
}

TEST(AwaitCallback, ResumesFromTheEventLoopWithTheFirstAnswer)
{
    std::function<void(int)> answer;
    std::vector<int> got;
    TaskHandle::start([&](CancellationToken) -> QCoro::Task<> {
        got.push_back(co_await awaitCallback<int>([&](auto deliver) { answer = deliver; }));
    });
    ASSERT_TRUE(answer);
    answer(7);
    answer(8);
    EXPECT_TRUE(got.empty()); // never resumed inside the callback
    ASSERT_TRUE(test::pumpUntil([&] { return !got.empty(); }));
    EXPECT_FALSE(test::pumpUntil([&] { return got.size() > 1; }, 20ms));
    EXPECT_EQ(got, std::vector<int>{7});
}

TEST(Cancellation, ParentCancelsDetachedChildAndTheCurrentToken)
{
    CancellationSource parent;
    CancellationSource child(parent.token());
    CancellationSource grandchild(child.token());
    std::atomic<bool> started{false};
    auto work = runDetached(TaskPriority::Utility, [token = grandchild.token(), &started] {
        CurrentCancellation::Scope scope(token);
        started = true;
        for (;;) {
            CurrentCancellation::throwIfCancelled();
            std::this_thread::sleep_for(1ms);
        }
    });
    while (!started)
        std::this_thread::sleep_for(1ms);
    parent.cancel();
    EXPECT_THROW(work.wait(), Cancelled);
    EXPECT_TRUE(child.isCancelled());
    EXPECT_FALSE(CurrentCancellation::isCancelled()); // scopes are per thread

    CancellationSource lone;
    CancellationSource sub(lone.token());
    sub.cancel();
    EXPECT_FALSE(lone.isCancelled());
    CancellationSource late(sub.token()); // a child of a cancelled token starts cancelled
    EXPECT_TRUE(late.isCancelled());
}

TEST(Generation, AResultCarryingAStaleTokenIsDropped)
{
    // The coordinator shape: capture the generation, await a worker, compare, then apply.
    SerialExecutor executor(QStringLiteral("stale"));
    Generation generation;
    std::vector<int> applied;
    auto job = [&](int value) {
        return TaskHandle::start([&, value](CancellationToken) -> QCoro::Task<> {
            const QUuid captured = generation.current();
            const int result = co_await executor.submit([value] {
                std::this_thread::sleep_for(20ms);
                return value;
            });
            if (generation.matches(captured))
                applied.push_back(result);
        });
    };
    auto first = job(1);
    generation.renew(); // invalidates the first job while it runs
    auto second = job(2);
    ASSERT_TRUE(test::pumpUntil([&] { return first.isFinished() && second.isFinished(); }));
    EXPECT_EQ(applied, std::vector<int>{2});
}

TEST(MainThread, SleepUsesTheSteadyClockAndPostsAreGuarded)
{
    QElapsedTimer timer;
    timer.start();
    test::runTask([]() -> QCoro::Task<> { co_await sleepFor(50ms); }());
    EXPECT_GE(timer.elapsed(), 49);

    bool ran = false;
    auto *guard = new QObject;
    postToMainThread(guard, [&] { ran = true; });
    delete guard;
    test::pumpUntil([] { return false; }, 30ms);
    EXPECT_FALSE(ran);
}
