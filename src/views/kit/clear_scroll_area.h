#pragma once

class QScrollArea;
class QWidget;

namespace tampod {

// A vertically scrolling area that draws nothing of its own around or behind content: no
// frame, no horizontal bar, the window's background showing through. It takes content over.
// It is no Tab stop: its content's controls are, and it scrolls to show the focused one.
QScrollArea *clearScrollArea(QWidget *content, QWidget *parent);

} // namespace tampod
