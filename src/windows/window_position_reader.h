#pragma once

#include "views/kit/frame_placement.h"

#include <QList>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QSettings;
class QWidget;

namespace tampod {

// Remembers where the user last dragged a window and puts it there again, kept on a screen.
// The stored point, under "windowPosition." + key, is the frame's bottom-left corner with y
// growing upward from the primary screen's bottom edge, written "{x, y}". Every move of a
// settled window that the reader did not make itself is saved, whatever the mouse buttons say:
// a window manager's drag arrives as one configure event after the button is released. Our own
// restores and pulls back onto a screen are never saved, and neither is any move until the
// window has gone a while without moving after it was shown or placed, so the window manager's
// placement and framing cannot drift the window from launch to launch. Native Wayland has no
// global positions, so there nothing is restored or saved. Sizes are never saved. Each time it
// shows, the window is fitted to its screen (ScreenFit) before it is placed (a restored window to
// the screen its stored position lands on), and fitted and placed again whenever the window
// manager frames it anew, until the user moves it (FramePlacement); moved by the user to another
// screen, it is fitted to that screen.
// thread: main only.
class WindowPositionReader : public QObject {
    Q_OBJECT

public:
    // Restores window's saved position (when it is shown, if it is hidden now: at the size it
    // opens at) and watches it from here on; onClose runs each
    // time the window closes. settings must outlive the window. Returns the reader, a child
    // of window.
    static WindowPositionReader *attach(QWidget *window, const QString &key, QSettings &settings,
                                        std::function<void()> onClose = {});

    static QString storageKey(const QString &key) { return QStringLiteral("windowPosition.") + key; }
    static QString text(QPointF point);
    // "{x, y}" with two finite numbers; none for anything else.
    static std::optional<QPointF> parse(const QString &text);

    // Between Qt's frame geometry (top-left corner, y down) and the stored form: rectangles by
    // their bottom-left corner, y up from the bottom edge of primary.
    static QRectF toStored(const QRect &frame, const QRect &primary);
    static QRect fromStored(const QRectF &frame, const QRect &primary);

    // The frame moved onto the screen it overlaps most (the first on ties or without overlap)
    // and pulled inside its visible frame; when larger than the screen, its left and top
    // edges go to the screen's. Stored coordinates (y up); the size never changes.
    static QRectF clamped(const QRectF &frame, const QList<QRectF> &screens);

    static bool hasGlobalPositions();

    // How long a shown or placed window must go without moving before its moves are the user's.
    static constexpr std::chrono::milliseconds settleTime = FramePlacement::settleTime;
    void setSettleTime(std::chrono::milliseconds time) { placement_->setSettleTime(time); }
    bool isSettled() const { return placement_->isSettled(); }
    // The window's placement, which tells when the window rests placed on its frame.
    const FramePlacement &placement() const { return *placement_; }

    // Moves the window back onto the screens as they are now.
    void pullOntoScreens();
    // Without a stored position, the window's frame opens centred on anchor's, on a screen.
    // Until the window manager has framed the window, anchor's frame stands in for its own.
    void centreOn(const QWidget *anchor);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    WindowPositionReader(QWidget *window, QString key, QSettings &settings, std::function<void()> onClose);
    void restore();
    void save();
    // Moves the window for the reader itself: that move and whatever the window manager makes
    // of it until the window settles are not the user's.
    void place(QPoint topLeft);
    // The frame around the window: the window manager's, else its stand-in's as a guess.
    QMargins margins() const;
    QRect frame() const;
    // Fits the window to the screen it is on.
    void fit();
    // Fitted and placed again on the frame the window manager has given it since.
    void placeAgain();
    // On another screen after the user's move: fitted to it, and wholly on it.
    void fitToNewScreen();
    void centre();
    void watchScreens();

    QPointer<QWidget> window_;
    QString key_;
    QSettings &settings_;
    std::function<void()> onClose_;
    FramePlacement *placement_;
    bool closing_ = false; // thread: main
    bool restored_ = false; // thread: main; a stored position was applied or waits for the showing
    bool restorePending_ = false; // thread: main; placed at the next showing, at the window's real size
    QPointer<const QWidget> anchor_; // thread: main; centred on at the next showing
    // thread: main; its frame stands in for the window's until the window is framed
    QPointer<const QWidget> standIn_;
};

} // namespace tampod
