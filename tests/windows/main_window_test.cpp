#include "windows/main_window.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

TEST(MainWindow, OpensTitledAndClosingQuits)
{
    tampod::MainWindow window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("tamPOD"));
    window.show();
    QTimer::singleShot(50, &window, [&] { window.close(); });
    QTimer::singleShot(5000, qApp, [] { QApplication::exit(1); }); // never hang the suite
    EXPECT_EQ(QApplication::exec(), 0);
}
