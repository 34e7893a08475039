#include "player/sd2_pair_coordinator.h"

#include "concurrency/detached.h"
#include "library/sd2_pair_audio.h"
#include "platform/decode/pcm_file_description.h"

#include "sd2/pair_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

using namespace tampod;
using namespace tampod::test;
using namespace std::chrono_literals;

namespace {

const QString ready = "Stereo pair ready. Original files are unchanged.";

// Preparations that run until the test ends them, whatever their cancellation says: the
// coordinator must still never let two of them overlap.
struct LatchedPreparations {
    struct Run {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
    };
    std::vector<std::shared_ptr<Run>> runs; // main thread
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};

    static QCoro::Task<AudioTrack> prepare(LatchedPreparations *self, std::shared_ptr<Run> run, AudioTrack left)
    {
        // Held in the frame: g++ 12 can release the captures of a temporary in a co_await operand twice.
        auto work = runDetached(TaskPriority::UserInitiated, [self, run] {
            self->mostRunning = std::max(self->mostRunning.load(), ++self->running);
            run->released.wait();
            --self->running;
        });
        co_await work;
        AudioTrack pair;
        pair.id = QUuid::createUuid();
        pair._url = left._url;
        co_return pair;
    }
    SD2PairCoordinator::Preparation preparation()
    {
        return [this](AudioTrack left, AudioTrack, SD2PairProgress, CancellationToken) {
            runs.push_back(std::make_shared<Run>());
            return prepare(this, runs.back(), std::move(left));
        };
    }
};

class PairCoordinator : public ::testing::Test {
protected:
    std::vector<AudioTrack> completed;
    std::function<void(const AudioTrack &)> collect()
    {
        return [this](const AudioTrack &pair) { completed.push_back(pair); };
    }
    QStringList jobs() const { return jobFolders(store.session()); }

    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file("store"))};
    SD2PairCoordinator coordinator{SD2PairCoordinator::servicePreparation([this]() -> TemporaryAudioStore & { return store; })};
};

} // namespace

TEST_F(PairCoordinator, LinksTakeLAndRIntoStereoWav)
{
    const AudioTrack left = sd2Channel(dir, "take.L", 20000, 16, 48000, 1), right = sd2Channel(dir, "take.R", 20000, 16, 48000, 2);
    const QByteArray leftSource = readAll(dir.file("take.L")), rightSource = readAll(dir.file("take.R"));
    std::vector<double> progress;
    QObject::connect(&coordinator, &SD2PairCoordinator::progressChanged, [&] { progress.push_back(coordinator.progress()); });
    coordinator.prepare(left, right, collect());
    EXPECT_TRUE(coordinator.isPreparing());
    EXPECT_TRUE(completed.empty()); // never inside the call
    ASSERT_TRUE(pumpUntil([&] { return !coordinator.isPreparing(); }));

    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(coordinator.message(), ready);
    EXPECT_EQ(coordinator.progress(), 1.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()) && progress.size() == 3);
    const AudioTrack &pair = completed[0];
    ASSERT_TRUE(pair.pair);
    EXPECT_EQ(pair.pair->name(), "take");
    EXPECT_EQ(pair.audioURL().fileName(), "Stereo.wav");
    const auto written = PCMFileDescription::read(pair.audioURL().toLocalFile());
    EXPECT_EQ(std::tuple(written.frames, written.channels, written.sampleRate, written.bitsPerSample), std::tuple(20000, 2, 48000, 16));
    EXPECT_EQ(std::pair(readAll(dir.file("take.L")), readAll(dir.file("take.R"))), std::pair(leftSource, rightSource));
    EXPECT_EQ(jobs().size(), 1);
    completed.clear();
    EXPECT_TRUE(jobs().isEmpty()); // the working copy went with the last holder
}

TEST_F(PairCoordinator, RefusalsAndCancellationLeaveNoFolder)
{
    // Lengths as imported: 1,000,000 and 1,000,001 frames.
    AudioTrack left = sd2Channel(dir, "take.L", 10), right = sd2Channel(dir, "take.R", 10);
    left.metadataAudio.reset();
    right.metadataAudio.reset();
    left.importedSD2Frames = 1000000;
    right.importedSD2Frames = 1000001;
    coordinator.prepare(left, right, collect());
    ASSERT_TRUE(pumpUntil([&] { return !coordinator.isPreparing(); }));
    EXPECT_EQ(coordinator.message(), "Left and right must have the same exact audio length (sample-frame count). No "
                                     "trimming or padding is applied.");
    EXPECT_TRUE(completed.empty());

    // Cancelled at the first progress report, wherever the join then is: the message stays,
    // nothing is delivered and the work folder goes when the run ends.
    const AudioTrack l = sd2Channel(dir, "long.L", 8192 * 64), r = sd2Channel(dir, "long.R", 8192 * 64, 16, 44100, 2);
    QObject::connect(&coordinator, &SD2PairCoordinator::progressChanged, [&] {
        if (coordinator.isPreparing())
            coordinator.cancel();
    });
    coordinator.setMessage("");
    coordinator.prepare(l, r, collect());
    ASSERT_TRUE(pumpUntil([&] { return !coordinator.isPreparing(); }));
    EXPECT_EQ(coordinator.message(), "");
    EXPECT_GT(coordinator.progress(), 0);
    EXPECT_TRUE(pumpUntil([&] { return jobs().isEmpty(); }));
    EXPECT_FALSE(pumpUntil([&] { return !completed.empty(); }, 100ms));
}

TEST(PairCoordinatorRuns, AStaleRunIsNeverDeliveredAndRunsNeverOverlap)
{
    LatchedPreparations preparations;
    SD2PairCoordinator coordinator(preparations.preparation());
    std::vector<QUuid> delivered;
    const auto collect = [&](const AudioTrack &pair) { delivered.push_back(pair.id); };
    AudioTrack left;
    left.id = QUuid::createUuid();

    coordinator.prepare(left, left, collect);
    ASSERT_TRUE(pumpUntil([&] { return preparations.running == 1; }));
    coordinator.prepare(left, left, collect); // supersedes the first
    coordinator.cancel();
    coordinator.prepare(left, left, collect); // after a cancel: still waits for the first
    EXPECT_TRUE(coordinator.isPreparing());
    EXPECT_FALSE(pumpUntil([&] { return preparations.runs.size() > 1; }, 100ms));
    preparations.runs[0]->release.set_value();
    ASSERT_TRUE(pumpUntil([&] { return preparations.runs.size() == 2; }));
    preparations.runs[1]->release.set_value();
    ASSERT_TRUE(pumpUntil([&] { return !coordinator.isPreparing(); }));
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_EQ(preparations.mostRunning, 1);
    EXPECT_EQ(coordinator.message(), ready);
}
