#pragma once

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

namespace tampod::test {

// Notches of the wheel over the middle of over (up is positive), delivered as the window system
// delivers them: to the deepest widget under the pointer, then up through its parents while they
// ignore it. Returns the widget under the pointer, which is over or inside it unless covered.
inline QWidget *turnWheel(QWidget *over, int notches)
{
    QWidget *window = over->window();
    const QPoint inWindow = over->mapTo(window, over->rect().center());
    QWidget *target = window->childAt(inWindow);
    if (!target)
        target = window;
    const QPointF at = target->mapFrom(window, inWindow);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    // Straight to the application, as the test library does: sent, it would be a program's own
    // event, which Qt gives the target alone.
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(target, &event);
    return target;
}

} // namespace tampod::test
