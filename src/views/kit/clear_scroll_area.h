#pragma once

class QScrollArea;
class QWidget;

namespace tampod {

// A vertically scrolling area that draws nothing of its own around or behind content: no
// frame, no horizontal bar, the window's background showing through. It takes content over.
QScrollArea *clearScrollArea(QWidget *content, QWidget *parent);

} // namespace tampod
