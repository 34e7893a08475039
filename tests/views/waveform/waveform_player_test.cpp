#include "views/waveform/section_loop_overlay.h"
#include "views/waveform/waveform_texts.h"
#include "views/waveform/waveform_view.h"

#include "bpm/bpm_analysis_service.h"
#include "player/player_fakes.h"
#include "player/player_model.h"
#include "waveform_fakes.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::test;

// The pane over the real player model: its adapter passes on every change the pane reads.
TEST(WaveformView, FollowsThePlayerModel)
{
    auto engine = std::make_shared<FakeEngine>();
    auto importer = std::make_shared<FakeImporter>();
    {
        PlayerModel model(engine, importer, std::make_shared<SD2RecoveryService>(), std::make_shared<FakeSections>(),
                          BPMAnalysisService::shared(),
                          [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> {
                              co_return WaveformPeaks(1024, 0.5f);
                          });
        std::unique_ptr<WaveformView> pane(WaveformView::forPlayer(model));
        pane->show();

        model.append({trackAt("/library/Song.wav")});
        ASSERT_TRUE(pumpUntil([&] { return !pane->statusText() && model.canPlaySelection(); }));

        model.toggleSectionLoop(); // the 30 s around the middle
        ASSERT_TRUE(pumpUntil([&] { return pane->overlay() && !model.sectionLoop().isPreparing(); }));
        EXPECT_EQ(pane->overlay()->timesText(), QStringLiteral("15.000 – 45.000 s"));
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QCoreApplication::sendEvent(pane->overlay()->marker(false), &right);
        ASSERT_TRUE(pumpUntil([&] { return pane->overlay()->timesText() == "15.000 – 45.100 s"; }));
        EXPECT_TRUE(model.sectionLoop().canUndo());
        importer->endAll();
    }
    EXPECT_TRUE(pumpUntil([&] { return engine.use_count() == 1 && importer.use_count() == 1; }));
}
