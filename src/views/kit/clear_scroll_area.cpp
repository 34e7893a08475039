#include "views/kit/clear_scroll_area.h"

#include <QScrollArea>

namespace tampod {

QScrollArea *clearScrollArea(QWidget *content, QWidget *parent)
{
    auto *scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No Tab stop of its own, where a screen reader would meet a nameless frame: the controls
    // in it take the focus, and it scrolls to the one that has it. A click beside them still
    // takes the focus from them, so that the wheel there scrolls the area.
    scroll->setFocusPolicy(Qt::ClickFocus);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

} // namespace tampod
