#include "views/waveform/linked_waveform_view.h"
#include "views/waveform/waveform_texts.h"

#include "support/snapshot.h"
#include "waveform_fakes.h"

using namespace tampod;
using namespace tampod::test;

namespace {

// Channel reads held until the test finishes them; their peaks tell channel and bins apart.
struct ChannelReads {
    struct Call {
        int bins;
        std::optional<int> channel;
        CancellationToken token;
    };
    std::vector<Call> calls;
    Pending<WaveformPeaks> pending{true, {}, {}};
    ~ChannelReads() { pending.settle(); }

    static WaveformPeaks peaks(int bins, std::optional<int> channel)
    {
        WaveformPeaks result;
        for (int i = 0; i < 512; ++i)
            result.append(float((channel == 0 ? 0.6 : 0.3) + 0.3 * std::sin(i * (bins > 1024 ? 0.2 : 0.05))));
        return result;
    }
    LinkedWaveformView::ChannelReading reading()
    {
        return [this](AudioTrack, WaveformViewport viewport, int bins, std::optional<int> channel, CancellationToken token) {
            EXPECT_EQ(viewport, (WaveformViewport{0, 1})) << "the lanes always read the whole file";
            calls.push_back({bins, channel, token});
            return pending.start([bins, channel] { return peaks(bins, channel); });
        };
    }
    // Ends call i and waits until the load has moved on.
    void finish(std::size_t i)
    {
        pending.finish(i);
        EXPECT_TRUE(pumpUntil([&] { return pending.states[i].use_count() == 1; }));
    }
};

} // namespace

TEST(LinkedWaveformView, ReadsChannelZeroThenOneAndShowsBothAtOnce)
{
    ChannelReads reads;
    const AudioTrack pair = pairTrack();
    LinkedWaveformView view(pair, {0, 1}, reads.reading());
    EXPECT_TRUE(reads.calls.empty()) << "nothing is read before the view is shown";
    view.show();
    ASSERT_EQ(reads.calls.size(), 1u);
    EXPECT_EQ(std::pair(reads.calls[0].channel, reads.calls[0].bins), std::pair(std::optional(0), 1024));
    reads.finish(0);
    ASSERT_EQ(reads.calls.size(), 2u);
    EXPECT_EQ(reads.calls[1].channel, 1);
    EXPECT_TRUE(view.left().isEmpty()) << "nothing is shown before both channels are read";
    reads.finish(1);
    const WaveformDetailRequest overview = view.request();
    EXPECT_EQ(view.ready(), overview);
    EXPECT_EQ(view.left(), ChannelReads::peaks(1024, 0));
    EXPECT_EQ(view.right(), ChannelReads::peaks(1024, 1));

    // Zooming in reads both channels again at the detail's bin count; panning reads nothing.
    view.set(pair, {0.25, 0.5});
    view.set(pair, {0.3, 0.55});
    ASSERT_EQ(reads.calls.size(), 3u);
    EXPECT_EQ(std::pair(reads.calls[2].channel, reads.calls[2].bins), std::pair(std::optional(0), 65536));

    // Another request while channel 0 is read: that read is cancelled and changes nothing.
    const AudioTrack other = pairTrack();
    view.set(other, {0.3, 0.55});
    EXPECT_TRUE(reads.calls[2].token.isCancelled());
    ASSERT_EQ(reads.calls.size(), 4u);
    reads.finish(2);
    EXPECT_EQ(reads.calls.size(), 4u) << "a cancelled load reads no second channel";
    EXPECT_EQ(view.ready(), overview);
    EXPECT_EQ(view.left(), ChannelReads::peaks(1024, 0));
    reads.finish(3);
    reads.finish(4);
    EXPECT_EQ(view.ready(), view.request());
    EXPECT_EQ(view.ready()->trackID, other.id);
    EXPECT_EQ(view.right(), ChannelReads::peaks(65536, 1));
}

TEST(LinkedWaveformView, LanesLookAndReadAsTheirChannels)
{
    ChannelReads reads;
    reads.pending.hold = false;
    QWidget host;
    host.resize(978, 220);
    auto *view = new LinkedWaveformView(pairTrack(), {0, 1}, reads.reading(), &host);
    view->resize(978, 220);
    host.show();
    ASSERT_TRUE(pumpUntil([&] { return view->ready().has_value(); }));
    EXPECT_EQ(view->lane(0)->accessibleName(), WaveformText::leftLaneLabel);
    EXPECT_EQ(view->lane(1)->accessibleName(), WaveformText::rightLaneLabel);
    // The lanes share what the 1-point rule and its two 2-point gaps leave.
    EXPECT_EQ(view->lane(0)->geometry(), QRect(0, 0, 978, 108));
    EXPECT_EQ(view->lane(1)->geometry(), QRect(0, 113, 978, 107));
    for (const double ratio : {1.0, 2.0}) {
        const QImage image = render(host, ratio, QStringLiteral("linked-lanes"));
        EXPECT_NEAR(image.pixelColor(500, int(110 * ratio)).redF(), 0.21, 0.01) << "the rule, " << ratio;
    }
}

TEST(LinkedWaveformView, ANewPairsLanesStayEmptyUntilBothOfItsChannelsAreRead)
{
    ChannelReads reads;
    QWidget host;
    host.resize(600, 160);
    auto *view = new LinkedWaveformView(pairTrack(), {0, 1}, reads.reading(), &host);
    view->resize(600, 160);
    host.show();
    const auto looks = [&] { return std::pair(view->lane(0)->grab().toImage(), view->lane(1)->grab().toImage()); };
    const auto empty = looks();
    reads.finish(0);
    reads.finish(1);
    const auto first = looks();
    ASSERT_NE(first.first, empty.first);
    ASSERT_NE(first.second, empty.second);

    view->set(pairTrack(), {0, 1});
    EXPECT_EQ(looks(), empty) << "the previous pair's waveform is gone at once";
    reads.finish(2);
    EXPECT_EQ(looks(), empty) << "one channel read shows nothing yet";
    reads.finish(3);
    EXPECT_EQ(view->ready(), view->request());
    EXPECT_NE(looks().first, empty.first);
    EXPECT_NE(looks().second, empty.second);
}
