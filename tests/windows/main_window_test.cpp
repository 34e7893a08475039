#include "windows/main_window.h"

#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/theme.h"

#include "support/snapshot.h"
#include "support/test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>

#include <gtest/gtest.h>

using namespace tampod;

TEST(MainWindow, CloseAsksInsteadOfClosingAndReadyComesOnce)
{
    MainWindow window;
    window.menuBar()->addMenu(QStringLiteral("tamPOD"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("tamPOD"));
    EXPECT_EQ(window.centralWidget()->size(), QSize(607, 648)); // 607.2 × (679.8 − 32)
    int ready = 0, asked = 0;
    QObject::connect(&window, &MainWindow::windowReady, [&](MainWindow *w) {
        EXPECT_EQ(w, &window);
        ++ready;
    });
    window.setCloseRequestHandler([&] { ++asked; });
    window.show();
    window.hide();
    window.show();
    EXPECT_EQ(ready, 1);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(asked, 1);

    window.showMinimized();
    window.bringForward();
    EXPECT_FALSE(window.isMinimized());

    ASSERT_TRUE(test::pumpUntil([&] { return window.menuBar()->height() > 0; }));
    EXPECT_EQ(window.centralWidget()->geometry().top(), window.menuBar()->geometry().bottom() + 1);
    for (double ratio : {1.0, 2.0}) {
        const QImage image = test::render(window, ratio, QStringLiteral("main-window"));
        const QPoint inContent = window.centralWidget()->geometry().center() * ratio;
        EXPECT_EQ(image.pixelColor(inContent).rgb(), Theme::background.rgb());
    }
}

// The window system drops a close request to a window a modal sheet still blocks, so a sheet
// pressed away by a screen reader must be gone at once, without the platform's press flash.
TEST(MainWindow, ACloseRightAfterASheetsDoneIsAsked)
{
    MainWindow window;
    int asked = 0;
    window.setCloseRequestHandler([&] { ++asked; });
    window.show();
    auto *sheet = new SheetDialog(&window);
    auto *done = new QPushButton(QStringLiteral("&Done"), sheet);
    done->setDefault(true);
    QObject::connect(done, &QPushButton::clicked, sheet, &SheetDialog::dismiss);
    ASSERT_TRUE(SheetHost::of(&window).present(sheet));
    ASSERT_EQ(QGuiApplication::modalWindow(), sheet->windowHandle());

    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(done);
    ASSERT_TRUE(button && button->actionInterface());
    EXPECT_EQ(button->text(QAccessible::Name), "Done");
    EXPECT_TRUE(button->state().defaultButton);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);
    EXPECT_EQ(SheetHost::of(&window).current(), nullptr);
    EXPECT_FALSE(window.close());
    EXPECT_EQ(asked, 1);

    const QPointer<SheetDialog> gone(sheet);
    EXPECT_TRUE(test::pumpUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return gone.isNull();
    }));
}

TEST(MainWindow, SD2ToolsSheetFollowsTheFlag)
{
    MainWindow window;
    window.show();
    window.setSD2ToolsFactory([](QWidget *host) { return new SheetDialog(host); });
    ObservableFlag flag;
    window.bindAdvancedSD2(flag.binding());
    EXPECT_EQ(window.sd2ToolsSheet(), nullptr);
    flag.setValue(true);
    ASSERT_NE(window.sd2ToolsSheet(), nullptr);
    EXPECT_TRUE(window.sd2ToolsSheet()->isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window.sd2ToolsSheet(), &escape);
    EXPECT_FALSE(flag.value());
    ASSERT_TRUE(test::pumpUntil([&] { return window.sd2ToolsSheet() == nullptr; }));

    // Clearing the flag elsewhere closes the sheet.
    flag.setValue(true);
    flag.setValue(false);
    ASSERT_TRUE(test::pumpUntil([&] { return window.sd2ToolsSheet() == nullptr; }));
    EXPECT_EQ(SheetHost::of(&window).current(), nullptr);
}

