#include "windows/main_window.h"
#include "windows/main_window_content.h"

#include "views/kit/dialogs/alert_dialog.h"
#include "views/main/content_view.h"
#include "views/main/transport_view.h"
#include "views/main/warning_presenter.h"

#include "views/main/fake_main_window_model.h"

#include "support/test_support.h"

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
