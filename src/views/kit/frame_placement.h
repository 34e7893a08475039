#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <chrono>
#include <functional>

class QWidget;

namespace tampod {

// A window's placement (its fit to the screen and its position) made by the program, kept up
// with the window manager's frame until the user moves or resizes the window. A window manager
// frames a window when it gets to it: at once, seconds later (started after the program,
// restarted, stalled on a busy machine) or in steps, each frame unlike the last. Whenever the
// frame differs from the one the last placement was made with, the owner's placeAgain runs, so
// the placement follows the final frame however late it comes. Moves and resizes that come with
// a new frame, before the window manager has framed and mapped the window, or before the window
// has rested for settleTime after a placement of ours, are the window manager's; later ones are
// the user's, and from then on the window stays where the user put it, though moves that come
// with a new frame (a window manager leaving, another framing the window) and those until the
// window rests on it are still the window manager's. A window of fixed size given another size,
// which no user can, is the window manager's even then: placed again while the placement
// follows. Framed means as the X server has it: mapped, and reparented by the window manager or
// its frame's extents announced, of whatever margins (zero included), or where no window manager
// runs, mapped; and a frame in another frame window is a new frame, even at the same margins.
// thread: main only.
class FramePlacement : public QObject {
    Q_OBJECT

public:
    // Follows window (as its child) with placeAgain, which fits and places it once more.
    FramePlacement(QWidget *window, std::function<void()> placeAgain);

    // Whether a window manager may frame the windows (X11): their frames come after they show,
    // and a placement waits for them.
    static bool framesWindows();

    // How long a placed window must go without moving before its moves are the user's.
    static constexpr std::chrono::milliseconds settleTime{500};
    void setSettleTime(std::chrono::milliseconds time) { settle_.setInterval(time); }

    // From now (the window shows) until the user moves or resizes it, the placement follows the
    // window's frame.
    void follow();
    // Runs move, which fits or moves the window, as a placement of ours: neither it nor what the
    // window manager makes of it until the window rests is taken for the user's.
    void place(const std::function<void()> &move);

    bool isPlacing() const { return placing_ > 0; }
    // The window has gone settleTime without moving since it was shown or placed.
    bool isSettled() const { return settled_; }
    // Settled where it was placed, on the window manager's frame (wherever there is one to wait
    // for), and the frame has not changed since: the placement is final until the frame changes.
    bool isPlaced() const;
    // The placement still follows the frame: the user has not moved or resized the window.
    bool isFollowing() const { return following_; }

    // A native event that may bring the window a new frame arrived (FrameEvents calls this):
    // checked once Qt has taken it in.
    void frameEventArrived();

Q_SIGNALS:
    // The window rests placed on its frame (isPlaced() holds): after every placement that ends so.
    void placed();
    // The user moved the window (a move of the window manager's after the window had settled).
    void movedByUser();
    // The window went to another screen, not by a placement of ours.
    void screenChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Framed and mapped by the window manager, wherever there is one to wait for: only then
    // can the user move the window.
    bool isShownFramed() const;
    // The window manager's frame has changed since the last placement.
    bool frameChanged() const;
    // Places the window again when its frame changed under a placement that follows it; on a
    // window the user moved, takes the new frame as the window manager's to settle. Whether the
    // frame changed.
    bool followFrame();
    // Qt has the window elsewhere than the X server has it yet.
    bool isAheadOfServer() const;
    // A window of fixed size has another size: one the window manager gave it.
    bool hasImposedSize() const;
    // A move or resize not of ours nor of a new frame: the window manager's while the window is
    // being placed and framed, else the user's.
    void judgeMove(bool moved);
    void judgeAgain();
    void unsettle();
    void settle();
    // Says placed() once per rest, when the window rests placed on its frame.
    void announcePlaced();
    void watchScreen();

    QPointer<QWidget> window_;
    std::function<void()> placeAgain_;
    QTimer settle_;
    // Judges again a move Qt told of before the X server had it.
    QTimer judge_;
    static constexpr std::chrono::milliseconds judgeInterval{20};
    static constexpr int maxJudgements = 150;
    int judgements_ = 0;
    bool movedUnjudged_ = false;
    bool screenUnjudged_ = false;
    int placing_ = 0; // thread: main, as every member
    bool settled_ = false;
    bool announced_ = false;
    bool following_ = false;
    bool checkPending_ = false;
    bool screenWatched_ = false;
    // Placements made again because the window was not where the last one put it, since the
    // window was shown or its frame last changed.
    int replacements_ = 0;
    static constexpr int maxReplacements = 3;
    // The frame the last placement was made with (none before the window is framed), and where
    // it put the window's client area.
    QMargins placedMargins_;
    quint32 placedFrame_ = 0; // the X server's frame window, or the window itself
    QRect placedGeometry_;
};

} // namespace tampod
