#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

class QSettings;
class QWidget;

namespace tampod {

// Remembers where the user last dragged a window and puts it there again, kept on a screen.
// The stored point, under "windowPosition." + key, is the frame's bottom-left corner with y
// growing upward from the primary screen's bottom edge, written "{x, y}". Only moves made
// while the left button is down (as the X server reports it) are saved; restoring and pulling
// a window back onto a screen are not. Native Wayland has no global positions, so there
// nothing is restored or saved. Sizes are never saved. thread: main only.
class WindowPositionReader : public QObject {
    Q_OBJECT

public:
    // Restores window's saved position now and watches it from here on; onClose runs each
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
    // Whether the left mouse button is down, asked of the X server where there is one (a
    // window manager's drag never reaches the application's own button state).
    static bool leftButtonDown();

    // For tests: what decides that a move is the user's drag.
    void setButtonProbe(std::function<bool()> probe) { buttonProbe_ = std::move(probe); }

    // Moves the window back onto the screens as they are now.
    void pullOntoScreens();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    WindowPositionReader(QWidget *window, QString key, QSettings &settings, std::function<void()> onClose);
    void restore();
    void save();
    void watchScreens();

    QPointer<QWidget> window_;
    QString key_;
    QSettings &settings_;
    std::function<void()> onClose_;
    std::function<bool()> buttonProbe_ = leftButtonDown;
    bool closing_ = false; // thread: main
    // Restored before the window manager framed the window: the frame's height was a guess,
    // so the placement is made again once the frame is known, unless the user moved it first.
    bool frameGuessed_ = false; // thread: main
};

} // namespace tampod
