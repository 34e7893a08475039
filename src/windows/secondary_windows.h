#pragma once

#include <QString>

#include <functional>

class QSettings;
class QWidget;

namespace tampod {

class AlertPresenting;
class ExportPreferences;
class PlayerModel;

// Remembers where the user leaves window, under id in positions, and reopens it there; until
// there is such a place, the window first opens centred over mainWindow and wholly on a screen.
// onClose runs each time the window closes.
void rememberPlacement(QWidget *window, const QString &id, QSettings &positions, const QWidget *mainWindow,
                       std::function<void()> onClose = {});

// The About window: its content at a fixed size, not resizable.
QWidget *makeAboutWindow();
// The settings window: the export defaults at a fixed size, placed as rememberPlacement says.
// Closing it silences the export preview and drops the unapplied edits.
QWidget *makeSettingsWindow(ExportPreferences &preferences, PlayerModel &player, AlertPresenting &alerts,
                            QSettings &positions, const QWidget *mainWindow);
// The manual window, 800 × 560 at first and never below 720 × 480, starting at "Welcome". Its
// figures load from figureFolder when given, else from the application's resources.
QWidget *makeManualWindow(const QString &figureFolder = {});

} // namespace tampod
