#include "views/kit/clear_scroll_area.h"
#include "views/kit/accessibility/view_accessibility.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace tampod;

// A scroll area's children are its viewport and the containers of the scroll bars that show; a
// reader asking by a count read before a bar went away gets no child, never whatever lies past
// the list (Qt's own read it and crashed).
TEST(ScrollAreaAccessible, ItsChildrenFollowTheScrollBarsAndAnyNumberPastThemIsNone)
{
    installAccessibleFactory(); // as the application does first
    QWidget window;
    auto *content = new QLabel(QStringLiteral("line\n").repeated(40));
    QScrollArea *area = clearScrollArea(content, &window);
    area->setGeometry(0, 0, 200, 100);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    window.resize(200, 100);
    window.show();
    QApplication::processEvents();

    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(area);
    ASSERT_NE(reader, nullptr);
    // No Tab stop: a frame a reader passes over; a Tab stop: a pane it names.
    EXPECT_EQ(area->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_EQ(reader->role(), QAccessible::Client);
    area->setFocusPolicy(Qt::StrongFocus);
    EXPECT_EQ(reader->role(), QAccessible::Pane);
    ASSERT_EQ(reader->childCount(), 2);
    EXPECT_EQ(reader->child(0)->object(), area->viewport());
    EXPECT_EQ(reader->child(1)->object(), area->verticalScrollBar()->parentWidget());
    EXPECT_EQ(reader->indexOfChild(reader->child(1)), 1);

    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QApplication::processEvents();
    EXPECT_EQ(reader->childCount(), 1);
    for (int stale : {1, 2, 64, -1})
        EXPECT_EQ(reader->child(stale), nullptr) << stale;
    EXPECT_EQ(reader->child(0)->object(), area->viewport());

    // Every scroll area gets it, not only the kit's: Qt's own asks the same of it.
    QScrollArea plain(&window);
    QAccessibleInterface *other = QAccessible::queryAccessibleInterface(&plain);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->child(other->childCount()), nullptr);
}
