#include "windows/window_position_reader.h"

#include "core/number_text.h"

#include <QEvent>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace tampod {

namespace {

QRect primaryGeometry()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry() : QRect();
}

QList<QRectF> visibleFrames()
{
    QList<QRectF> frames;
    const QRect primary = primaryGeometry();
    for (const QScreen *screen : QGuiApplication::screens())
        frames.append(WindowPositionReader::toStored(screen->availableGeometry(), primary));
    return frames;
}

double area(const QRectF &rect)
{
    return rect.isEmpty() ? 0 : rect.width() * rect.height();
}

} // namespace

WindowPositionReader::WindowPositionReader(QWidget *window, QString key, QSettings &settings,
                                           std::function<void()> onClose)
    : QObject(window)
    , window_(window)
    , key_(std::move(key))
    , settings_(settings)
    , onClose_(std::move(onClose))
{
}

WindowPositionReader *WindowPositionReader::attach(QWidget *window, const QString &key, QSettings &settings,
                                                   std::function<void()> onClose)
{
    auto *reader = new WindowPositionReader(window, key, settings, std::move(onClose));
    if (hasGlobalPositions()) {
        reader->restore();
        reader->watchScreens();
    }
    // Watching starts after restoring, so the restoring move is never taken for the user's.
    window->installEventFilter(reader);
    return reader;
}

bool WindowPositionReader::hasGlobalPositions()
{
    return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

bool WindowPositionReader::leftButtonDown()
{
    if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_connection_t *connection = x11->connection();
        const xcb_screen_t *screen =
            connection ? xcb_setup_roots_iterator(xcb_get_setup(connection)).data : nullptr;
        if (screen) {
            const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> reply(
                xcb_query_pointer_reply(connection, xcb_query_pointer(connection, screen->root), nullptr), &std::free);
            if (reply)
                return reply->mask & XCB_BUTTON_MASK_1;
        }
    }
    return QGuiApplication::mouseButtons() & Qt::LeftButton;
}

QString WindowPositionReader::text(QPointF point)
{
    return QStringLiteral("{") + QString::number(point.x(), 'g', 17) + QStringLiteral(", ")
           + QString::number(point.y(), 'g', 17) + QStringLiteral("}");
}

std::optional<QPointF> WindowPositionReader::parse(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral(R"(^\{\s*([^,{}\s]+)\s*,\s*([^,{}\s]+)\s*\}$)"));
    const auto match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto x = NumberText::parse(match.captured(1));
    const auto y = NumberText::parse(match.captured(2));
    // Screen coordinates stay far inside int; anything else is not a position we wrote.
    constexpr double limit = 1e6;
    if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y) || std::abs(*x) > limit || std::abs(*y) > limit)
        return std::nullopt;
    return QPointF(*x, *y);
}

QRectF WindowPositionReader::toStored(const QRect &frame, const QRect &primary)
{
    const double bottom = double(primary.y()) + primary.height();
    return QRectF(double(frame.x()) - primary.x(), bottom - (double(frame.y()) + frame.height()), frame.width(),
                  frame.height());
}

QRect WindowPositionReader::fromStored(const QRectF &frame, const QRect &primary)
{
    const double bottom = double(primary.y()) + primary.height();
    // parse() keeps coordinates far inside int, and clamped() only moves them onto screens.
    return QRect(int(std::lround(frame.x() + primary.x())), int(std::lround(bottom - frame.y() - frame.height())),
                 int(std::lround(frame.width())), int(std::lround(frame.height())));
}

QRectF WindowPositionReader::clamped(const QRectF &frame, const QList<QRectF> &screens)
{
    if (screens.isEmpty())
        return frame;
    QRectF screen = screens.first();
    double best = area(frame.intersected(screen));
    for (const QRectF &candidate : screens) {
        const double overlap = area(frame.intersected(candidate));
        if (overlap > best) {
            best = overlap;
            screen = candidate;
        }
    }
    const double x = std::min(std::max(frame.left(), screen.left()),
                              std::max(screen.left(), screen.right() - frame.width()));
    const double y = std::min(screen.bottom() - frame.height(), std::max(frame.top(), screen.top()));
    return QRectF(x, y, frame.width(), frame.height());
}

void WindowPositionReader::restore()
{
    const auto origin = parse(settings_.value(storageKey(key_)).toString());
    if (!origin)
        return;
    const QRect primary = primaryGeometry();
    const QRectF frame(*origin, window_->frameGeometry().size());
    frameGuessed_ = !window_->isVisible() && window_->frameGeometry() == window_->geometry();
    window_->move(fromStored(clamped(frame, visibleFrames()), primary).topLeft());
}

void WindowPositionReader::pullOntoScreens()
{
    if (!window_)
        return;
    const QRect primary = primaryGeometry();
    window_->move(fromStored(clamped(toStored(window_->frameGeometry(), primary), visibleFrames()), primary).topLeft());
}

void WindowPositionReader::save()
{
    settings_.setValue(storageKey(key_), text(toStored(window_->frameGeometry(), primaryGeometry()).topLeft()));
}

void WindowPositionReader::watchScreens()
{
    const auto watch = [this](QScreen *screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, &WindowPositionReader::pullOntoScreens);
        connect(screen, &QScreen::geometryChanged, this, &WindowPositionReader::pullOntoScreens);
    };
    for (QScreen *screen : QGuiApplication::screens())
        watch(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen *screen) {
        watch(screen);
        pullOntoScreens();
    });
    // The removed screen still counts while the signal runs: wait for the next turn.
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &WindowPositionReader::pullOntoScreens,
            Qt::QueuedConnection);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &WindowPositionReader::pullOntoScreens);
}

bool WindowPositionReader::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window_)
        return false;
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        if (!hasGlobalPositions() || !window_->isVisible())
            break;
        if (event->type() == QEvent::Move && buttonProbe_()) {
            frameGuessed_ = false;
            save();
        } else if (frameGuessed_ && window_->frameGeometry() != window_->geometry()) {
            restore();
        }
        break;
    case QEvent::Close:
        closing_ = true;
        break;
    case QEvent::Show:
        closing_ = false;
        if (frameGuessed_ && window_->frameGeometry() != window_->geometry())
            restore();
        break;
    case QEvent::Hide:
        // A close that was accepted hides the window; one that was refused does not.
        if (closing_ && onClose_)
            onClose_();
        closing_ = false;
        break;
    default:
        break;
    }
    return false;
}

} // namespace tampod
