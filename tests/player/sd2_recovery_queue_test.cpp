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

// A copy without a folder on disk, so dropping it touches nothing.
SD2RecoveredCopyPointer copyOf(int sampleBytes, int rate = 44100)
{
    return std::make_shared<const SD2RecoveredCopy>(QUrl(), rate, 10, "x", sampleBytes, 2);
}

// Each recovery waits for the test to end it; it winds down slowly, ignoring cancellation, so
// the queue must wait for it before the next one starts.
class LatchedRecovery final : public SD2RecoveryServing {
public:
    struct Call {
        AudioTrack track;
        int rate;
        SD2RecoveryProgress progress;
        CancellationToken token;
        std::promise<SD2RecoveredCopyPointer> outcome;
    };
    std::vector<std::shared_ptr<Call>> calls; // main thread
    std::atomic<int> running{0}, mostRunning{0};

    Async<SD2RecoveredCopyPointer> recover(AudioTrack track, int rate, SD2RecoveryProgress progress,
                                           CancellationToken token) override
    {
        auto call = std::make_shared<Call>(Call{std::move(track), rate, std::move(progress), std::move(token), {}});
        calls.push_back(call);
        return runDetached(TaskPriority::UserInitiated, [this, future = call->outcome.get_future().share()] {
            mostRunning = std::max(mostRunning.load(), ++running);
            future.wait();
            --running;
            return future.get();
        });
    }
    void end(size_t i, SD2RecoveredCopyPointer copy) { calls.at(i)->outcome.set_value(std::move(copy)); }
    void fail(size_t i, const auto &error) { calls.at(i)->outcome.set_exception(std::make_exception_ptr(error)); }
};

class RecoveryQueue : public ::testing::Test {
protected:
    std::shared_ptr<LatchedRecovery> service = std::make_shared<LatchedRecovery>();
    SD2RecoveryQueue queue{service};
    std::vector<std::pair<QUuid, int>> completed; // id and the copy's rate
    std::vector<std::pair<QUuid, SD2RecoveryFailure>> failed;

    void SetUp() override
    {
        queue.completed = [this](const QUuid &id, const SD2RecoveredCopyPointer &copy) { completed.emplace_back(id, copy->sampleRate()); };
        queue.failed = [this](const QUuid &id, const SD2RecoveryFailure &failure) { failed.emplace_back(id, failure); };
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
    // Ends call i once it has started.
    void end(size_t i, SD2RecoveredCopyPointer copy = copyOf(2))
    {
        ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() > i; }));
        service->end(i, std::move(copy));
    }
    bool idle() { return test::pumpUntil([&] { return !queue.activeID() && service->running == 0; }); }
};

} // namespace

TEST_F(RecoveryQueue, StatusesOneAtATimeAndAPriorityJobRunsNext)
{
    AudioTrack pair = track("x.L");
    pair.pair = std::make_shared<const SD2PairAudio>(track("take.L"), track("take.R"), copyOf(2));
    const AudioTrack a = track("a.sd2"), b = track("b.sd2", shape(3, 8000, 1)), c = track("c.sd2", {}, copyOf(4)), p = track(), n = track();
    for (const auto &[t, rate] : {std::pair{a, 1}, {b, 2}, {c, 3}, {pair, 4}})
        queue.submit(t, rate, false);
    const auto status = [&](const AudioTrack &t) {
        const auto s = queue.states().value(t.id);
        return std::tuple(s.id, s.name, s.parameters, s.token.isNull(), s.progress, s.queued);
    };
    EXPECT_EQ(status(a), std::tuple(a.id, QString("a.sd2"), shape(2, 1, 2), false, 0.0, false));
    EXPECT_EQ(status(b), std::tuple(b.id, QString("b.sd2"), shape(3, 2, 1), false, 0.0, true));
    EXPECT_EQ(status(c), std::tuple(c.id, QString("c.sd2"), shape(4, 3, 2), false, 0.0, true));
    EXPECT_EQ(status(pair), std::tuple(pair.id, QString("take (L/R)"), shape(2, 4, 2), false, 0.0, true));
    queue.submit(p, 5, true);
    queue.submit(n, 6, false);
    for (size_t i = 0; i < 6; ++i)
        end(i, copyOf(2, int(i)));
    ASSERT_TRUE(idle());
    EXPECT_EQ(completed, (std::vector<std::pair<QUuid, int>>{{a.id, 0}, {p.id, 1}, {b.id, 2}, {c.id, 3}, {pair.id, 4}, {n.id, 5}}));
    EXPECT_EQ(service->mostRunning, 1);
    EXPECT_TRUE(queue.states().isEmpty());
}

TEST_F(RecoveryQueue, AResubmissionSupersedesAndWaitsForTheRunningJobToEnd)
{
    const AudioTrack a = track();
    queue.submit(a, 44100, false);
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 1; }));
    service->calls[0]->progress(0.5);
    ASSERT_TRUE(test::pumpUntil([&] { return queue.states().value(a.id).progress == 0.5; }));
    const QUuid first = queue.states().value(a.id).token;
    queue.submit(a, 48000, true);
    EXPECT_NE(queue.states().value(a.id).token, first);
    EXPECT_EQ(std::pair(queue.states().value(a.id).progress, queue.states().value(a.id).queued), std::pair(0.0, true));
    EXPECT_TRUE(service->calls[0]->token.isCancelled());
    service->calls[0]->progress(0.9); // late, from the superseded job
    EXPECT_FALSE(test::pumpUntil([&] { return service->calls.size() == 2; }, 100ms));
    EXPECT_EQ(std::pair(queue.states().value(a.id).progress, queue.activeID()), std::pair(0.0, std::optional(a.id)));
    end(0, copyOf(2, 44100)); // finishes unseen
    end(1, copyOf(2, 48000));
    ASSERT_TRUE(idle());
    EXPECT_EQ(completed, (std::vector<std::pair<QUuid, int>>{{a.id, 48000}}));
    EXPECT_EQ(service->mostRunning, 1);
}

TEST_F(RecoveryQueue, FailuresNameThePreviousCopyAndCancelledJobsReportNothing)
{
    const AudioTrack withCopy = track("a.sd2", shape(2, 0, 2), copyOf(3)), fresh = track("b.sd2");
    queue.submit(withCopy, 44100, false);
    queue.submit(fresh, 44100, false);
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 1; }));
    service->fail(0, SD2RecoveryError::incompleteFrame(7, 4));
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 2; }));
    service->fail(1, SD2RecoveryError::unsuitable());
    ASSERT_TRUE(idle());
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0].first, withCopy.id);
    EXPECT_EQ(failed[0].second.message, SD2RecoveryFailure(std::make_exception_ptr(SD2RecoveryError::incompleteFrame(7, 4)),
                                                           shape(2, 44100, 2), shape(3, 44100, 2)).message);
    EXPECT_TRUE(failed[0].second.message.contains("Your previous 24-bit listening settings are still available."));
    EXPECT_FALSE(failed[1].second.message.contains("previous"));

    // Cancelled while queued or running: nothing is delivered, and the queue goes on.
    const AudioTrack a = track(), b = track(), c = track();
    for (const auto &t : {a, b, c})
        queue.submit(t, 8000, false);
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 3; }));
    queue.cancel(b.id, false);
    queue.cancel(a.id, false);
    EXPECT_EQ(queue.activeID(), a.id); // until its job has wound down
    end(2);
    ASSERT_TRUE(test::pumpUntil([&] { return service->calls.size() == 4; }));
    EXPECT_EQ(service->calls[3]->track.id, c.id);
    queue.cancelAll();
    EXPECT_TRUE(queue.states().isEmpty());
    EXPECT_EQ(queue.activeID(), c.id);
    end(3);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(failed.size(), 2u);
}

TEST_F(RecoveryQueue, TrialVolumes)
{
    const QUuid id = QUuid::createUuid(), other = QUuid::createUuid();
    queue.rememberTrialVolume(id, 0.3);
    queue.cancel(id, false);
    queue.rememberTrialVolume(id, 0.05); // the first one stays
    EXPECT_EQ(queue.takeTrialVolume(id), 0.3);
    EXPECT_EQ(queue.takeTrialVolume(id), std::nullopt);
    queue.rememberTrialVolume(id, 0.3);
    queue.cancel(id, true);
    EXPECT_EQ(queue.takeTrialVolume(id), std::nullopt);
    queue.rememberTrialVolume(id, 0.3);
    queue.rememberTrialVolume(other, 0.4);
    queue.cancelAll();
    EXPECT_FALSE(queue.takeTrialVolume(id) || queue.takeTrialVolume(other));

    // The player's sequence, each step with playback paused: 24-bit at 0.7, 32-bit, then a
    // 16-bit copy gives 0.7 back; 8-bit at 0.03 keeps 0.03.
    for (const auto &[volume, depths, heard] : {std::tuple{0.7, std::vector{3, 4, 2}, std::vector{0.7, 0.05, 0.05, 0.7}},
                                                {0.03, {1, 2, 2}, {0.03, 0.03, 0.03, 0.03}}}) {
        std::vector<double> volumes{volume};
        for (int sampleBytes : depths) {
            double now = volumes.back();
            if (SD2RecoveryQueue::isTrialDepth(sampleBytes)) {
                queue.rememberTrialVolume(id, now);
                now = std::min(now, SD2RecoveryQueue::trialVolumeCap);
            } else if (const auto remembered = queue.takeTrialVolume(id)) {
                now = *remembered;
            }
            volumes.push_back(now);
        }
        EXPECT_EQ(volumes, heard);
    }
}
