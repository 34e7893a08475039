#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

// Windows and sheets on the screen they open on: never taller than its available area, the
// window manager's frame included, and placed wholly on it, or where they cannot be, with the
// title bar on it. Before the window manager has framed a window, Qt knows neither its frame
// nor where a move puts it: a frame borrowed from a framed window of ours stands in, and the
// window is placed by its client area, which is where Qt's move puts an unframed window.
// thread: main only.
namespace tampod::ScreenFit {

// The client height a window with frame around it has room for on available.
int room(const QRect &available, QMargins frame);
// The scale, at most 1, at which content of height full, in a window whose other parts take
// fixed of its client height, lets the window's client height fit in room.
double scale(int full, int fixed, int room);
// frame moved into available: wholly where it fits, else its left and top edges on the area's.
QRect placed(QRect frame, const QRect &available);

// Whether window is mapped in the frame the window manager gave it (of any margins, none
// where no window manager runs).
bool isFramed(const QWidget *window);
// The window's frame as the window manager has it now: its client area where it is unframed.
QRect frameGeometry(const QWidget *window);
// The window manager's frame around window's client area; until it has one, the frame of
// standIn where that is framed; none without either.
QMargins frameMargins(const QWidget *window, const QWidget *standIn = nullptr);
// Moves window so that its frame, frame around it, has its top-left corner at topLeft.
void moveFrame(QWidget *window, QPoint topLeft, QMargins frame);

// Marks content, full in size, as the part of its window that scales down to fit a screen.
void scalesToFit(QWidget *content, QSize full);
// Fits window, frame around it, to the available height of screen: where it is taller, its
// content marked by scalesToFit scales down, else a window of fixed height takes the room's
// height (its form scrolling), else the window is resized to it; a window that can be narrowed
// is no wider than the screen's available width either. Back at its full size where the screen
// has room for it.
void fit(QWidget *window, QMargins frame, const QScreen *screen);
// The screen that shows most of window's frame, else the one its centre would fall on.
QScreen *screenOf(const QWidget *window);

} // namespace tampod::ScreenFit
