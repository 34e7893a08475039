#include "views/kit/frame_placement.h"

#include "concurrency/thread_role.h"
#include "views/kit/internal/frame_events.h"
#include "views/kit/internal/server_frame.h"
#include "views/kit/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace tampod {

FramePlacement::FramePlacement(QWidget *window, std::function<void()> placeAgain)
    : QObject(window)
    , window_(window)
    , placeAgain_(std::move(placeAgain))
{
    TAMPOD_ASSERT_MAIN_THREAD();
    settle_.setSingleShot(true);
    settle_.setInterval(settleTime);
    connect(&settle_, &QTimer::timeout, this, &FramePlacement::settle);
    judge_.setSingleShot(true);
    judge_.setInterval(judgeInterval);
    connect(&judge_, &QTimer::timeout, this, &FramePlacement::judgeAgain);
    FrameEvents::listen();
    window->installEventFilter(this);
}

bool FramePlacement::framesWindows()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void FramePlacement::follow()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    following_ = true;
    replacements_ = 0;
    watchScreen();
}

void FramePlacement::place(const std::function<void()> &move)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (!window_)
        return;
    ++placing_;
    move();
    --placing_;
    placedMargins_ = ScreenFit::frameMargins(window_);
    placedFrame_ = ServerFrame::of(window_).frame;
    placedGeometry_ = window_->geometry();
    if (window_->isVisible())
        unsettle();
}

bool FramePlacement::isPlaced() const
{
    TAMPOD_ASSERT_MAIN_THREAD();
    return window_ && settled_ && !frameChanged() && isShownFramed();
}

bool FramePlacement::isShownFramed() const
{
    // Mapped in its frame as the X server has it, of whatever margins, or with no window
    // manager at all, mapped.
    return !framesWindows() || ScreenFit::isFramed(window_);
}

void FramePlacement::frameEventArrived()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    // Qt takes the event in after the native filters have seen it: look once it has.
    if (std::exchange(checkPending_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            checkPending_ = false;
            // A window framed just where it was placed neither moves nor resizes: the frame
            // alone may be what completes a placement that rested before it came.
            if (!followFrame())
                announcePlaced();
        },
        Qt::QueuedConnection);
}

bool FramePlacement::frameChanged() const
{
    // Another frame window is another frame, even one of the same margins (a window manager
    // replaced by one with the same theme frames the window where it stands).
    return ScreenFit::frameMargins(window_) != placedMargins_ || ServerFrame::of(window_).frame != placedFrame_;
}

bool FramePlacement::followFrame()
{
    if (placing_ || !window_ || !window_->isVisible() || !frameChanged())
        return false;
    if (!following_) {
        // The window stays where the user put it, but the moves that come with a new frame are
        // the window manager's until the window rests on it: one that leaves puts the window
        // unframed where its gravity says, and the next frames it there.
        placedMargins_ = ScreenFit::frameMargins(window_);
        placedFrame_ = ServerFrame::of(window_).frame;
        unsettle();
        return true;
    }
    replacements_ = 0;
    place(placeAgain_);
    return true;
}

bool FramePlacement::isAheadOfServer() const
{
    if (!framesWindows())
        return false;
    const ServerFrame::State server = ServerFrame::of(window_);
    return server.known && server.mapped && server.client != window_->geometry();
}

void FramePlacement::judgeMove(bool moved)
{
    // A window manager may tell of a move before it makes it (openbox does as it reframes):
    // until the server has the window where Qt says it is, neither its frame nor who moved it
    // is known. Judged again then, a while at most.
    if (isAheadOfServer() && judgements_ < maxJudgements) {
        movedUnjudged_ = movedUnjudged_ || moved;
        if (!judge_.isActive())
            judge_.start();
        return;
    }
    judge_.stop();
    judgements_ = 0;
    moved = std::exchange(movedUnjudged_, false) || moved;
    if (!settled_ || !isShownFramed()) {
        // Still being placed and framed: wait for it to rest. Before the window manager
        // has framed and mapped the window, no one but it moves the window: it carries out
        // the moves we asked of it while it was stalled or busy, however late.
        unsettle();
    } else if (following_ && hasImposedSize()) {
        // Not the user's, who cannot resize a window of fixed size: the window manager's late
        // word on an earlier fit, or a size it chose as it framed the window. Fitted again once
        // it rests, as before it rested.
        unsettle();
    } else if (!following_ || window_->geometry() != placedGeometry_) {
        // Moved or resized on the frame it was placed with, after it rested, and not to where
        // it was placed: the user's.
        following_ = false;
        if (moved)
            Q_EMIT movedByUser();
    }
    if (std::exchange(screenUnjudged_, false))
        Q_EMIT screenChanged();
}

bool FramePlacement::hasImposedSize() const
{
    return window_->minimumSize() == window_->maximumSize() && window_->size() != window_->minimumSize();
}

void FramePlacement::judgeAgain()
{
    ++judgements_;
    // Nothing may have come to say the server changed: asked afresh.
    ServerFrame::forget();
    if (!window_ || !window_->isVisible() || placing_ || followFrame()) {
        judgements_ = 0;
        movedUnjudged_ = false;
        if (std::exchange(screenUnjudged_, false))
            Q_EMIT screenChanged();
        return;
    }
    judgeMove(false);
}

void FramePlacement::unsettle()
{
    settled_ = false;
    announced_ = false;
    settle_.start();
}

void FramePlacement::settle()
{
    // A window manager carries out the moves asked of it in turn, some late: one of an earlier
    // placement may have taken the window from where the last one put it. Placed once more then,
    // a few times at most, so that a window manager that insists has the last word.
    // A request the window manager lost (one on its way out loses them) leaves the window
    // elsewhere on the server than Qt believes: asked again.
    const ServerFrame::State server = ServerFrame::of(window_);
    const bool lost = server.known && server.mapped && server.client != placedGeometry_;
    if (window_ && window_->isVisible() && following_ && (window_->geometry() != placedGeometry_ || lost)
        && replacements_ < maxReplacements) {
        ++replacements_;
        const QRect before = window_->geometry();
        place(placeAgain_);
        if (lost && window_->geometry() == before)
            ServerFrame::request(window_, before);
        return;
    }
    settled_ = window_ && window_->isVisible();
    // At rest where it was placed: a later word of the window manager's gets as many placements.
    if (settled_ && window_->geometry() == placedGeometry_ && !lost)
        replacements_ = 0;
    announcePlaced();
}

void FramePlacement::announcePlaced()
{
    if (isPlaced() && !std::exchange(announced_, true))
        Q_EMIT placed();
}

void FramePlacement::watchScreen()
{
    QWindow *handle = window_ ? window_->windowHandle() : nullptr;
    if (!handle || std::exchange(screenWatched_, true))
        return;
    // After the move that took the window there has been taken in.
    connect(
        handle, &QWindow::screenChanged, this,
        [this] {
            // Told once the move that took it there is judged: only a user's move is followed
            // by a fit to the new screen.
            if (judge_.isActive())
                screenUnjudged_ = true;
            else
                Q_EMIT screenChanged();
        },
        Qt::QueuedConnection);
}

bool FramePlacement::eventFilter(QObject *watched, QEvent *event)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (watched != window_)
        return false;
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        if (!window_->isVisible() || placing_ || followFrame())
            break;
        judgeMove(event->type() == QEvent::Move);
        break;
    case QEvent::Show:
        watchScreen();
        break;
    case QEvent::WindowStateChange:
        // Coming back from minimised or maximised, the window manager places it again.
        if (window_->isVisible())
            unsettle();
        break;
    case QEvent::Hide:
        following_ = false;
        settled_ = false;
        announced_ = false;
        settle_.stop();
        judge_.stop();
        judgements_ = 0;
        movedUnjudged_ = false;
        screenUnjudged_ = false;
        break;
    default:
        break;
    }
    return false;
}

} // namespace tampod
