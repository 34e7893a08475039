#include "views/kit/internal/server_frame.h"

#include <QGuiApplication>
#include <QHash>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace tampod::ServerFrame {

namespace {

struct Free {
    void operator()(void *reply) const { std::free(reply); }
};
template <typename Reply>
using Owned = std::unique_ptr<Reply, Free>;

// The answers asked since the last window event, by window.
QHash<quint32, State> &answers()
{
    static QHash<quint32, State> kept;
    return kept;
}

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The reply to cookie; none where the server answered with an error (a window gone), which is
// taken here rather than left to be reported as the application's fault.
template <typename Reply, typename Cookie>
Owned<Reply> answer(Reply *(*get)(xcb_connection_t *, Cookie, xcb_generic_error_t **), xcb_connection_t *c,
                    Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    Owned<Reply> reply(get(c, cookie, &error));
    std::free(error);
    return reply;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    const auto reply = answer(xcb_intern_atom_reply, c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_get_property_cookie_t askWindowProperty(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
                                            xcb_atom_t type, uint32_t length)
{
    return xcb_get_property(c, 0, window, property, type, 0, length);
}

// The 32-bit values of a property reply of type and at least count values; none otherwise.
const uint32_t *values(xcb_get_property_reply_t *reply, xcb_atom_t type, int count)
{
    if (!reply || reply->type != type || reply->format != 32 || xcb_get_property_value_length(reply) < 4 * count)
        return nullptr;
    return static_cast<const uint32_t *>(xcb_get_property_value(reply));
}

State ask(xcb_connection_t *c, xcb_window_t window)
{
    static const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    static const xcb_atom_t extents = atom(c, "_NET_FRAME_EXTENTS");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    // Asked together, answered in one round trip.
    const auto checkCookie = askWindowProperty(c, root, check, XCB_ATOM_WINDOW, 1);
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    const auto treeCookie = xcb_query_tree(c, window);
    const auto extentsCookie = askWindowProperty(c, window, extents, XCB_ATOM_CARDINAL, 4);
    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto originCookie = xcb_translate_coordinates(c, window, root, 0, 0);

    const auto checkReply = answer(xcb_get_property_reply, c, checkCookie);
    const auto attributes = answer(xcb_get_window_attributes_reply, c, attributesCookie);
    const auto tree = answer(xcb_query_tree_reply, c, treeCookie);
    const auto extentsReply = answer(xcb_get_property_reply, c, extentsCookie);
    const auto geometry = answer(xcb_get_geometry_reply, c, geometryCookie);
    const auto origin = answer(xcb_translate_coordinates_reply, c, originCookie);

    State state;
    if (!attributes || !tree || !geometry || !origin)
        return state; // gone from the server
    state.known = true;
    state.client = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    state.mapped = attributes->map_state == XCB_MAP_STATE_VIEWABLE;

    // A window manager that ended leaves its word on the root window behind it, but not the
    // check window it named.
    if (const uint32_t *named = values(checkReply.get(), XCB_ATOM_WINDOW, 1)) {
        const auto itself = answer(xcb_get_property_reply, c, askWindowProperty(c, *named, check, XCB_ATOM_WINDOW, 1));
        const uint32_t *own = values(itself.get(), XCB_ATOM_WINDOW, 1);
        state.managed = own && *own == *named;
    }

    // The outermost ancestor below the root: window managers may nest a frame in a frame.
    state.frame = window;
    xcb_window_t parent = tree->parent;
    for (int depth = 0; parent != root && parent != XCB_WINDOW_NONE && depth < 8; ++depth) {
        state.frame = parent;
        const auto up = answer(xcb_query_tree_reply, c, xcb_query_tree(c, parent));
        if (!up)
            break;
        parent = up->parent;
    }
    const bool reparented = state.frame != window;
    // Extents left on a window by a window manager that has ended frame nothing.
    const uint32_t *announced =
        state.managed || reparented ? values(extentsReply.get(), XCB_ATOM_CARDINAL, 4) : nullptr;
    state.reframed = reparented || announced;
    if (reparented) {
        // As the frame window stands around the client, which is how the window manager moves
        // the client in it: the extents it announces may come after or before.
        // Asked relative to the frame window, so that a drag of the frame between the
        // questions changes nothing.
        const auto outerCookie = xcb_get_geometry(c, state.frame);
        const auto insideCookie = xcb_translate_coordinates(c, window, state.frame, 0, 0);
        const auto outer = answer(xcb_get_geometry_reply, c, outerCookie);
        const auto inside = answer(xcb_translate_coordinates_reply, c, insideCookie);
        if (outer && inside) {
            const int border = outer->border_width;
            const int left = inside->dst_x + border, top = inside->dst_y + border;
            state.margins = QMargins(left, top, outer->width + 2 * border - left - geometry->width,
                                     outer->height + 2 * border - top - geometry->height);
        }
    } else if (announced) {
        // Left, right, top, bottom: a window manager that draws frames without reparenting.
        state.margins = QMargins(int(announced[0]), int(announced[2]), int(announced[1]), int(announced[3]));
    }
    return state;
}

} // namespace

State of(const QWidget *window)
{
    xcb_connection_t *c = connection();
    const WId id = window ? window->internalWinId() : 0;
    if (!c || !id)
        return {};
    auto &kept = answers();
    const auto found = kept.constFind(quint32(id));
    if (found != kept.constEnd())
        return *found;
    const State state = ask(c, xcb_window_t(id));
    kept.insert(quint32(id), state);
    return state;
}

void request(const QWidget *window, const QRect &client)
{
    xcb_connection_t *c = connection();
    const WId id = window ? window->internalWinId() : 0;
    if (!c || !id)
        return;
    // Where the window asks for static gravity, the position asked for is its client area's;
    // else (north-west, the default) its frame's top-left corner.
    static const xcb_atom_t hints = atom(c, "WM_NORMAL_HINTS");
    const auto reply = answer(xcb_get_property_reply, c, askWindowProperty(c, xcb_window_t(id), hints, XCB_ATOM_ANY, 18));
    constexpr uint32_t winGravitySet = 1u << 9;
    const uint32_t *normal = values(reply.get(), reply ? reply->type : xcb_atom_t(XCB_ATOM_NONE), 18);
    const bool staticGravity = normal && (normal[0] & winGravitySet) && normal[17] == XCB_GRAVITY_STATIC;
    const QMargins margins = staticGravity ? QMargins() : of(window).margins;
    const uint32_t asked[] = {uint32_t(client.x() - margins.left()), uint32_t(client.y() - margins.top()),
                              uint32_t(client.width()), uint32_t(client.height())};
    xcb_configure_window(c, xcb_window_t(id),
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         asked);
    xcb_flush(c);
}

void forget()
{
    answers().clear();
}

void watchRoot()
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const auto attributes = answer(xcb_get_window_attributes_reply, c, xcb_get_window_attributes(c, root));
    if (!attributes || (attributes->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE))
        return;
    // Added to what Qt asked of the root window, which is kept.
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
}

} // namespace tampod::ServerFrame
