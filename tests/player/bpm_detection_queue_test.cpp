#include "player/bpm_detection_queue.h"

#include "bpm/bpm_analysis_error.h"
#include "bpm/bpm_detection_error.h"
#include "concurrency/detached.h"
#include "files/access/missing_audio_source.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>

using namespace tampod;
using namespace std::chrono_literals;

namespace {

// Each analysis waits on its own promise until the test ends it, or until it is cancelled
// unless the analyser winds down slowly (then only the test ends it).
class LatchedAnalyzer final : public BPMAnalyzing {
public:
    struct Call {
        AudioTrack track;
        Progress progress;
        CancellationToken token;
        std::promise<double> outcome;
        std::shared_future<double> future = outcome.get_future().share();
    };
    std::vector<std::shared_ptr<Call>> calls; // main thread
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    bool windsDown = false;

    Async<double> detect(AudioTrack track, Progress progress, CancellationToken token) override
    {
        calls.push_back(std::make_shared<Call>(Call{std::move(track), std::move(progress), std::move(token), {}}));
        return runDetached(TaskPriority::UserInitiated, [this, call = calls.back(), slow = windsDown] {
            mostRunning = std::max(mostRunning.load(), ++running);
            const auto &future = call->future;
            while (future.wait_for(1ms) != std::future_status::ready && (slow || !call->token.isCancelled())) {
            }
            --running;
            return future.wait_for(0ms) == std::future_status::ready ? future.get() : throw Cancelled();
        });
    }
    void end(size_t index, double value, const std::exception_ptr &error = {})
    {
        error ? calls.at(index)->outcome.set_exception(error) : calls.at(index)->outcome.set_value(value);
    }
};

class DetectionQueue : public ::testing::Test {
protected:
    std::shared_ptr<LatchedAnalyzer> analyzer = std::make_shared<LatchedAnalyzer>();
    std::unique_ptr<BPMDetectionQueue> queue = std::make_unique<BPMDetectionQueue>(analyzer);
    std::vector<std::pair<QUuid, double>> completed;
    std::vector<std::pair<QUuid, QString>> failed;

    void SetUp() override
    {
        queue->completed = [this](const AudioTrack &track, double tempo) { completed.emplace_back(track.id, tempo); };
        queue->failed = [this](const QUuid &id, const QString &message) { failed.emplace_back(id, message); };
    }
    void TearDown() override
    {
        // Let a job still running end, so that its coroutine finishes before the test does.
        if (queue) {
            queue->cancelAll();
            EXPECT_TRUE(idle());
        }
    }
    static AudioTrack track()
    {
        AudioTrack t;
        t.id = QUuid::createUuid();
        return t;
    }
    bool calls(size_t count) { return test::pumpUntil([&] { return analyzer->calls.size() == count; }); }
    bool idle()
    {
        return test::pumpUntil([&] { return !queue->activeID() && analyzer->running == 0; });
    }
};

} // namespace

TEST_F(DetectionQueue, RunsOneAtATimeInOrderAndSkipsWhatNeedsNoDetection)
{
    const AudioTrack a = track(), b = track(), c = track();
    queue->submit(a);
    queue->submit(b);
    queue->submit(a); // already queued
    queue->submit(c);
    ASSERT_TRUE(calls(1));
    EXPECT_EQ(queue->activeID(), a.id);
    EXPECT_FALSE(queue->states()[a.id].queued);
    EXPECT_TRUE(queue->states()[b.id].queued);
    EXPECT_EQ(queue->states()[b.id].progress, 0);
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(calls(i + 1));
        analyzer->end(i, 100.0 + double(i));
    }
    ASSERT_TRUE(idle());
    EXPECT_EQ(completed, (std::vector<std::pair<QUuid, double>>{{a.id, 100}, {b.id, 101}, {c.id, 102}}));
    EXPECT_EQ(analyzer->calls.size(), 3u);
    EXPECT_EQ(analyzer->mostRunning, 1);
    EXPECT_TRUE(queue->states().isEmpty());

    // A tempo greater than 0 in any field, or an SD2 recovery still waiting, needs no detection.
    AudioTrack tagged = track(), inherited = track(), detected = track(), pending = track(), zero = track();
    tagged.bpm = 120;
    inherited.inheritedBPM = 99;
    detected.detectedBPM = 1;
    pending.recovery = SD2Recovery{};
    zero.bpm = 0;
    zero.detectedBPM = NAN;
    for (const auto &t : {tagged, inherited, detected, pending, zero})
        queue->submit(t);
    EXPECT_EQ(queue->states().keys(), QList<QUuid>{zero.id});
}

TEST_F(DetectionQueue, CancelWhileQueuedOrRunningThenSubmitAgain)
{
    analyzer->windsDown = true;
    const AudioTrack a = track(), b = track(), c = track();
    for (const auto &t : {a, b, c})
        queue->submit(t);
    ASSERT_TRUE(calls(1));
    queue->cancel(b.id); // queued: gone without touching the running job
    EXPECT_FALSE(queue->states().contains(b.id));
    EXPECT_FALSE(analyzer->calls[0]->token.isCancelled());

    // Running: its state goes at once, but it stays active until its analysis has ended; "Get"
    // again meanwhile waits behind c.
    queue->cancel(a.id);
    EXPECT_FALSE(queue->states().contains(a.id));
    EXPECT_TRUE(analyzer->calls[0]->token.isCancelled());
    queue->submit(a);
    EXPECT_TRUE(queue->states()[a.id].queued);
    EXPECT_FALSE(test::pumpUntil([&] { return analyzer->calls.size() > 1; }, 50ms));
    EXPECT_EQ(queue->activeID(), a.id);
    analyzer->calls[0]->progress(0.9); // a report of the old job
    analyzer->end(0, 120);
    ASSERT_TRUE(calls(2));
    EXPECT_EQ(analyzer->calls[1]->track.id, c.id);
    EXPECT_EQ(queue->states()[a.id].progress, 0);
    analyzer->end(1, 130);
    ASSERT_TRUE(calls(3));
    analyzer->end(2, 140);
    ASSERT_TRUE(idle());
    EXPECT_EQ(completed, (std::vector<std::pair<QUuid, double>>{{c.id, 130}, {a.id, 140}}));
    EXPECT_EQ(analyzer->mostRunning, 1);

    // Clearing everything, and a queue that goes away while its job runs, report nothing.
    queue->submit(b);
    queue->submit(c);
    ASSERT_TRUE(calls(4));
    queue->cancelAll();
    EXPECT_TRUE(queue->states().isEmpty());
    analyzer->end(3, 1);
    ASSERT_TRUE(idle());
    queue->submit(b);
    ASSERT_TRUE(calls(5));
    queue.reset();
    EXPECT_TRUE(analyzer->calls[4]->token.isCancelled());
    analyzer->end(4, 1);
    // The job lets go of its call once its result is posted; then its coroutine can end.
    ASSERT_TRUE(test::pumpUntil([&] { return analyzer->calls[4].use_count() == 1; }));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(completed.size(), 2u);
    EXPECT_TRUE(failed.empty());
}

TEST_F(DetectionQueue, ProgressNeverMovesBackwardsAndFailuresBecomeMessages)
{
    const AudioTrack a = track();
    queue->submit(a);
    ASSERT_TRUE(calls(1));
    ASSERT_TRUE(test::pumpUntil([&] { return !queue->states()[a.id].queued; }));
    // A step is the high-rate progress signal of its track alone, never a change of the states.
    int changes = 0;
    QList<QUuid> steps;
    QObject::connect(queue.get(), &BPMDetectionQueue::statesChanged, [&] { ++changes; });
    QObject::connect(queue.get(), &BPMDetectionQueue::progressChanged, [&](const QUuid &id) { steps.append(id); });
    for (const double value : {0.35, 0.2, double(NAN), double(INFINITY), -1.0, 0.35, 1.3})
        analyzer->calls[0]->progress(value);
    ASSERT_TRUE(test::pumpUntil([&] { return queue->states()[a.id].progress == 1.0; }));
    EXPECT_EQ(steps, QList<QUuid>({a.id, a.id})); // 0.35, then 1.3 shown as 1.0
    EXPECT_EQ(changes, 0);

    const std::pair<std::exception_ptr, QString> cases[] = {
        {std::make_exception_ptr(BPMDetectionError::invalidSignal("Onset envelope is empty.")),
         "No usable repeating beat was found. Get is available to try again."},
        {std::make_exception_ptr(BPMDetectionError::noValidLagRange()),
         "No usable repeating beat was found. Get is available to try again."},
        {std::make_exception_ptr(BPMAnalysisError(BPMAnalysisError::Kind::tooShort)),
         "BPM detection needs at least two seconds of audio with a repeating beat."},
        {std::make_exception_ptr(MissingAudioSource("a.wav")), MissingAudioSource("a.wav").message()},
    };
    analyzer->end(0, 0, cases[0].first);
    for (size_t i = 1; i < std::size(cases); ++i) {
        queue->submit(track());
        ASSERT_TRUE(calls(i + 1));
        analyzer->end(i, 0, cases[i].first);
    }
    ASSERT_TRUE(idle());
    ASSERT_EQ(failed.size(), std::size(cases));
    EXPECT_EQ(failed[0].first, a.id);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(failed[i].second, cases[i].second);
    EXPECT_TRUE(completed.empty());
}
