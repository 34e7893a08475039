#pragma once

#include <QString>

class QSettings;
class QWidget;

namespace tampod {

class AlertPresenting;
class ExportPreferences;
class PlayerModel;

// The About window: its content at a fixed size, not resizable.
QWidget *makeAboutWindow();
// The settings window: the export defaults at a fixed size, its position remembered in
// positions; until it has one, centred on mainWindow. Closing it silences the export
// preview and drops the unapplied edits.
QWidget *makeSettingsWindow(ExportPreferences &preferences, PlayerModel &player, AlertPresenting &alerts,
                            QSettings &positions, const QWidget *mainWindow);
// The manual window, 800 × 560 at first and never below 720 × 480, starting at "Welcome". Its
// figures load from figureFolder when given, else from the application's resources.
QWidget *makeManualWindow(const QString &figureFolder = {});

} // namespace tampod
