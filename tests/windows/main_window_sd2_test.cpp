#include "windows/main_window.h"
#include "windows/main_window_content.h"

#include "views/kit/binding.h"
#include "views/main/content_view.h"
#include "views/sd2/sd2_rate_buttons.h"
#include "views/sd2/sd2_tools_view.h"

#include "bpm/bpm_analysis_service.h"
#include "player/player_model.h"
#include "sd2/sd2_recovery_service.h"

#include "player/player_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;

// The player's window shows the rate buttons in the sidebar for a track with an SD2 recovery,
// and the SD2 tools as its sheet.
TEST(MainWindowSD2, RateButtonsAndToolsSheetComeWithThePlayer)
{
    auto engine = std::make_shared<test::FakeEngine>();
    PlayerModel player(engine, std::make_shared<test::FakeImporter>(), std::make_shared<SD2RecoveryService>(),
                       std::make_shared<test::FakeSections>(), BPMAnalysisService::shared(),
                       [](AudioTrack, CancellationToken) -> QCoro::Task<WaveformPeaks> { co_return WaveformPeaks{}; });
    {
        MainWindow window;
        const auto installed = MainWindowContent::install(window, player, {});
        ObservableFlag flag;
        window.bindAdvancedSD2(flag.binding());
        window.show();
        auto *buttons = installed.content->findChild<SD2RateButtons *>();
        ASSERT_NE(buttons, nullptr);
        EXPECT_FALSE(buttons->isVisible());

        AudioTrack take;
        take.id = QUuid::createUuid();
        take._url = TrackedFileURL(QUrl::fromLocalFile(QStringLiteral("/music/take.sd2")));
        take.recovery = SD2Recovery{std::make_shared<const SD2RecoveredCopy>(QUrl(), 48000, 10, "x", 2, 2), {}};
        player.append({take});
        const double s = installed.content->scale();
        // Four buttons of 66 × 42 spaced 12 apart, centred in the sidebar's 107.
        const auto laidOut = [&] {
            const auto &b = buttons->buttons();
            return buttons->isVisible() && b[0]->geometry() == QRect(qRound(20.5 * s), 0, 37, 23) &&
                   b[3]->geometry().bottom() + 1 == qRound(204 * s);
        };
        EXPECT_TRUE(test::pumpUntil(laidOut)) << buttons->buttons()[0]->geometry().height();
        EXPECT_TRUE(buttons->buttons()[1]->isSelected());

        flag.setValue(true);
        ASSERT_NE(window.sd2ToolsSheet(), nullptr);
        EXPECT_NE(window.sd2ToolsSheet()->findChild<SD2ToolsView *>(), nullptr);
        player.clearAll();
        EXPECT_TRUE(test::pumpUntil([&] { return !window.sd2ToolsSheet() && !flag.value() && !buttons->isVisible(); }));
    }
    bool ended = false;
    player.commands().enqueue(false, [marker = std::shared_ptr<void>(nullptr, [&ended](void *) { ended = true; })](
                                         PlaybackServing &) -> QCoro::Task<> { co_return; });
    EXPECT_TRUE(test::pumpUntil([&] { return ended; }));
}
