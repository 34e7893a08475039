#include "player/waveform_coordinator.h"
#include "player/waveform_zoom.h"

#include "concurrency/main_thread.h"
#include "library/sd2_recovery.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

// Readings that, while held, wait until released; each returns its call number / 100.
struct FakeReading {
    WaveformReading reading()
    {
        return [this](AudioTrack track, CancellationToken token) -> QCoro::Task<WaveformPeaks> {
            calls.push_back(track.id);
            tokens.push_back(token);
            const float value = float(calls.size()) / 100;
            if (held)
                co_await released.finished();
            co_return WaveformPeaks{value};
        };
    }
    void hold()
    {
        held = true;
        gate = std::make_shared<CancellationSource>();
        released = TaskHandle::start([gate = gate](CancellationToken) -> QCoro::Task<> {
            while (!gate->isCancelled())
                co_await sleepFor(std::chrono::milliseconds(1));
        });
    }
    void release() { gate->cancel(), held = false; }

    std::vector<QUuid> calls;
    std::vector<CancellationToken> tokens;
    bool held = false;
    std::shared_ptr<CancellationSource> gate;
    TaskHandle released;
};

AudioTrack track(const QString &digest = {}, bool pending = false)
{
    AudioTrack t;
    t.id = QUuid::createUuid();
    t._url = TrackedFileURL(QUrl::fromLocalFile("/absent/take.wav"));
    if (!digest.isEmpty() || pending) // the copy's folder does not exist: its release removes nothing
        t.recovery = SD2Recovery{pending ? nullptr
                                         : std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/absent/j/R.wav"),
                                                                                    44100, 10, digest, 2, 1),
                                 std::nullopt};
    return t;
}

} // namespace

TEST(WaveformZoom, AmountCentreAndPan)
{
    WaveformZoom zoom(FakeReading().reading());
    const std::tuple<double, SectionRange, double, double> cases[] = {
        {1, {0.99, 1}, 1, 1 - 1.0 / 128}, {1, {0.9, 1}, 1, 0.95},       {-0.5, {0.2, 0.4}, 0, 0.5},
        {5, {0, 0.01}, 1, 1.0 / 128},     {0.5, {0.2, 0.4}, 0.5, 0.3},  {NAN, {0.2, 0.4}, 0.5, 0.3}};
    for (const auto &[amount, focus, expectedAmount, center] : cases) {
        zoom.setAmount(amount, focus);
        EXPECT_EQ(zoom.amount(), expectedAmount) << amount;
        EXPECT_DOUBLE_EQ(zoom.center(), center) << amount;
        EXPECT_GE(zoom.viewport().end - zoom.viewport().start, 1.0 / 64) << "never narrower than 1/64";
    }
    zoom.setAmount(1, {0.99, 1});
    EXPECT_EQ(zoom.viewport(), (WaveformViewport{1 - 1.0 / 64, 1}));
    zoom.setAmount(0.5, {0.5, 0.5});
    for (const auto &[to, center] : {std::pair(0.0, 1.0 / 16), {NAN, 1.0 / 16}, {2.0, 15.0 / 16}}) {
        zoom.pan(to);
        EXPECT_DOUBLE_EQ(zoom.center(), center) << to;
    }
    zoom.reset();
    zoom.pan(0.1);
    EXPECT_EQ(std::pair(zoom.amount(), zoom.center()), std::pair(0.0, 0.5)) << "no panning unzoomed";
}

TEST(WaveformZoom, DetailIsLoadedOncePerRequest)
{
    FakeReading reading;
    WaveformZoom zoom(reading.reading());
    const AudioTrack first = track(), second = track();
    const WaveformDetailRequest request{first.id, first.audioURL(), true};
    test::runTask(zoom.loadDetail(first, request));
    test::runTask(zoom.loadDetail(first, request));
    EXPECT_EQ(reading.calls, std::vector<QUuid>{first.id}) << "the same request reads once";
    EXPECT_EQ(std::pair(zoom.peaks(), zoom.ready()), std::pair(WaveformPeaks{0.01f}, std::optional(request)));

    // Unzoomed, or not matching the track: the detail is cleared and nothing is read.
    const std::pair<std::optional<AudioTrack>, WaveformDetailRequest> clearing[] = {
        {first, {first.id, first.audioURL(), false}}, {second, request},
        {first, {first.id, QUrl("file:///elsewhere.wav"), true}}, {std::nullopt, request}, {track({}, true), request}};
    for (const auto &[t, r] : clearing) {
        test::runTask(zoom.loadDetail(t, r));
        EXPECT_TRUE(zoom.peaks().isEmpty());
        EXPECT_FALSE(zoom.ready().has_value());
    }
    EXPECT_EQ(reading.calls.size(), 1u);

    // A reset, or the caller's cancellation, while loading: nothing is applied.
    for (bool byCaller : {false, true}) {
        reading.hold();
        CancellationSource caller;
        auto load = zoom.loadDetail(second, {second.id, second.audioURL(), true}, caller.token());
        EXPECT_TRUE(zoom.isLoading());
        byCaller ? caller.cancel() : zoom.reset();
        EXPECT_TRUE(reading.tokens.back().isCancelled());
        reading.release();
        test::runTask(std::move(load));
        EXPECT_EQ(std::tuple(zoom.peaks(), zoom.ready(), zoom.isLoading()), std::tuple(WaveformPeaks{}, std::nullopt, false));
    }
}

TEST(WaveformZoom, AnOlderLoadFinishingFirstLeavesTheNewerOneToTheNextReset)
{
    std::vector<std::shared_ptr<CancellationSource>> gates; // one per read, each released alone
    WaveformZoom zoom([&gates](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> {
        const auto gate = gates.emplace_back(std::make_shared<CancellationSource>());
        const float value = float(gates.size()) / 100;
        while (!gate->isCancelled())
            co_await sleepFor(std::chrono::milliseconds(1));
        co_return WaveformPeaks{value};
    });
    const AudioTrack first = track(), second = track();
    auto older = zoom.loadDetail(first, {first.id, first.audioURL(), true});
    auto newer = zoom.loadDetail(second, {second.id, second.audioURL(), true});
    ASSERT_EQ(gates.size(), 2u);
    gates[0]->cancel();
    test::runTask(std::move(older));
    EXPECT_TRUE(zoom.isLoading()) << "the newer load is still running";
    zoom.reset();
    gates[1]->cancel();
    test::runTask(std::move(newer));
    EXPECT_EQ(std::tuple(zoom.peaks(), zoom.ready(), zoom.isLoading()), std::tuple(WaveformPeaks{}, std::nullopt, false));
}

TEST(WaveformCoordinator, OverviewLoadsAndCachesRecoveredCopies)
{
    FakeReading reading;
    WaveformCoordinator overview(reading.reading());
    EXPECT_TRUE(overview.prepare(track({}, true)).isEmpty()) << "pending recovery: no task";
    EXPECT_EQ(std::tuple(overview.peaks(), overview.isLoading(), reading.calls.size()), std::tuple(WaveformPeaks{}, false, 0u));

    const AudioTrack copy = track("2:1:a");
    reading.hold();
    const TaskHandle load = overview.prepare(copy);
    EXPECT_TRUE(overview.isLoading());
    reading.release();
    ASSERT_TRUE(test::pumpUntil([&] { return load.isFinished(); }));
    EXPECT_EQ(std::pair(overview.peaks(), overview.isLoading()), std::pair(WaveformPeaks{0.01f}, false));
    overview.prepare(track());
    EXPECT_TRUE(overview.prepare(copy).isEmpty()) << "a cached copy is not read again";
    EXPECT_EQ(std::pair(overview.peaks(), reading.calls.size()), std::pair(WaveformPeaks{0.01f}, 2ul));
    AudioTrack again = track("2:1:b");
    again.id = copy.id;
    for (int i = 0; i < 17; ++i) // a new digest is read; the 17th entry empties the cache first
        overview.prepare(i ? track("2:1:" + QString::number(i)) : again);
    overview.prepare(again);
    EXPECT_EQ(reading.calls.size(), 20u) << "the emptied cache no longer held it";

    // A reset while reading, or a coordinator that goes away, takes nothing back.
    reading.hold();
    auto gone = std::make_unique<WaveformCoordinator>(reading.reading());
    const TaskHandle orphan = gone->prepare(track());
    overview.prepare(track());
    overview.reset();
    gone.reset();
    EXPECT_TRUE(reading.tokens.back().isCancelled());
    reading.release();
    EXPECT_TRUE(test::pumpUntil([&] { return orphan.isFinished(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(overview.peaks(), WaveformPeaks{});
}
