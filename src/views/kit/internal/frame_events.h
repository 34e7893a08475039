#pragma once

#include <QAbstractNativeEventFilter>

namespace tampod {

class FramePlacement;

// Where a window manager frames windows (X11), it tells of a new frame only on the native event
// stream: it reparents the window, sets _NET_FRAME_EXTENTS on it and configures it, and none of
// that reaches a widget unless the window's client area moved. This filter hands each such event
// on to the placements of the window it concerns, after Qt has taken it in (the frame margins
// Qt reports are current by then). One filter for the application, installed on first use.
// thread: main only.
class FrameEvents : public QAbstractNativeEventFilter {
public:
    // Starts listening for window events where there is a window system to listen to.
    static void listen();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    FrameEvents() = default;
};

} // namespace tampod
