#pragma once

#include <QString>

class QWidget;

namespace tampod {

// The About window: its content at a fixed size, not resizable.
QWidget *makeAboutWindow();
// The settings window. Its content comes with the settings views; until then it is empty.
QWidget *makeSettingsWindow();
// The manual window, 800 × 560 at first and never below 720 × 480, starting at "Welcome". Its
// figures load from figureFolder when given, else from the application's resources.
QWidget *makeManualWindow(const QString &figureFolder = {});

} // namespace tampod
