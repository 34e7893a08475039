#pragma once

#include <QApplication>
#include <QMouseEvent>
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

// A click of the left button at at in window, delivered as the window system delivers it: to the
// deepest widget there, which then takes the focus as its focus policy and its parents' say.
// Returns the widget clicked.
inline QWidget *clickAsUser(QWidget *window, QPoint at)
{
    QWidget *target = window->childAt(at);
    if (!target)
        target = window;
    const QPointF local = target->mapFrom(window, at);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, local, target->mapToGlobal(local), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QSpontaneKeyEvent::setSpontaneous(&event);
        QApplication::instance()->notify(target, &event);
    }
    return target;
}

} // namespace tampod::test
