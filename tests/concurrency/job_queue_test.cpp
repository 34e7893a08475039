#include "concurrency/keyed_job_queue.h"
#include "concurrency/main_thread.h"
#include "concurrency/serial_job_queue.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

using Log = std::vector<std::string>;

bool current(const SerialJobQueue::Job &job) { return job.isCurrent(); }
bool current(const CancellationToken &token) { return !token.isCancelled(); }

// Jobs that run until the test opens their gate, whatever their cancellation says; each logs
// "x+" when it starts and "x-", or "x stale" when its result no longer counts, when it ends.
struct Jobs {
    Log log;
    std::map<std::string, std::shared_ptr<bool>> gates;

    template <typename Arg>
    std::function<QCoro::Task<>(Arg)> body(const std::string &name, bool fails = false)
    {
        auto gate = gates[name] = std::make_shared<bool>(false);
        return [this, name, gate, fails](Arg arg) -> QCoro::Task<> {
            log.push_back(name + "+");
            while (!*gate)
                co_await sleepFor(2ms);
            log.push_back(name + (current(arg) ? "-" : " stale"));
            if (fails)
                throw std::runtime_error("failed");
        };
    }
    auto serial(const std::string &name, bool fails = false) { return body<SerialJobQueue::Job>(name, fails); }
    void open(const std::string &name) { *gates.at(name) = true; }
    bool logged(const std::string &entry)
    {
        return test::pumpUntil([&] { return std::find(log.begin(), log.end(), entry) != log.end(); });
    }
    bool stays() { return !test::pumpUntil([&, size = log.size()] { return log.size() != size; }, 40ms); }
};

} // namespace

TEST(SerialJobQueue, EachJobAwaitsThePreviousWhateverItsOutcome)
{
    Jobs jobs;
    SerialJobQueue queue;
    int countChanges = 0;
    queue.onCountChanged([&] { ++countChanges; });
    const TaskHandle a = queue.enqueue(jobs.serial("a", true));
    EXPECT_EQ(jobs.log, Log{"a+"}); // an idle queue starts a job inside the call
    const TaskHandle b = queue.enqueue(jobs.serial("b")), c = queue.enqueue(jobs.serial("c")),
                     d = queue.enqueue(jobs.serial("d"));
    EXPECT_EQ(std::pair(queue.count(), countChanges), std::pair(4, 4));
    EXPECT_TRUE(jobs.stays());
    jobs.open("a"); // fails
    ASSERT_TRUE(jobs.logged("b+"));
    b.cancel(); // while running: its result goes stale
    c.cancel(); // before its turn: never runs
    jobs.open("b");
    ASSERT_TRUE(jobs.logged("d+"));
    jobs.open("d");
    ASSERT_TRUE(test::pumpUntil([&] { return d.isFinished(); }));
    EXPECT_EQ(jobs.log, (Log{"a+", "a-", "b+", "b stale", "d+", "d-"}));
    EXPECT_TRUE(a.error() && c.isFinished() && !d.error());
    EXPECT_EQ(std::pair(queue.count(), countChanges), std::pair(0, 8));
    EXPECT_TRUE(queue.tail().isEmpty());
}

TEST(SerialJobQueue, CancellingDropsWaitingJobsAndStaleResults)
{
    for (const bool inOrder : {false, true}) {
        SCOPED_TRACE(inOrder);
        Jobs jobs;
        SerialJobQueue queue;
        const TaskHandle a = queue.enqueue(jobs.serial("a"));
        queue.enqueue(jobs.serial("b"));
        inOrder ? queue.cancelAllInOrder() : queue.cancelAll();
        EXPECT_TRUE(a.isCancelled() && queue.count() == 0);
        EXPECT_EQ(queue.tail().isEmpty(), !inOrder);
        const TaskHandle c = queue.enqueue(jobs.serial("c"));
        EXPECT_EQ(jobs.log.size(), inOrder ? 1u : 2u); // in order, c waits for a and the dropped b
        jobs.open("a");
        ASSERT_TRUE(jobs.logged("a stale") && jobs.logged("c+"));
        EXPECT_EQ(queue.count(), 1); // the stale job's end leaves the new one counted
        jobs.open("c");
        ASSERT_TRUE(test::pumpUntil([&] { return c.isFinished(); }));
        EXPECT_EQ(jobs.log, (inOrder ? Log{"a+", "a stale", "c+", "c-"} : Log{"a+", "c+", "a stale", "c-"}));
    }
}

TEST(SerialJobQueue, ASettledJobHoldsNothingBackAndAGoneQueueMakesJobsStale)
{
    Jobs jobs;
    auto queue = std::make_unique<SerialJobQueue>();
    auto gate = std::make_shared<bool>(false);
    const TaskHandle first = queue->enqueue([&jobs, gate](SerialJobQueue::Job job) -> QCoro::Task<> {
        co_await NextMainThreadTurn{};
        job.finish();
        jobs.log.push_back("settled");
        while (!*gate)
            co_await sleepFor(2ms);
    });
    ASSERT_TRUE(jobs.logged("settled"));
    EXPECT_TRUE(queue->count() == 0 && queue->tail().isEmpty());
    queue->enqueue(jobs.serial("next")); // does not wait for the settled job
    queue->cancelAll();
    EXPECT_FALSE(first.isCancelled());
    queue->enqueue(jobs.serial("last"));
    queue.reset();
    for (const std::string name : {"next", "last"}) {
        jobs.open(name);
        ASSERT_TRUE(jobs.logged(name + " stale"));
    }
    *gate = true;
    ASSERT_TRUE(test::pumpUntil([&] { return first.isFinished(); }));
    EXPECT_EQ(jobs.log, (Log{"settled", "next+", "last+", "next stale", "last stale"}));
}

TEST(KeyedJobQueue, OneAtATimeFromTheFrontAndCancelledJobsAreAwaited)
{
    Jobs jobs;
    auto queue = std::make_unique<KeyedJobQueue>();
    const QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), c = QUuid::createUuid();
    const auto name = [&](const QUuid &key) { return std::string(key == a ? "a" : key == b ? "b" : "c"); };
    Log events;
    queue->onStarted([&](const QUuid &key) { events.push_back("start " + name(key)); });
    queue->onActiveKeyChanged([&] { events.push_back(queue->activeKey() ? "active " + name(*queue->activeKey()) : "idle"); });
    const auto enqueue = [&](const QUuid &key, const std::string &job, auto... place) {
        queue->enqueue(key, jobs.body<CancellationToken>(job), place...);
    };

    enqueue(a, "a");
    enqueue(b, "b");
    enqueue(c, "c", KeyedJobQueue::Place::front);
    EXPECT_TRUE(jobs.log.empty()); // never inside the call
    ASSERT_TRUE(jobs.logged("a+"));
    queue->cancel(a); // stays active until it has ended
    EXPECT_TRUE(queue->activeKey() == a && jobs.stays());
    jobs.open("a");
    ASSERT_TRUE(jobs.logged("c+"));
    queue->cancel(b);
    jobs.open("c");
    ASSERT_TRUE(test::pumpUntil([&] { return !queue->activeKey(); }));
    EXPECT_EQ(jobs.log, (Log{"a+", "a stale", "c+", "c-"}));
    EXPECT_EQ(events, (Log{"active a", "start a", "idle", "active c", "start c", "idle"}));

    // A job cancelled before its turn never runs; a queue that goes away cancels its running job.
    enqueue(a, "a2");
    enqueue(b, "b2");
    queue->cancelAll();
    enqueue(c, "c2");
    ASSERT_TRUE(jobs.logged("c2+"));
    queue.reset();
    jobs.open("c2");
    ASSERT_TRUE(jobs.logged("c2 stale"));
    EXPECT_EQ(jobs.log.size(), 6u);
}
