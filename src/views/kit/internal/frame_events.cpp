#include "views/kit/internal/frame_events.h"

#include "views/kit/frame_placement.h"
#include "views/kit/internal/server_frame.h"

#include <QCoreApplication>
#include <QWidget>

#include <xcb/xproto.h>

namespace tampod {

namespace {

// The window an event is about, when it is one that may bring a new frame: 0 otherwise.
xcb_window_t framedWindow(const xcb_generic_event_t *event)
{
    switch (event->response_type & ~0x80) {
    case XCB_PROPERTY_NOTIFY:
        return reinterpret_cast<const xcb_property_notify_event_t *>(event)->window;
    case XCB_REPARENT_NOTIFY:
        return reinterpret_cast<const xcb_reparent_notify_event_t *>(event)->window;
    case XCB_CONFIGURE_NOTIFY:
        return reinterpret_cast<const xcb_configure_notify_event_t *>(event)->window;
    case XCB_MAP_NOTIFY:
        return reinterpret_cast<const xcb_map_notify_event_t *>(event)->window;
    case XCB_UNMAP_NOTIFY:
        return reinterpret_cast<const xcb_unmap_notify_event_t *>(event)->window;
    default:
        return 0;
    }
}

} // namespace

void FrameEvents::listen()
{
    static bool listening = false;
    if (listening || !FramePlacement::framesWindows())
        return;
    listening = true;
    // Lives as long as the application: Qt keeps the filter until it is removed.
    static FrameEvents filter;
    QCoreApplication::instance()->installNativeEventFilter(&filter);
    // A window manager names itself there as it starts and leaves.
    ServerFrame::watchRoot();
}

bool FrameEvents::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const xcb_window_t id = framedWindow(static_cast<const xcb_generic_event_t *>(message));
    if (!id)
        return false;
    // Whatever the server said of any window's frame before this may have changed with it.
    ServerFrame::forget();
    QWidget *window = QWidget::find(WId(id));
    if (!window)
        return false;
    for (FramePlacement *placement : window->findChildren<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly))
        placement->frameEventArrived();
    return false;
}

} // namespace tampod
