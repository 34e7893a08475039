#include "views/kit/accessibility/scroll_area_accessible.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

namespace tampod {

ScrollAreaAccessible::ScrollAreaAccessible(QAbstractScrollArea *area)
    : QAccessibleWidget(area, QAccessible::Client)
{
}

bool ScrollAreaAccessible::serves(const QString &className)
{
    return className == QLatin1String("QScrollArea") || className == QLatin1String("QAbstractScrollArea");
}

QAbstractScrollArea *ScrollAreaAccessible::area() const
{
    return static_cast<QAbstractScrollArea *>(widget());
}

QList<QWidget *> ScrollAreaAccessible::children() const
{
    QList<QWidget *> children;
    if (QWidget *viewport = area()->viewport())
        children.append(viewport);
    for (QScrollBar *bar : {area()->horizontalScrollBar(), area()->verticalScrollBar()})
        if (bar && bar->isVisible() && bar->parentWidget())
            children.append(bar->parentWidget());
    if (QWidget *corner = area()->cornerWidget(); corner && corner->isVisible())
        children.append(corner);
    return children;
}

QAccessible::Role ScrollAreaAccessible::role() const
{
    return area()->focusPolicy() & Qt::TabFocus ? QAccessible::Pane : QAccessible::Client;
}

bool ScrollAreaAccessible::isValid() const
{
    return QAccessibleWidget::isValid() && area()->viewport();
}

int ScrollAreaAccessible::childCount() const
{
    return int(children().size());
}

QAccessibleInterface *ScrollAreaAccessible::child(int index) const
{
    const QList<QWidget *> shown = children();
    if (index < 0 || index >= shown.size())
        return nullptr;
    return QAccessible::queryAccessibleInterface(shown[index]);
}

int ScrollAreaAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || !child->object())
        return -1;
    return int(children().indexOf(qobject_cast<QWidget *>(child->object())));
}

QAccessibleInterface *ScrollAreaAccessible::childAt(int x, int y) const
{
    if (!area()->isVisible())
        return nullptr;
    for (QWidget *shown : children())
        if (QRect(shown->mapToGlobal(QPoint(0, 0)), shown->size()).contains(x, y))
            return QAccessible::queryAccessibleInterface(shown);
    return nullptr;
}

} // namespace tampod
