#include "windows/main_window_content.h"

#include "windows/main_window.h"
#include "windows/main_window_keyboard_handler.h"

#include "export/export_preferences.h"
#include "player/player_model.h"

#include "views/kit/screen_fit.h"
#include "views/main/content_view.h"
#include "views/main/player_window_model.h"
#include "views/library/audio_library_view.h"
#include "views/sd2/sd2_rate_buttons.h"
#include "views/sd2/sd2_recovery_status.h"
#include "views/sd2/sd2_tools_view.h"
#include "views/waveform/waveform_view.h"

namespace tampod {

MainWindowContent MainWindowContent::install(QMainWindow &window, MainWindowModel &model,
                                             std::function<void()> openSettings)
{
    auto *content = new ContentView(model, std::move(openSettings));
    // Scaled down as a whole where the screen is too short for it.
    ScreenFit::scalesToFit(content, MainWindow::contentSize());
    window.setCentralWidget(content);
    // The content, not a control, has the focus at first, so that Space plays.
    content->setFocus();
    return {content, new MainWindowKeyboardHandler(model, &window, &window)};
}

MainWindowContent MainWindowContent::install(QMainWindow &window, PlayerModel &player,
                                             std::function<void()> openSettings,
                                             std::function<ExportDefaults()> exportDefaults,
                                             ExportPreferences *preferences)
{
    auto *model = new PlayerWindowModel(player, std::move(exportDefaults));
    const MainWindowContent installed = install(window, *model, std::move(openSettings));
    VinylEnvironment vinyl;
    vinyl.preferences = preferences;
    vinyl.pauseMainPlayback = player.mainPlaybackPause();
    vinyl.levelNotSaved = [&player] {
        if (player.warn)
            player.warn(ExportPreferences::saveFailedTitle(), ExportPreferences::saveFailedText(), {});
    };
    installed.content->setVinylEnvironment(std::move(vinyl));
    installed.content->setWaveformPane(WaveformView::forPlayer(player));
    ContentView *content = installed.content;
    auto *library = new AudioLibraryView(player, [content] { content->exportLibrary(); });
    library->setRecoveryStatus(new SD2RecoveryStatus(player));
    content->setLibraryPane(library);
    installed.content->setSD2RateButtons(new SD2RateButtons(player, ContentView::sidebarDesignWidth));
    if (auto *main = qobject_cast<MainWindow *>(&window))
        main->setSD2ToolsFactory([&player](QWidget *host) { return SD2ToolsView::sheet(player, host); });
    // The content's last child: the views that read the model go before it.
    model->setParent(installed.content);
    return installed;
}

} // namespace tampod
