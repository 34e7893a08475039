#include "windows/main_window.h"
#include "windows/main_window_content.h"
#include "windows/secondary_windows.h"

#include "views/kit/accessibility/view_accessibility.h"
#include "views/kit/dialogs/alert_dialog.h"
#include "views/main/content_view.h"
#include "views/main/transport_view.h"
#include "views/main/warning_presenter.h"

#include "views/main/fake_main_window_model.h"

#include "support/test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>

#include <gtest/gtest.h>

using namespace tampod;

TEST(MainWindowContent, HostsTheContentAndClosingAsksToQuit)
{
    test::FakeMainWindowModel player;
    MainWindow window;
    const auto installed = MainWindowContent::install(window, player, {});
    EXPECT_EQ(window.centralWidget(), installed.content);

    QStringList asked;
    WarningPresenter alerts({}, [&](AlertDialog &alert) {
        asked.append(alert.windowTitle());
        return 1; // "Cancel"
    });
    window.setCloseRequestHandler([&] { alerts.confirmQuit(); });
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(test::pumpUntil([&] { return QApplication::activeWindow() == &window; }));
    EXPECT_EQ(installed.content->size(), QSize(607, 648));
    EXPECT_EQ(installed.content->transport()->width(), 607);

    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(asked.size(), 1);

    // The window's keys reach the model.
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : &window, &space);
    EXPECT_EQ(player.takeCalls(), QStringList{"play"});
}

// A reader hears where the keyboard is in every window: the main window's content at launch is
// a named pane (Space still plays there), and About and the manual are windows, About with a
// named element the keyboard lands on. Qt makes each a nameless filler.
TEST(MainWindowContent, EveryWindowAndItsFirstFocusAreNamedForAReader)
{
    installAccessibleFactory();
    test::FakeMainWindowModel player;
    MainWindow window;
    MainWindowContent::install(window, player, {});
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(test::pumpUntil([&] { return QApplication::focusWidget() != nullptr; }));
    QAccessibleInterface *first = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
    EXPECT_EQ(first->role(), QAccessible::Pane);
    EXPECT_EQ(first->text(QAccessible::Name), QStringLiteral("Player"));
    EXPECT_GT(first->childCount(), 5);

    const std::unique_ptr<QWidget> about(makeAboutWindow());
    const std::unique_ptr<QWidget> manual(makeManualWindow(QString()));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(manual.get())->role(), QAccessible::Window);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(about.get())->role(), QAccessible::Window);
    about->show();
    QApplication::setActiveWindow(about.get());
    ASSERT_TRUE(test::pumpUntil([&] { return QApplication::focusWidget() && QApplication::focusWidget()->window() == about.get(); }));
    QAccessibleInterface *landed = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
    EXPECT_TRUE(landed->text(QAccessible::Name).startsWith(QStringLiteral("Version "))) << landed->text(QAccessible::Name).toStdString();
}
