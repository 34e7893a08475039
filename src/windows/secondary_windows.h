#pragma once

class QWidget;

namespace tampod {

// The About window: its content at a fixed size, not resizable.
QWidget *makeAboutWindow();
// The settings window. Its content comes with the settings views; until then it is empty.
QWidget *makeSettingsWindow();
// The manual window, 800 × 560 at first. Its content comes with the manual; until then empty.
QWidget *makeManualWindow();

} // namespace tampod
