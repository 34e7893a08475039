#include "platform/output/audio_file_player.h"
#include "platform/output/audio_output.h"
#include "platform/output/null_audio_output.h"

#include "platform_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

using namespace tampod;

namespace {

using namespace std::chrono_literals;

std::shared_ptr<AudioOutput> nullOutput()
{
    return std::make_shared<NullAudioOutput>();
}

// A device probe stuck in an audio library until the test lets it go; then it finds a device.
class StuckProbe {
public:
    StuckProbe() : gate_(released_.get_future().share()) {}
    ~StuckProbe()
    {
        release();
        AudioOutput::setProbe(nullOutput);
    }

    AudioOutput::Probe probe()
    {
        return [gate = gate_, device = device_] {
            gate.wait();
            return device;
        };
    }
    void release()
    {
        if (!open_)
            released_.set_value();
        open_ = true;
    }
    const std::shared_ptr<AudioOutput> &device() const { return device_; }

private:
    std::promise<void> released_;
    std::shared_future<void> gate_;
    bool open_ = false;
    const std::shared_ptr<AudioOutput> device_ = nullOutput();
};

} // namespace

// A probe that never returns leaves the program as without a device: playback waits for it no
// longer than its bound, then plays on the null output, which stays when the probe answers late.
TEST(AudioOutput, PlaybackWaitsForAStuckProbeOnlyWithinItsBound)
{
    constexpr auto bound = 300ms;
    std::future<std::shared_ptr<AudioOutput>> waited; // before the probe: it must go first
    StuckProbe stuck;
    AudioOutput::setProbe(stuck.probe(), bound);
    QElapsedTimer clock;
    clock.start();
    AudioOutput::warmUp();
    waited = std::async(std::launch::async, [] { return AudioOutput::shared(); });
    ASSERT_EQ(waited.wait_for(test::hangGuard), std::future_status::ready) << "waits for the probe";
    const auto output = waited.get();
    EXPECT_GE(clock.elapsed(), bound.count());
    ASSERT_TRUE(std::dynamic_pointer_cast<NullAudioOutput>(output));
    EXPECT_NE(output, stuck.device());
    EXPECT_EQ(AudioOutput::shared(), output);
    EXPECT_FALSE(AudioOutput::probeSettled(10ms));

    test::TempDir dir;
    const auto path = dir.file("tone.wav");
    test::writeFloatWav(path, 2, 44100, test::sine(4410, 2, 44100, 440, 0.5));
    std::atomic<int> finished{0};
    {
        AudioFilePlayer player(path);
        player.setFinishedHandler([&](bool ok) { finished += ok ? 1 : 100; });
        ASSERT_TRUE(player.play());
        EXPECT_TRUE(test::pumpUntil([&] { return finished > 0; }));
    }
    EXPECT_EQ(finished, 1);

    stuck.release();
    EXPECT_TRUE(test::pumpUntil([] { return AudioOutput::probeSettled(0ms); }));
    EXPECT_EQ(AudioOutput::shared(), output) << "the late device replaced the output in use";
}

// The end of a process never waits for a probe that is still running: its thread is left
// inside the audio library.
TEST(AudioOutput, AProcessEndsBesideAProbeThatNeverReturns)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(30); // a process that cannot end is ended by the alarm, failing the test
            AudioOutput::setProbe(
                []() -> std::shared_ptr<AudioOutput> {
                    for (;;)
                        std::this_thread::sleep_for(1h);
                },
                100ms);
            AudioOutput::warmUp();
            std::exit(AudioOutput::probeSettled(10ms) ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}
