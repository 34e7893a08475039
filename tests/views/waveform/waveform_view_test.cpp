#include "views/waveform/section_loop_overlay.h"
#include "views/waveform/waveform_envelope.h"
#include "views/waveform/waveform_texts.h"
#include "views/waveform/waveform_view.h"

#include "concurrency/detached.h"
#include "support/snapshot.h"
#include "waveform_fakes.h"

#include <QAccessible>

using namespace tampod;
using namespace tampod::test;

namespace {

WaveformPeaks ramp(int n)
{
    WaveformPeaks peaks;
    for (int i = 0; i < n; ++i)
        peaks.append(float(0.55 + 0.4 * std::sin(i * 0.045) * std::sin(i * 0.004)));
    return peaks;
}

AudioTrack pendingRecovery()
{
    AudioTrack t = trackAt("/absent/Take.sd2");
    t.recovery = SD2Recovery{nullptr, std::nullopt};
    return t;
}

} // namespace

TEST(WaveformView, StatusTextFollowsTheOverviewInOrder)
{
    const std::tuple<const char *, std::function<void(FakePaneModel &)>, std::optional<QString>> cases[] = {
        {"no track", [](FakePaneModel &) {}, WaveformText::noAudioSelected},
        {"recovery running", [](FakePaneModel &m) { m.select(pendingRecovery()), m.recovering = true; },
         WaveformText::preparingRecoveredAudio},
        {"recovery awaited", [](FakePaneModel &m) { m.select(pendingRecovery()); }, WaveformText::chooseRecovery},
        {"overview loading", [](FakePaneModel &m) { m.overviewReads.hold = true, m.select(trackAt("/absent/a.wav")); },
         WaveformText::preparingWaveform},
        {"overview empty", [](FakePaneModel &m) { m.select(trackAt("/absent/a.wav")); }, WaveformText::waveformUnavailable},
        {"overview ready, even zoomed",
         [](FakePaneModel &m) {
             m.overviewPeaks = ramp(1024), m.select(trackAt("/absent/a.wav"));
             m.loopOn({0.25, 0.5}), m.waveformZoom().setAmount(1, {0.25, 0.5});
         },
         std::nullopt},
    };
    for (const auto &[name, setup, status] : cases) {
        FakePaneModel model;
        setup(model);
        WaveformView pane(model);
        EXPECT_EQ(pane.statusText(), status) << name;
    }
}

TEST(WaveformView, ZoomedDetailIsLoadedPerRequestAndHinted)
{
    FakePaneModel model;
    model.overviewPeaks = ramp(1024);
    model.detailPeaks = ramp(65536);
    model.select(trackAt("/absent/a.wav"));
    model.detailReads.hold = true;
    Hosted<WaveformView> hosted(1, model);
    WaveformView &pane = *hosted.widget;
    WaveformZoom &zoom = model.waveformZoom();
    const auto settle = [] { QCoreApplication::sendPostedEvents(); };

    // The loop on at zoom 0 is the whole file: overview, no hint, nothing to read.
    model.loopOn({0.25, 0.5});
    settle();
    EXPECT_EQ(pane.viewport(), (WaveformViewport{0, 1}));
    EXPECT_EQ(pane.hintText(), std::nullopt);
    EXPECT_EQ(pane.envelope()->peaks(), model.overviewPeaks);
    EXPECT_TRUE(model.detailTokens.empty());

    zoom.setAmount(0.5, {0.25, 0.5});
    settle();
    EXPECT_EQ(pane.viewport(), (WaveformViewport{0.3125, 0.4375}));
    EXPECT_EQ(pane.hintText(), WaveformText::loadingDetail);
    EXPECT_TRUE(pane.envelope()->peaks().isEmpty());
    zoom.setAmount(0.8, {0.25, 0.5}); // zooming and panning keep the request
    zoom.pan(0.6);
    settle();
    ASSERT_EQ(model.detailTokens.size(), 1u);
    model.detailReads.finish(0);
    ASSERT_TRUE(pumpUntil([&] { return !zoom.isLoading(); }));
    settle();
    EXPECT_EQ(pane.envelope()->peaks(), model.detailPeaks);
    EXPECT_EQ(pane.envelope()->viewport(), pane.viewport());
    EXPECT_EQ(pane.hintText(), WaveformText::dragHint);

    // Detail held for an earlier file of the record is not shown (the hidden pane loads nothing).
    hosted.host.hide();
    model.track->_url = TrackedFileURL(QUrl::fromLocalFile("/absent/b.wav"));
    Q_EMIT model.selectionChanged();
    settle();
    EXPECT_EQ(pane.hintText(), WaveformText::dragHint);
    EXPECT_TRUE(pane.envelope()->peaks().isEmpty());
    // Shown again it loads; a new request cancels that read.
    hosted.host.show();
    ASSERT_EQ(model.detailTokens.size(), 2u);
    model.select(trackAt("/absent/c.wav"));
    settle();
    EXPECT_TRUE(model.detailTokens[1].isCancelled());

    // A finished load without peaks.
    model.detailPeaks = WaveformPeaks(); // not clear(): Qt compares an emptied list's storage with memcmp
    model.detailReads.hold = false;
    model.loopOn({0.25, 0.5});
    zoom.setAmount(0.5, {0.25, 0.5});
    ASSERT_TRUE(pumpUntil([&] { return zoom.ready() == pane.request(); }));
    settle();
    EXPECT_EQ(pane.hintText(), WaveformText::detailUnavailable);
}

TEST(WaveformView, PlayheadStaysInsideThePane)
{
    const WaveformViewport whole{0, 1};
    const WaveformViewport zoomed{0.25, 0.5};
    const std::tuple<double, WaveformViewport, std::optional<double>> cases[] = {
        {0, whole, 2},      {1, whole, 976},      {0.5, whole, 489},          {0.25, zoomed, 2},
        {0.5, zoomed, 976}, {0.375, zoomed, 489}, {0.2, zoomed, std::nullopt}, {NAN, whole, std::nullopt},
    };
    for (const auto &[progress, viewport, x] : cases)
        EXPECT_EQ(WaveformView::playheadX(progress, viewport, 978), x) << progress;
}

TEST(WaveformView, DragPansFromTheCentreItBeganAt)
{
    FakePaneModel model;
    model.select(trackAt("/absent/a.wav"));
    Hosted<WaveformView> hosted(2, model);
    WaveformView &pane = *hosted.widget;
    Pointer pointer{hosted.host};
    WaveformZoom &zoom = model.waveformZoom();

    // With the loop on at zoom 0 the whole file shows and dragging does nothing.
    model.loopOn({0.25, 0.5});
    QCoreApplication::sendPostedEvents();
    pointer.drag({1000, 300}, {1100, 300});
    EXPECT_EQ(zoom.center(), 0.5);

    zoom.setAmount(0.5, {0.25, 0.5}); // an eighth of the file around 0.375
    QCoreApplication::sendPostedEvents();
    pointer.press({1000, 300});
    pointer.move({1005, 300}); // 2.5 points: not yet a drag
    EXPECT_EQ(pane.panOrigin(), std::nullopt);
    pointer.move({1000, 306}); // 3 points, straight down
    EXPECT_EQ(pane.panOrigin(), 0.375);
    EXPECT_DOUBLE_EQ(zoom.center(), 0.375);
    pointer.move({1200, 300});
    EXPECT_DOUBLE_EQ(zoom.center(), 0.375 - 0.125 * 100 / 978);
    pointer.move({800, 300}); // measured from the origin, not from the last centre
    EXPECT_DOUBLE_EQ(zoom.center(), 0.375 + 0.125 * 100 / 978);
    pointer.release({800, 300});
    EXPECT_EQ(pane.panOrigin(), std::nullopt);
}

TEST(WaveformView, LayersFollowTheTrackAndTheLoop)
{
    FakePaneModel model;
    WaveformView pane(model);
    pane.setChannelReading([](AudioTrack, WaveformViewport, int, std::optional<int>, CancellationToken) {
        return runDetached(TaskPriority::Utility, [] { return WaveformPeaks(); });
    });
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&pane);
    EXPECT_EQ(accessible->text(QAccessible::Name), WaveformText::paneLabel);
    EXPECT_EQ(accessible->text(QAccessible::Value), WaveformText::noAudioSelected);

    model.select(trackAt("/absent/Song one.wav"));
    model.loopOn({0.25, 0.5});
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(accessible->text(QAccessible::Value), "Song one.wav");
    QPointer<SectionLoopOverlay> first = pane.overlay();
    ASSERT_TRUE(first);

    model.select(pairTrack()); // a new track: a new overlay once its loop is on
    model.loopOn({0.1, 0.2});
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(first);
    EXPECT_NE(pane.overlay(), nullptr);
    EXPECT_NE(pane.lanes(), nullptr);
    EXPECT_TRUE(pane.envelope()->isHidden());
    EXPECT_EQ(accessible->text(QAccessible::Value), "Take (L/R)");

    model.toggleSectionLoop();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(pane.overlay(), nullptr);
}

TEST(WaveformView, LooksLikeThePaneAtBothPixelRatios)
{
    FakePaneModel model;
    model.overviewPeaks = ramp(1024);
    model.detailPeaks = ramp(65536);
    model.select(trackAt("/absent/a.wav"));
    model.position = 0.3;
    model.loopOn({0.25, 0.5});
    model.waveformZoom().setAmount(0.2, {0.25, 0.5});
    for (const double ratio : {1.0, 2.0}) {
        Hosted<WaveformView> hosted(1, model);
        ASSERT_TRUE(pumpUntil([&] { return hosted.widget->showsDetail(); }));
        QCoreApplication::sendPostedEvents();
        const QImage image = render(hosted.host, ratio, QStringLiteral("waveform-pane"));
        const WaveformViewport v = hosted.widget->viewport();
        const QColor playhead = image.pixelColor(int(978 * (0.3 - v.start) / (v.end - v.start) * ratio), int(110 * ratio));
        EXPECT_TRUE(playhead.red() > 200 && playhead.green() < 100) << ratio;
        EXPECT_NEAR(image.pixelColor(1, int(219 * ratio)).redF(), 0.105, 0.01) << "the panel, " << ratio;
    }
}
