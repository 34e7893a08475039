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

class PairCoordinator : public ::testing::Test {
protected:
    bool finished() { return pumpUntil([&] { return !coordinator.isPreparing(); }); }

    std::vector<AudioTrack> completed;
    const std::function<void(const AudioTrack &)> collect = [this](const AudioTrack &pair) { completed.push_back(pair); };
    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file("store"))};
    SD2PairCoordinator coordinator{SD2PairCoordinator::servicePreparation([this]() -> TemporaryAudioStore & { return store; })};
};

// Preparations that run until the test releases them, whatever their cancellation says.
struct LatchedPreparations {
    std::vector<std::shared_ptr<std::promise<void>>> releases; // main thread
    std::atomic<int> running{0}, mostRunning{0};

    static QCoro::Task<AudioTrack> run(LatchedPreparations *self, std::shared_future<void> released)
    {
        // Held in the frame: g++ 12 can release the captures of a temporary in a co_await operand twice.
        auto work = runDetached(TaskPriority::UserInitiated, [self, released] {
            self->mostRunning = std::max(self->mostRunning.load(), ++self->running);
            released.wait();
            --self->running;
        });
        co_await work;
        AudioTrack pair;
        pair.id = QUuid::createUuid();
        co_return pair;
    }
    SD2PairCoordinator::Preparation preparation()
    {
        return [this](AudioTrack, AudioTrack, SD2PairProgress, CancellationToken) {
            releases.push_back(std::make_shared<std::promise<void>>());
            return run(this, releases.back()->get_future().share());
        };
    }
};

} // namespace

TEST_F(PairCoordinator, LinksTakeLAndRIntoStereoWav)
{
    const AudioTrack left = sd2Channel(dir, "take.L", 20000, 16, 48000, 1), right = sd2Channel(dir, "take.R", 20000, 16, 48000, 2);
    const QByteArray sources = readAll(dir.file("take.L")) + readAll(dir.file("take.R"));
    std::vector<double> progress;
    QObject::connect(&coordinator, &SD2PairCoordinator::progressChanged, [&] { progress.push_back(coordinator.progress()); });
    coordinator.prepare(left, right, collect);
    EXPECT_TRUE(coordinator.isPreparing() && completed.empty()); // never inside the call
    ASSERT_TRUE(finished());
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(coordinator.message(), ready);
    // Queued reports may arrive after the pair: wait for the last one.
    ASSERT_TRUE(pumpUntil([&] { return !progress.empty() && progress.back() == 1.0; }));
    EXPECT_EQ(progress, (std::vector<double>{8192 / 20000.0, 16384 / 20000.0, 1.0}));
    EXPECT_EQ(readAll(dir.file("take.L")) + readAll(dir.file("take.R")), sources);

    const AudioTrack &pair = completed[0];
    const SD2RecoveredCopy &copy = *pair.pair->copy();
    EXPECT_EQ(copy.url().toLocalFile(), store.session().toLocalFile() + "/jobs/" + jobFolders(store.session()).value(0) + "/Stereo.wav");
    EXPECT_EQ(std::tuple(copy.frames(), copy.sampleRate(), copy.sampleBytes(), copy.channels()), std::tuple(20000, 48000, 2, 2));
    const auto written = PCMFileDescription::read(copy.url().toLocalFile());
    EXPECT_EQ(std::tuple(written.frames, written.channels, written.sampleRate, written.bitsPerSample), std::tuple(20000, 2, 48000, 16));
    EXPECT_FALSE(QUuid::fromString(copy.pcmDigest()).isNull());
    EXPECT_EQ(std::tuple(pair.pair->name(), pair.pair->left().id, pair.pair->right().id), std::tuple(QString("take"), left.id, right.id));
    EXPECT_EQ(std::tuple(pair.projectedURL(), pair.access, pair.duration), std::tuple(left.url(), left.access, 20000 / 48000.0));
    EXPECT_TRUE(pair.id != left.id && pair.importedFormat == AudioSourceFormat());
    EXPECT_FALSE(pair.recovery || pair.metadataAudio || pair.rexAudio || pair.sd2Format || pair.importedSD2Frames);
    completed.clear();
    EXPECT_TRUE(jobFolders(store.session()).isEmpty()); // the copy went with the last holder
}

TEST_F(PairCoordinator, RefusalsAndCancellationLeaveNoFolder)
{
    coordinator.prepare(channelRecord(dir.file("take.L"), 1000000), channelRecord(dir.file("take.R"), 1000001), collect);
    ASSERT_TRUE(finished());
    EXPECT_EQ(coordinator.message(), "Left and right must have the same exact audio length (sample-frame count). No "
                                     "trimming or padding is applied.");

    // Cancelled at the first progress report, wherever the join then is: the message stays,
    // nothing is delivered and the work folder goes when the run ends.
    coordinator.setMessage("");
    QObject::connect(&coordinator, &SD2PairCoordinator::progressChanged, [&] { coordinator.cancel(); });
    coordinator.prepare(sd2Channel(dir, "long.L", 8192 * 64), sd2Channel(dir, "long.R", 8192 * 64), collect);
    ASSERT_TRUE(finished());
    EXPECT_EQ(coordinator.message(), "");
    EXPECT_TRUE(pumpUntil([&] { return jobFolders(store.session()).isEmpty(); }));
    EXPECT_FALSE(pumpUntil([&] { return !completed.empty(); }, 100ms));
}

TEST(PairCoordinatorRuns, AStaleRunIsNeverDeliveredAndRunsNeverOverlap)
{
    LatchedPreparations preparations;
    SD2PairCoordinator coordinator(preparations.preparation());
    std::vector<QUuid> delivered;
    const auto collect = [&](const AudioTrack &pair) { delivered.push_back(pair.id); };
    coordinator.prepare({}, {}, collect);
    ASSERT_TRUE(pumpUntil([&] { return preparations.running == 1; }));
    coordinator.prepare({}, {}, collect); // supersedes the first
    coordinator.cancel();
    coordinator.prepare({}, {}, collect); // after a cancel: still waits for the first to end
    EXPECT_FALSE(pumpUntil([&] { return preparations.releases.size() > 1; }, 100ms));
    preparations.releases[0]->set_value();
    ASSERT_TRUE(pumpUntil([&] { return preparations.releases.size() == 2; }));
    preparations.releases[1]->set_value();
    ASSERT_TRUE(pumpUntil([&] { return !coordinator.isPreparing(); }));
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_EQ(preparations.mostRunning, 1);
    EXPECT_EQ(coordinator.message(), ready);
}

// A store on a full disk, or a working copy that runs out of room: the storage text, not the
// system's sentence about the call that failed.
TEST(PairCoordinatorRuns, AFullDiskUnderTheStoreShowsTheStorageText)
{
    TempDir dir;
    for (const int full : {ENOSPC, EDQUOT}) {
        SD2PairCoordinator coordinator(SD2PairCoordinator::servicePreparation(
            [full]() -> TemporaryAudioStore & { throw SystemError(full, QStringLiteral("write")); }));
        const QString name = QStringLiteral("full%1").arg(full);
        coordinator.prepare(sd2Channel(dir, name + ".L", 100), sd2Channel(dir, name + ".R", 100),
                            [](const AudioTrack &) {});
        ASSERT_TRUE(pumpUntil([&] { return !coordinator.isPreparing(); }));
        EXPECT_EQ(coordinator.message(), "The output could not be saved. Check available space and write access, then "
                                         "try a new destination.");
    }
}
