#include "views/kit/screen_fit.h"

#include "views/kit/internal/server_frame.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace tampod::ScreenFit {

namespace {

constexpr char fullSizeProperty[] = "tampodFitFullSize";
constexpr char fullHeightProperty[] = "tampodFitFullHeight";

QWidget *scaledContent(const QWidget *window)
{
    // The content that scales is one of the window's own children, as a central widget is.
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->window() == window && !child->isHidden() && child->property(fullSizeProperty).isValid())
            return child;
    }
    return nullptr;
}

// A window of fixed size that a window manager gave another size is taken back to its own: Qt
// asks for nothing when its limits do not change, so the window would keep the one imposed.
void keepFixedSize(QWidget *window)
{
    if (window->minimumSize() == window->maximumSize() && window->size() != window->minimumSize())
        window->resize(window->minimumSize());
}

void scaleContent(QWidget *window, QWidget *content, int room)
{
    const QSize full = content->property(fullSizeProperty).toSize();
    // Measured by the window's own limits where it keeps a fixed size: its size now may be one a
    // window manager imposed.
    const int height = window->minimumHeight() == window->maximumHeight() ? window->minimumHeight() : window->height();
    const int fixed = std::max(0, height - content->height());
    const double s = scale(full.height(), fixed, room);
    content->setFixedSize(std::max(1, int(std::lround(full.width() * s))),
                          std::max(1, int(std::lround(full.height() * s))));
    // The window takes its new size now, before it is placed.
    if (QLayout *layout = window->layout())
        layout->activate();
    keepFixedSize(window);
}

} // namespace

int room(const QRect &available, QMargins frame)
{
    return std::max(1, available.height() - frame.top() - frame.bottom());
}

double scale(int full, int fixed, int room)
{
    if (full <= 0 || fixed + full <= room)
        return 1;
    return std::clamp(double(room - fixed) / full, 0.1, 1.0);
}

QRect placed(QRect frame, const QRect &available)
{
    frame.moveLeft(std::max(available.left(),
                            std::min(frame.left(), available.right() + 1 - frame.width())));
    frame.moveTop(std::max(available.top(),
                           std::min(frame.top(), available.bottom() + 1 - frame.height())));
    return frame;
}

QMargins ownMargins(const QWidget *window)
{
    // The X server's, where there is one: it alone tells one frame from the next. Else the
    // native window's, asked afresh: the widget's own copy is only brought up to date when the
    // window moves or is resized, and a window framed where it was placed does neither.
    QMargins margins;
    if (const ServerFrame::State server = ServerFrame::of(window); server.known) {
        margins = server.margins;
    } else if (const QWindow *handle = window->windowHandle()) {
        margins = handle->frameMargins();
    } else {
        const QRect inner = window->geometry(), outer = window->frameGeometry();
        margins = {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                   outer.bottom() - inner.bottom()};
    }
    // Caught while the window manager reparents the window, before it names the frame's
    // extents, Qt measures the window against a frame not yet sized: no frame yet.
    if (margins.left() < 0 || margins.top() < 0 || margins.right() < 0 || margins.bottom() < 0)
        return {};
    return margins;
}

bool isFramed(const QWidget *window)
{
    // A frame of zero margins is a frame all the same, and with no window manager, a mapped
    // window is as framed as it will be.
    if (const ServerFrame::State server = ServerFrame::of(window); server.known)
        return server.framed();
    return !ownMargins(window).isNull();
}

QMargins frameMargins(const QWidget *window, const QWidget *standIn)
{
    const QMargins own = ownMargins(window);
    if (!own.isNull() || !standIn || isFramed(window))
        return own;
    return ownMargins(standIn);
}

QRect frameGeometry(const QWidget *window)
{
    return window->geometry().marginsAdded(ownMargins(window));
}

void moveFrame(QWidget *window, QPoint topLeft, QMargins frame)
{
    // A window's move places what Qt takes for its frame, which may lag behind the window
    // manager's: the client area goes where the frame asked for puts it.
    const QPoint client = topLeft + QPoint(frame.left(), frame.top());
    window->move(client - (window->geometry().topLeft() - window->pos()));
}

void scalesToFit(QWidget *content, QSize full)
{
    content->setProperty(fullSizeProperty, full);
    content->setFixedSize(full);
}

void fit(QWidget *window, QMargins frame, const QScreen *screen)
{
    if (!screen)
        return;
    const int space = room(screen->availableGeometry(), frame);
    if (QWidget *content = scaledContent(window)) {
        scaleContent(window, content, space);
        return;
    }
    const bool fixedHeight = window->minimumHeight() == window->maximumHeight();
    if (fixedHeight) {
        // Its limits, not its size now, say what it was last fitted to: the size now may be the
        // window manager's late word on an earlier fit, and a fit that took it for the window's
        // own would keep the earlier limits, and with them the earlier size.
        QVariant full = window->property(fullHeightProperty);
        if (!full.isValid()) {
            full = window->minimumHeight();
            window->setProperty(fullHeightProperty, full);
        }
        const int height = std::min(full.toInt(), space);
        if (height != window->minimumHeight())
            window->setFixedHeight(height);
        keepFixedSize(window);
    } else if (window->height() > space) {
        window->resize(window->width(), std::max(space, window->minimumHeight()));
    }
    // A window that can be narrowed is no wider than the screen either.
    const int across = std::max(1, screen->availableGeometry().width() - frame.left() - frame.right());
    if (window->minimumWidth() != window->maximumWidth() && window->width() > across)
        window->resize(std::max(across, window->minimumWidth()), window->height());
}

QScreen *screenOf(const QWidget *window)
{
    const QRect frame = frameGeometry(window);
    QScreen *best = nullptr;
    qint64 bestArea = 0;
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect overlap = screen->geometry().intersected(frame);
        const qint64 area = qint64(overlap.width()) * overlap.height();
        if (!overlap.isEmpty() && area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    if (!best)
        best = QGuiApplication::screenAt(frame.center());
    return best ? best : QGuiApplication::primaryScreen();
}

} // namespace tampod::ScreenFit
