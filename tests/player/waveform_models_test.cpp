#include "player/waveform_coordinator.h"
#include "player/waveform_zoom.h"

#include "concurrency/main_thread.h"
#include "library/sd2_recovery.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <coroutine>
#include <vector>

using namespace tampod;

namespace {

// A reading the test completes by hand: each call waits until released, then returns the
// peaks set for its track (one value, a per-track number, by default).
class FakeReading {
public:
    WaveformReading reading()
    {
        return [this](AudioTrack track, CancellationToken token) { return read(std::move(track), std::move(token)); };
    }

    // Readings from now on wait for release().
    void hold()
    {
        held_ = true;
        open_ = false;
    }
    void release()
    {
        open_ = true;
        for (auto handle : std::exchange(waiters_, {}))
            resumeOnMainThread(handle);
    }

    std::vector<QUuid> calls;
    std::vector<CancellationToken> tokens;

private:
    struct Gate {
        FakeReading *owner;
        bool await_ready() const noexcept { return !owner->held_ || owner->open_; }
        void await_suspend(std::coroutine_handle<> handle) { owner->waiters_.push_back(handle); }
        void await_resume() const noexcept {}
    };

    QCoro::Task<WaveformPeaks> read(AudioTrack track, CancellationToken token)
    {
        calls.push_back(track.id);
        tokens.push_back(token);
        co_await Gate{this};
        co_return WaveformPeaks{float(calls.size()) / 100};
    }

    bool held_ = false;
    bool open_ = false;
    std::vector<std::coroutine_handle<>> waiters_;
};

AudioTrack track(const QString &path = QStringLiteral("/absent/take.wav"))
{
    AudioTrack t;
    t.id = QUuid::createUuid();
    t._url = TrackedFileURL(QUrl::fromLocalFile(path));
    return t;
}

// A recovered SD2 record; the copy's folder does not exist, so its release removes nothing.
AudioTrack recovered(const QString &digest, AudioTrack t = track())
{
    t.recovery = SD2Recovery{std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/absent/job/R.wav"), 44100,
                                                                        10, digest, 2, 1),
                             std::nullopt};
    return t;
}

AudioTrack pendingRecovery()
{
    AudioTrack t = track();
    t.recovery = SD2Recovery{nullptr, std::nullopt};
    return t;
}

WaveformDetailRequest requestFor(const AudioTrack &t, bool zoomed = true)
{
    return {t.id, t.audioURL(), zoomed};
}

} // namespace

TEST(WaveformZoom, AmountCentreAndPanArithmetic)
{
    WaveformZoom zoom(FakeReading().reading());
    struct Case {
        double amount;
        SectionRange focus;
        double expectedAmount, expectedCenter;
    };
    const Case cases[] = {
        {1, {0.99, 1.0}, 1, 1 - 1.0 / 128}, {1, {0.9, 1.0}, 1, 0.95},  {-0.5, {0.2, 0.4}, 0, 0.5},
        {5, {0, 0.01}, 1, 1.0 / 128},       {0.5, {0.2, 0.4}, 0.5, 0.3}, {0, {0.1, 0.2}, 0, 0.5},
    };
    for (const Case &c : cases) {
        zoom.setAmount(c.amount, c.focus);
        EXPECT_EQ(zoom.amount(), c.expectedAmount) << c.amount;
        EXPECT_DOUBLE_EQ(zoom.center(), c.expectedCenter) << c.amount;
        const WaveformViewport window = zoom.viewport();
        EXPECT_GE(window.end - window.start, 1.0 / 64 - 1e-15) << "never narrower than 1/64";
    }
    zoom.setAmount(1, {0.99, 1.0});
    EXPECT_DOUBLE_EQ(zoom.viewport().end - zoom.viewport().start, 1.0 / 64);
    EXPECT_EQ(zoom.viewport().end, 1);
    zoom.setAmount(std::nan(""), {0.2, 0.4});
    EXPECT_EQ(std::pair(zoom.amount(), zoom.center()), std::pair(1.0, 1 - 1.0 / 128)) << "NaN changes nothing";

    zoom.setAmount(0.5, {0.5, 0.5});
    zoom.pan(0.0);
    EXPECT_DOUBLE_EQ(zoom.center(), 1.0 / 16) << "magnification 8";
    zoom.pan(std::nan(""));
    EXPECT_DOUBLE_EQ(zoom.center(), 1.0 / 16);
    zoom.pan(2);
    EXPECT_DOUBLE_EQ(zoom.center(), 1 - 1.0 / 16);
    zoom.setAmount(0, {0.2, 0.4});
    zoom.pan(0.1);
    EXPECT_EQ(zoom.center(), 0.5) << "not zoomed: no panning";
}

TEST(WaveformZoom, DetailIsLoadedOncePerRequest)
{
    FakeReading reading;
    WaveformZoom zoom(reading.reading());
    const AudioTrack first = track("/absent/one.wav");
    const AudioTrack second = track("/absent/two.wav");

    test::runTask(zoom.loadDetail(first, requestFor(first)));
    test::runTask(zoom.loadDetail(first, requestFor(first)));
    EXPECT_EQ(reading.calls, std::vector<QUuid>{first.id}) << "the same request reads once";
    EXPECT_EQ(zoom.peaks(), WaveformPeaks{0.01f});
    EXPECT_EQ(zoom.ready(), requestFor(first));

    // Requests that do not fit the track, or are not zoomed, clear the detail and read nothing.
    WaveformDetailRequest otherFile = requestFor(first);
    otherFile.audioURL = QUrl::fromLocalFile("/absent/elsewhere.wav");
    const std::pair<std::optional<AudioTrack>, WaveformDetailRequest> clearing[] = {
        {first, requestFor(first, false)}, {second, requestFor(first)}, {first, otherFile},
        {std::nullopt, requestFor(first)}, {pendingRecovery(), WaveformDetailRequest{}},
    };
    for (const auto &[t, request] : clearing) {
        test::runTask(zoom.loadDetail(t, requestFor(first)));
        test::runTask(zoom.loadDetail(t, request));
        EXPECT_TRUE(zoom.peaks().isEmpty());
        EXPECT_FALSE(zoom.ready());
    }
    EXPECT_EQ(reading.calls.size(), 2u) << "only the first reload after clearing read";

    // A reset or a newer request while loading drops the older result.
    reading.hold();
    auto stale = zoom.loadDetail(second, requestFor(second));
    EXPECT_TRUE(zoom.isLoading());
    zoom.reset();
    EXPECT_TRUE(reading.tokens.back().isCancelled());
    reading.release();
    test::runTask(std::move(stale));
    EXPECT_TRUE(zoom.peaks().isEmpty());
    EXPECT_FALSE(zoom.isLoading());

    // The caller's cancellation reaches the reading; nothing is applied.
    reading.hold();
    CancellationSource caller;
    auto cancelled = zoom.loadDetail(second, requestFor(second), caller.token());
    caller.cancel();
    EXPECT_TRUE(reading.tokens.back().isCancelled());
    reading.release();
    test::runTask(std::move(cancelled));
    EXPECT_FALSE(zoom.ready());
    EXPECT_FALSE(zoom.isLoading());
}

TEST(WaveformCoordinator, OverviewLoadsAndCachesRecoveredCopies)
{
    FakeReading reading;
    WaveformCoordinator overview(reading.reading());

    EXPECT_TRUE(overview.prepare(pendingRecovery()).isEmpty());
    EXPECT_TRUE(overview.peaks().isEmpty());
    EXPECT_FALSE(overview.isLoading());
    EXPECT_TRUE(reading.calls.empty());

    const AudioTrack copy = recovered("2:1:aaa");
    reading.hold();
    const TaskHandle load = overview.prepare(copy);
    EXPECT_TRUE(overview.isLoading());
    reading.release();
    ASSERT_TRUE(test::pumpUntil([&] { return load.isFinished(); }));
    EXPECT_EQ(overview.peaks(), WaveformPeaks{0.01f});
    EXPECT_FALSE(overview.isLoading());

    overview.prepare(track());
    EXPECT_TRUE(overview.prepare(copy).isEmpty()) << "the cached copy is not read again";
    EXPECT_EQ(overview.peaks(), WaveformPeaks{0.01f});
    EXPECT_EQ(reading.calls.size(), 2u);
    overview.prepare(recovered("2:1:bbb", copy));
    EXPECT_EQ(reading.calls.size(), 3u) << "a new recovery of the same record reads again";

    // Sixteen more copies: the seventeenth entry empties the cache before it is stored.
    for (int i = 0; i < 16; ++i)
        overview.prepare(recovered("2:1:" + QString::number(i)));
    EXPECT_EQ(reading.calls.size(), 19u);
    overview.prepare(recovered("2:1:bbb", copy));
    EXPECT_EQ(reading.calls.size(), 20u) << "the emptied cache lost the first copy";

    // A reset while reading drops the result.
    reading.hold();
    overview.prepare(track());
    overview.reset();
    EXPECT_TRUE(reading.tokens.back().isCancelled());
    reading.release();
    QCoreApplication::processEvents();
    EXPECT_TRUE(overview.peaks().isEmpty());

    // A coordinator that goes away while reading takes nothing back.
    reading.hold();
    auto gone = std::make_unique<WaveformCoordinator>(reading.reading());
    const TaskHandle orphan = gone->prepare(track());
    gone.reset();
    reading.release();
    EXPECT_TRUE(test::pumpUntil([&] { return orphan.isFinished(); }));
}
