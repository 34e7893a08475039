#include "windows/window_position_reader.h"

#include "core/number_text.h"
#include "views/kit/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <cmath>
#include <utility>

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

// The index of the screen frame overlaps most (the first on ties or without overlap); -1 without
// screens.
qsizetype landing(const QRectF &frame, const QList<QRectF> &screens)
{
    qsizetype best = screens.isEmpty() ? -1 : 0;
    double most = screens.isEmpty() ? 0 : area(frame.intersected(screens.first()));
    for (qsizetype i = 1; i < screens.size(); ++i) {
        const double overlap = area(frame.intersected(screens[i]));
        if (overlap > most) {
            most = overlap;
            best = i;
        }
    }
    return best;
}

} // namespace

WindowPositionReader::WindowPositionReader(QWidget *window, QString key, QSettings &settings,
                                           std::function<void()> onClose)
    : QObject(window)
    , window_(window)
    , key_(std::move(key))
    , settings_(settings)
    , onClose_(std::move(onClose))
    , placement_(new FramePlacement(window, [this] { placeAgain(); }))
{
    connect(placement_, &FramePlacement::movedByUser, this, &WindowPositionReader::save);
    connect(placement_, &FramePlacement::screenChanged, this, &WindowPositionReader::fitToNewScreen);
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
    const qsizetype on = landing(frame, screens);
    if (on < 0)
        return frame;
    const QRectF &screen = screens[on];
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
    restored_ = true;
    // The stored corner is the bottom-left one, so the frame's size must be the one it opens
    // at: a window sized by its layout has its own size only once shown.
    if (!window_->isVisible()) {
        restorePending_ = true;
        return;
    }
    // Fitted first to the screen it lands on, which may be shorter than the one it opens on:
    // the stored corner is the bottom-left one, so it is placed at the size it keeps there.
    QList<QRectF> screens = visibleFrames();
    const qsizetype on = landing(QRectF(*origin, frame().size()), screens);
    if (on >= 0 && on < QGuiApplication::screens().size()) {
        const QScreen *screen = QGuiApplication::screens().at(on);
        placement_->place([&] { ScreenFit::fit(window_, margins(), screen); });
        screens = {screens.at(on)};
    }
    place(fromStored(clamped(QRectF(*origin, frame().size()), screens), primaryGeometry()).topLeft());
}

QMargins WindowPositionReader::margins() const
{
    return ScreenFit::frameMargins(window_, standIn_);
}

QRect WindowPositionReader::frame() const
{
    return window_->geometry().marginsAdded(margins());
}

void WindowPositionReader::place(QPoint topLeft)
{
    placement_->place([&] { ScreenFit::moveFrame(window_, topLeft, margins()); });
}

void WindowPositionReader::fit()
{
    placement_->place([&] { ScreenFit::fit(window_, margins(), ScreenFit::screenOf(window_)); });
}

void WindowPositionReader::placeAgain()
{
    fit();
    if (restored_)
        restore();
    else
        pullOntoScreens();
}

void WindowPositionReader::fitToNewScreen()
{
    // Our own placements keep the window on its screen; a screen it left by the user's move
    // may have been taller or wider than the one it is on now.
    if (!window_ || !window_->isVisible() || placement_->isFollowing() || placement_->isPlacing())
        return;
    fit();
    pullOntoScreens();
}

void WindowPositionReader::pullOntoScreens()
{
    if (!window_)
        return;
    const QRect primary = primaryGeometry();
    place(fromStored(clamped(toStored(frame(), primary), visibleFrames()), primary).topLeft());
}

void WindowPositionReader::centreOn(const QWidget *anchor)
{
    standIn_ = anchor;
    if (!restored_ && hasGlobalPositions())
        anchor_ = anchor;
}

void WindowPositionReader::centre()
{
    // Once, when the window's size is final and before it is mapped.
    const QPointer<const QWidget> anchor = std::exchange(anchor_, nullptr);
    if (!anchor || !window_)
        return;
    QRect centred = frame();
    centred.moveCenter(ScreenFit::frameGeometry(anchor).center());
    const QRect primary = primaryGeometry();
    place(fromStored(clamped(toStored(centred, primary), visibleFrames()), primary).topLeft());
}

void WindowPositionReader::save()
{
    if (!window_ || !hasGlobalPositions())
        return;
    settings_.setValue(
        storageKey(key_),
        text(toStored(ScreenFit::frameGeometry(window_), primaryGeometry()).topLeft()));
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
    case QEvent::Close:
        closing_ = true;
        break;
    case QEvent::Show:
        closing_ = false;
        if (!hasGlobalPositions()) {
            fit();
            break;
        }
        // Sized by now, and not yet mapped: fitted to its screen, then placed on it; placed
        // again as the window manager frames it, until the user moves it.
        placement_->follow();
        fit();
        if (std::exchange(restorePending_, false))
            restore();
        else if (anchor_)
            centre();
        else
            pullOntoScreens();
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
