#include "journey.h"

#include "bpm/synthetic_audio.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/forks/fork_store.h"
#include "sd2/resource_fork_builder.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace tampod::test {

namespace {

struct Free {
    void operator()(void *reply) const { std::free(reply); }
};

template <typename Reply, typename Cookie>
std::unique_ptr<Reply, Free> answer(Reply *(*get)(xcb_connection_t *, Cookie, xcb_generic_error_t **),
                                    xcb_connection_t *c, Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    std::unique_ptr<Reply, Free> reply(get(c, cookie, &error));
    std::free(error);
    return reply;
}

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    const auto reply = answer(xcb_intern_atom_reply, c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The first count 32-bit values of window's property; empty where it has fewer.
std::vector<quint32> property(xcb_connection_t *c, xcb_window_t window, const char *name, int count)
{
    const auto reply = answer(xcb_get_property_reply, c, xcb_get_property(c, 0, window, atom(c, name), XCB_ATOM_ANY, 0, count));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4 * count)
        return {};
    const auto *values = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    return std::vector<quint32>(values, values + count);
}

} // namespace

ServerWindow serverWindow(const QWidget *window)
{
    ServerWindow server;
    xcb_connection_t *c = connection();
    const auto id = xcb_window_t(window ? window->internalWinId() : 0);
    if (!c || !id)
        return server;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const auto attributes = answer(xcb_get_window_attributes_reply, c, xcb_get_window_attributes(c, id));
    const auto geometry = answer(xcb_get_geometry_reply, c, xcb_get_geometry(c, id));
    const auto origin = answer(xcb_translate_coordinates_reply, c, xcb_translate_coordinates(c, id, root, 0, 0));
    if (!attributes || !geometry || !origin)
        return server;
    server.known = true;
    server.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    if (const auto check = property(c, root, "_NET_SUPPORTING_WM_CHECK", 1); !check.empty()) {
        const auto itself = property(c, check[0], "_NET_SUPPORTING_WM_CHECK", 1);
        server.managed = !itself.empty() && itself[0] == check[0];
        server.manager = server.managed ? check[0] : 0;
    }
    if (const auto state = property(c, id, "WM_STATE", 1); !state.empty())
        server.state = state[0];
    if (const auto extents = property(c, id, "_NET_FRAME_EXTENTS", 4); !extents.empty()) {
        server.extentsAnnounced = true;
        server.extents = QMargins(int(extents[0]), int(extents[2]), int(extents[1]), int(extents[3]));
    }
    server.client = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    xcb_window_t outer = id;
    for (int depth = 0; depth < 8; ++depth) {
        const auto tree = answer(xcb_query_tree_reply, c, xcb_query_tree(c, outer));
        if (!tree || tree->parent == root || tree->parent == XCB_WINDOW_NONE)
            break;
        outer = tree->parent;
    }
    server.frameWindow = outer;
    server.frame = server.client;
    if (outer != id) {
        if (const auto frame = answer(xcb_get_geometry_reply, c, xcb_get_geometry(c, outer))) {
            server.frame = QRect(frame->x, frame->y, frame->width + 2 * frame->border_width,
                                 frame->height + 2 * frame->border_width);
        }
    }
    return server;
}

std::string ServerWindow::text() const
{
    if (!known)
        return "not on the server";
    QString out;
    QDebug(&out).nospace() << "client " << client << " frame " << frame << " (window " << Qt::hex << frameWindow
                           << Qt::dec << ") viewable " << viewable << " WM_STATE " << state << " extents "
                           << (extentsAnnounced ? extents : QMargins(-1, -1, -1, -1)) << " manager " << Qt::hex
                           << manager;
    return out.toStdString();
}

void Journey::moveAsTheUser(const QWidget *window, QPoint topLeft)
{
    xcb_connection_t *c = connection();
    const auto id = xcb_window_t(window->internalWinId());
    const quint32 values[] = {quint32(topLeft.x()), quint32(topLeft.y())};
    xcb_configure_window(c, id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    xcb_flush(c);
}

void writeTone(const QString &path, double seconds, int channels, int rate)
{
    const auto frames = std::int64_t(std::llround(seconds * rate));
    std::vector<float> samples(size_t(frames * channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            samples[size_t(i * channels + c)] = float(0.3 * std::sin(2 * M_PI * (440.0 + 110.0 * c) * double(i) / rate));
    }
    writeWav(path, samples, channels, rate);
}

void writeSD2Channel(const QString &path, std::int64_t frames)
{
    QByteArray data(frames * 2, 0);
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto value = std::int16_t(8000 * std::sin(double(i) * 0.05));
        data[qsizetype(i * 2)] = char(value >> 8);
        data[qsizetype(i * 2 + 1)] = char(value & 0xFF);
    }
    writeFile(path, data);
    ForkStore().write(path, buildFork(parameters("2", "44100", "1")));
}

std::int64_t decodedFrames(const QString &path)
{
    try {
        AudioFileReader reader(path);
        return reader.length();
    } catch (...) {
        return -1;
    }
}

} // namespace tampod::test
