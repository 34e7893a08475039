#include "windows/window_placement.h"

#include "core/number_text.h"

#include <QEvent>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <cmath>

namespace tampod {

WindowPlacement::WindowPlacement(QWidget *window, QString key, QSettings &settings)
    : QObject(window)
    , window_(window)
    , key_(std::move(key))
    , settings_(settings)
{
}

void WindowPlacement::attach(QWidget *window, const QString &key, QSettings &settings)
{
    if (!hasGlobalPositions())
        return;
    auto *placement = new WindowPlacement(window, key, settings);
    placement->restore();
    window->installEventFilter(placement);
}

bool WindowPlacement::hasGlobalPositions()
{
    return !QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

QString WindowPlacement::text(QPoint position)
{
    return QStringLiteral("{") + QString::number(position.x()) + QStringLiteral(", ") + QString::number(position.y())
        + QStringLiteral("}");
}

std::optional<QPoint> WindowPlacement::parse(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral(R"(^\{\s*([^,{}\s]+)\s*,\s*([^,{}\s]+)\s*\}$)"));
    const auto match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto x = NumberText::parse(match.captured(1));
    const auto y = NumberText::parse(match.captured(2));
    // Window coordinates stay far inside int; anything else is not a position we wrote.
    constexpr double limit = 1e6;
    if (!x || !y || !std::isfinite(*x) || !std::isfinite(*y) || std::abs(*x) > limit || std::abs(*y) > limit)
        return std::nullopt;
    return QPoint(int(std::lround(*x)), int(std::lround(*y)));
}

void WindowPlacement::restore()
{
    const auto position = parse(settings_.value(storageKey(key_)).toString());
    if (!position)
        return;
    QRect frame = window_->frameGeometry();
    frame.moveTopLeft(*position);
    // Keep the title bar reachable: at least its top-left corner area on some screen.
    const QRect grip(frame.topLeft(), QSize(std::min(frame.width(), 80), 20));
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(grip)) {
            window_->move(*position);
            return;
        }
    }
}

void WindowPlacement::save()
{
    settings_.setValue(storageKey(key_), text(window_->pos()));
}

bool WindowPlacement::eventFilter(QObject *watched, QEvent *event)
{
    // A hidden window's moves are its own placement's, not the user's.
    if (watched == window_
        && ((event->type() == QEvent::Move && window_->isVisible()) || event->type() == QEvent::Hide))
        save();
    return QObject::eventFilter(watched, event);
}

} // namespace tampod
