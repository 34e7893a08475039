#pragma once

#include "export/export_defaults.h"

#include <functional>

class QMainWindow;

namespace tampod {

class ContentView;
class ExportPreferences;
class MainWindowKeyboardHandler;
class MainWindowModel;
class PlayerModel;

// Puts the content into the main window: the content view as its central widget at the
// window's fixed client size, and the window's keys. Both live as long as the window; the
// model must outlive it. openSettings opens the settings window. thread: main.
struct MainWindowContent {
    ContentView *content;
    MainWindowKeyboardHandler *keys;

    static MainWindowContent install(QMainWindow &window, MainWindowModel &model, std::function<void()> openSettings);
    // The same on the player model, seen through a view of it that lives with the window;
    // exportDefaults: the settings export sessions start from; preferences: where the export
    // sheet's Vinyl levels are remembered (must outlive the window).
    static MainWindowContent install(QMainWindow &window, PlayerModel &player, std::function<void()> openSettings,
                                     std::function<ExportDefaults()> exportDefaults = {},
                                     ExportPreferences *preferences = nullptr);
};

} // namespace tampod
