#include "player/sd2_recovery_queue.h"

#include "concurrency/detached.h"
#include "library/sd2_pair_audio.h"
#include "sd2/sd2_recovery_error.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

SD2Metadata shape(int sampleBytes, int rate, int channels)
{
    return {sampleBytes, rate, channels, std::nullopt, std::nullopt};
}

// A copy whose folder does not exist, so dropping it touches nothing.
SD2RecoveredCopyPointer absentCopy(int sampleBytes, int rate = 44100, int channels = 2)
{
    return std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/absent/job/Recovered.wav"), rate, 10,
                                                    "x", sampleBytes, channels);
}

// Each recovery waits on its own promise until the test ends it, or until it is cancelled
// unless the service winds down slowly (then only the test ends it).
class LatchedRecovery final : public SD2RecoveryServing {
public:
    struct Call {
        AudioTrack track;
        int rate;
        SD2RecoveryProgress progress;
        CancellationToken token;
        std::promise<SD2RecoveredCopyPointer> outcome;
        std::shared_future<SD2RecoveredCopyPointer> future = outcome.get_future().share();
    };
    std::vector<std::shared_ptr<Call>> calls; // main thread
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    bool windsDown = false;

    Async<SD2RecoveredCopyPointer> recover(AudioTrack track, int rate, SD2RecoveryProgress progress,
                                           CancellationToken token) override
    {
        calls.push_back(std::make_shared<Call>(Call{std::move(track), rate, std::move(progress), std::move(token), {}}));
        return runDetached(TaskPriority::UserInitiated, [this, call = calls.back(), slow = windsDown] {
            mostRunning = std::max(mostRunning.load(), ++running);
            const auto &future = call->future;
            while (future.wait_for(1ms) != std::future_status::ready && (slow || !call->token.isCancelled())) {
            }
            --running;
            return future.wait_for(0ms) == std::future_status::ready ? future.get() : throw Cancelled();
        });
    }
    void end(size_t index, SD2RecoveredCopyPointer copy) { calls.at(index)->outcome.set_value(std::move(copy)); }
    void fail(size_t index, const std::exception_ptr &error) { calls.at(index)->outcome.set_exception(error); }
};

class RecoveryQueue : public ::testing::Test {
protected:
    std::shared_ptr<LatchedRecovery> service = std::make_shared<LatchedRecovery>();
    std::unique_ptr<SD2RecoveryQueue> queue = std::make_unique<SD2RecoveryQueue>(service);
    std::vector<std::pair<QUuid, SD2RecoveredCopyPointer>> completed;
    std::vector<std::pair<QUuid, SD2RecoveryFailure>> failed;

    void SetUp() override
    {
        queue->completed = [this](const QUuid &id, const SD2RecoveredCopyPointer &copy) { completed.emplace_back(id, copy); };
        queue->failed = [this](const QUuid &id, const SD2RecoveryFailure &failure) { failed.emplace_back(id, failure); };
    }
    void TearDown() override
    {
        // Let a job still running end, so that its coroutine finishes before the test does.
        queue->cancelAll();
        for (const auto &call : service->calls) {
            if (call->future.wait_for(0ms) != std::future_status::ready)
                call->outcome.set_exception(std::make_exception_ptr(Cancelled()));
        }
        EXPECT_TRUE(idle());
    }
    static AudioTrack track(const QString &name = "Take.sd2", std::optional<SD2Metadata> requested = {},
                            SD2RecoveredCopyPointer copy = nullptr)
    {
        AudioTrack t;
        t.id = QUuid::createUuid();
        t._url = TrackedFileURL(QUrl::fromLocalFile("/music/" + name));
        t.recovery = SD2Recovery{std::move(copy), requested};
        return t;
    }
    bool calls(size_t count) { return test::pumpUntil([&] { return service->calls.size() == count; }); }
    bool idle() { return test::pumpUntil([&] { return !queue->activeID() && service->running == 0; }); }
    std::vector<int> rates() const
    {
        std::vector<int> result;
        for (const auto &call : service->calls)
            result.push_back(call->rate);
        return result;
    }
};

} // namespace

TEST_F(RecoveryQueue, StatusesOneAtATimeAndAPriorityJobRunsNext)
{
    const AudioTrack a = track("a.sd2"), b = track("b.sd2", shape(3, 8000, 1)), c = track("c.sd2", {}, absentCopy(4, 8000, 1));
    AudioTrack pair = track("x.L");
    pair.pair = std::make_shared<const SD2PairAudio>(track("take.L"), track("take.R"), absentCopy(2));
    queue->submit(a, 1, false);
    queue->submit(b, 2, false);
    queue->submit(c, 3, false);
    queue->submit(pair, 4, false);
    ASSERT_TRUE(calls(1));
    EXPECT_EQ(queue->activeID(), a.id);
    const auto status = [&](const AudioTrack &t) {
        const auto s = queue->states().value(t.id);
        return std::tuple(s.id, s.name, s.parameters, s.token.isNull(), s.progress, s.queued);
    };
    EXPECT_EQ(status(a), std::tuple(a.id, QString("a.sd2"), shape(2, 1, 2), false, 0.0, false));
    EXPECT_EQ(status(b), std::tuple(b.id, QString("b.sd2"), shape(3, 2, 1), false, 0.0, true));
    EXPECT_EQ(status(c), std::tuple(c.id, QString("c.sd2"), shape(4, 3, 1), false, 0.0, true));
    EXPECT_EQ(status(pair), std::tuple(pair.id, QString("take (L/R)"), shape(2, 4, 2), false, 0.0, true));

    const AudioTrack priority = track("p.sd2"), normal = track("n.sd2");
    queue->submit(priority, 5, true);
    queue->submit(normal, 6, false);
    for (size_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(calls(i + 1));
        service->end(i, absentCopy(2));
    }
    ASSERT_TRUE(idle());
    EXPECT_EQ(rates(), (std::vector<int>{1, 5, 2, 3, 4, 6}));
    EXPECT_EQ(service->mostRunning, 1);
    EXPECT_EQ(completed.size(), 6u);
    EXPECT_EQ(completed[1].first, priority.id);
    EXPECT_TRUE(queue->states().isEmpty());
}

TEST_F(RecoveryQueue, AResubmissionSupersedesAndWaitsForTheRunningJobToEnd)
{
    service->windsDown = true;
    const AudioTrack a = track();
    queue->submit(a, 44100, false);
    ASSERT_TRUE(calls(1));
    const QUuid first = queue->states().value(a.id).token;
    service->calls[0]->progress(0.5);
    ASSERT_TRUE(test::pumpUntil([&] { return queue->states().value(a.id).progress == 0.5; }));

    queue->submit(a, 48000, true);
    EXPECT_NE(queue->states().value(a.id).token, first);
    EXPECT_EQ(queue->states().value(a.id).progress, 0);
    EXPECT_TRUE(queue->states().value(a.id).queued);
    EXPECT_TRUE(service->calls[0]->token.isCancelled());
    service->calls[0]->progress(0.9); // late, from the superseded job
    EXPECT_FALSE(test::pumpUntil([&] { return service->calls.size() == 2; }, 100ms));
    EXPECT_EQ(queue->states().value(a.id).progress, 0);
    EXPECT_EQ(queue->activeID(), a.id);

    service->end(0, absentCopy(2)); // finishes unseen
    ASSERT_TRUE(calls(2));
    EXPECT_FALSE(queue->states().value(a.id).queued);
    service->end(1, absentCopy(2, 48000));
    ASSERT_TRUE(idle());
    EXPECT_EQ(service->mostRunning, 1);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].second->sampleRate(), 48000);
}

TEST_F(RecoveryQueue, FailuresNameThePreviousCopyAndCancelledJobsReportNothing)
{
    const AudioTrack withCopy = track("a.sd2", shape(2, 0, 2), absentCopy(3)), fresh = track("b.sd2");
    queue->submit(withCopy, 44100, false);
    queue->submit(fresh, 44100, false);
    ASSERT_TRUE(calls(1));
    service->fail(0, std::make_exception_ptr(SD2RecoveryError::incompleteFrame(7, 4)));
    ASSERT_TRUE(calls(2));
    service->fail(1, std::make_exception_ptr(SD2RecoveryError::unsuitable()));
    ASSERT_TRUE(idle());
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0].first, withCopy.id);
    EXPECT_EQ(failed[0].second.message, SD2RecoveryFailure(std::make_exception_ptr(SD2RecoveryError::incompleteFrame(7, 4)),
                                                           shape(2, 44100, 2), shape(3, 44100, 2)).message);
    EXPECT_TRUE(failed[0].second.message.contains("Your previous 24-bit listening settings are still available."));
    EXPECT_FALSE(failed[1].second.message.contains("previous"));
    EXPECT_TRUE(queue->states().isEmpty());

    // Cancelled while queued or running, nothing is delivered, and the queue goes on.
    const AudioTrack a = track(), b = track(), c = track();
    for (const auto &t : {a, b, c})
        queue->submit(t, 8000, false);
    ASSERT_TRUE(calls(3));
    queue->cancel(b.id, false);
    queue->cancel(a.id, false);
    EXPECT_EQ(queue->activeID(), a.id); // until the job has wound down
    ASSERT_TRUE(calls(4));
    EXPECT_EQ(service->calls[3]->track.id, c.id);
    queue->cancelAll();
    EXPECT_TRUE(queue->states().isEmpty());
    EXPECT_EQ(queue->activeID(), c.id);
    ASSERT_TRUE(idle());
    EXPECT_EQ(failed.size(), 2u);
    EXPECT_TRUE(completed.empty());
}

TEST_F(RecoveryQueue, TrialVolumes)
{
    const QUuid id = QUuid::createUuid(), other = QUuid::createUuid();
    queue->rememberTrialVolume(id, 0.7);
    queue->rememberTrialVolume(id, 0.05);
    EXPECT_EQ(queue->takeTrialVolume(id), 0.7);
    EXPECT_EQ(queue->takeTrialVolume(id), std::nullopt);

    queue->rememberTrialVolume(id, 0.3);
    queue->cancel(id, false);
    queue->submit(track(), 44100, false); // a submission keeps every volume
    EXPECT_EQ(queue->takeTrialVolume(id), 0.3);
    queue->rememberTrialVolume(id, 0.3);
    queue->cancel(id, true);
    EXPECT_EQ(queue->takeTrialVolume(id), std::nullopt);
    queue->rememberTrialVolume(id, 0.3);
    queue->rememberTrialVolume(other, 0.4);
    queue->cancelAll();
    EXPECT_EQ(std::pair(queue->takeTrialVolume(id), queue->takeTrialVolume(other)), std::pair(std::optional<double>(), std::optional<double>()));

    // The listening sequence the player follows, with playback paused at each step: 24-bit at
    // 0.7, then 32-bit, then a 16-bit copy gives the first volume back; 8-bit at 0.03 keeps it.
    double volume = 0.7;
    std::vector<double> heard{volume};
    const auto choose = [&](int sampleBytes) {
        if (SD2RecoveryQueue::isTrialDepth(sampleBytes)) {
            queue->rememberTrialVolume(id, volume);
            volume = std::min(volume, SD2RecoveryQueue::trialVolumeCap);
        } else if (const auto remembered = queue->takeTrialVolume(id)) {
            volume = *remembered;
        }
        heard.push_back(volume);
    };
    for (int sampleBytes : {3, 4, 2})
        choose(sampleBytes);
    EXPECT_EQ(heard, (std::vector<double>{0.7, 0.05, 0.05, 0.7}));
    volume = 0.03;
    heard = {volume};
    for (int sampleBytes : {1, 2, 2})
        choose(sampleBytes);
    EXPECT_EQ(heard, (std::vector<double>{0.03, 0.03, 0.03, 0.03}));
    EXPECT_FALSE(SD2RecoveryQueue::isTrialDepth(2));
}
