#pragma once

#include <QRect>
#include <QWidget>

namespace tampod::test {

// Whether widget is shown whole: visible, and inside every widget that encloses it up to its
// window, so no scroll area holds any of it out of sight.
inline bool wholeInSight(const QWidget *widget)
{
    if (!widget->isVisible())
        return false;
    for (const QWidget *up = widget->parentWidget(); up; up = up->parentWidget()) {
        if (!up->rect().contains(QRect(widget->mapTo(up, QPoint(0, 0)), widget->size())))
            return false;
        if (up->isWindow())
            break;
    }
    return true;
}

} // namespace tampod::test
