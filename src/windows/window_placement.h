#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <optional>

class QSettings;
class QWidget;

namespace tampod {

// Remembers a window's position under "windowPosition." + key as "{x, y}" and puts the window
// back there when it is made. Native Wayland gives windows no global position, so there the
// memory is left alone. A position off every screen is not restored. thread: main only.
class WindowPlacement : public QObject {
    Q_OBJECT

public:
    // Restores window's position now and saves it whenever the window moves or hides.
    // settings must outlive the window.
    static void attach(QWidget *window, const QString &key, QSettings &settings);

    static QString storageKey(const QString &key) { return QStringLiteral("windowPosition.") + key; }
    static QString text(QPoint position);
    // "{x, y}" with numbers (fractions rounded); none for anything else.
    static std::optional<QPoint> parse(const QString &text);
    // Whether positions mean anything on this display system.
    static bool hasGlobalPositions();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    WindowPlacement(QWidget *window, QString key, QSettings &settings);
    void restore();
    void save();

    QPointer<QWidget> window_;
    QString key_;
    QSettings &settings_;
};

} // namespace tampod
