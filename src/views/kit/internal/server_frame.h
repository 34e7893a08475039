#pragma once

#include <QMargins>
#include <QRect>
#include <QtGlobal>

class QWidget;

// What the X server holds of a window's frame, asked of the server itself: Qt's own frame
// margins cannot tell a frame of zero margins from none, nor one frame from the next. Answers
// are kept until the next window event reaches the application (FrameEvents says when), so the
// many questions of one placement cost the round trips once. thread: main only.
namespace tampod::ServerFrame {

struct State {
    // Asked of an X server: the window exists there.
    bool known = false;
    // Mapped on the screen (viewable).
    bool mapped = false;
    // A window manager runs: the root window names its check window, and that window names itself.
    bool managed = false;
    // The window manager has reparented the window into a frame of its own or announced the
    // frame's extents.
    bool reframed = false;
    // The window's outermost ancestor under the root: its frame, or the window itself.
    quint32 frame = 0;
    // The frame's margins around the client area, as the window manager announced them or as
    // its frame window stands around the client.
    QMargins margins;
    // The client area, in root coordinates.
    QRect client;

    // The window is on the screen in the frame it will have: the window manager's, or with no
    // window manager, none.
    bool framed() const { return known && mapped && (reframed || !managed); }
};

// The state of window on the X server; unknown without one or before the window is native.
State of(const QWidget *window);
// Asks the server (its window manager, where one runs) to put window's client area at client.
// Qt asks nothing for a geometry it believes the window has already: where the window manager
// lost that request (one on its way out), only this asks again.
void request(const QWidget *window, const QRect &client);
// A window event arrived: the next questions go to the server again.
void forget();
// Also told of changes to the root window's properties: a window manager starting or leaving.
void watchRoot();

} // namespace tampod::ServerFrame
