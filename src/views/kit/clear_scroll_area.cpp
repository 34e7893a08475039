#include "views/kit/clear_scroll_area.h"

#include "views/kit/view_accessibility.h"

#include <QScrollArea>

namespace tampod {

QScrollArea *clearScrollArea(QWidget *content, QWidget *parent)
{
    installAccessibleFactory(); // a screen reader's scroll areas come from it
    auto *scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

} // namespace tampod
