// Where the window manager frames the windows late or moves them to another monitor (run by
// run_on_short_screen.sh): started seconds after the program, or stalled while the windows
// open, every window and the export sheet still end whole on the screen, title bars included;
// and the main window dragged onto a shorter monitor is fitted to it.
#include "journey.h"

#include "views/export/export_sheet_texts.h"
#include "views/kit/screen_fit.h"
#include "views/library/library_row.h"
#include "views/library/library_texts.h"
#include "views/settings/settings_texts.h"
#include "windows/window_position_reader.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

#include "support/in_sight.h"

using namespace tampod;
using namespace tampod::test;

namespace {

std::string frameOf(const QWidget *shown)
{
    const QRect frame = ScreenFit::frameGeometry(shown);
    return shown->windowTitle().toStdString() + " at " + std::to_string(frame.x()) + "," + std::to_string(frame.y())
           + " " + std::to_string(frame.width()) + "x" + std::to_string(frame.height());
}

class LateFrameJourney : public Journey {
protected:
    void SetUp() override
    {
        if (!FramePlacement::framesWindows())
            GTEST_SKIP() << "needs a window manager's frames: run by run_on_short_screen.sh";
    }

    // Placed on its frame by now, with that frame and the named buttons wholly on screen.
    static bool placedWhole(const QWidget *shown, const QRect &screen, const QStringList &buttons = {})
    {
        const auto *placement = shown->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly);
        if (!placement || !placement->isPlaced() || !screen.contains(ScreenFit::frameGeometry(shown)))
            return false;
        for (const QString &name : buttons) {
            const QAbstractButton *found = button(shown, name);
            if (!found || !wholeInSight(found) || !screen.contains(QRect(found->mapToGlobal(QPoint()), found->size())))
                return false;
        }
        return true;
    }

    // Every window the user opens, and the export sheet, opened at once; each ends whole on the
    // screen once the window manager has framed it, however late that is.
    void openEveryWindowAndFindItWhole()
    {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QString take = music + "/take.wav";
        writeTone(take, 1);
        app->openDocuments({QUrl::fromLocalFile(take)});
        ASSERT_TRUE(pumpUntil([&] { return player().selectedTrack().has_value(); }));

        ExportSettingsView *settings = openSettings();
        ASSERT_NE(settings, nullptr);
        app->commands()->aboutAction()->trigger();
        app->commands()->manualAction()->trigger();
        SheetDialog *sheet = openExportSheet();
        ASSERT_NE(sheet, nullptr);
        QWidget *about = app->windows().window(WindowId::about);
        QWidget *manual = app->windows().window(WindowId::manual);
        ASSERT_TRUE(about && manual);
        EXPECT_TRUE(awaitPlaced({window, settings->window(), about, manual, sheet}));
        EXPECT_TRUE(placedWhole(window, screen)) << frameOf(window);
        EXPECT_TRUE(placedWhole(settings->window(), screen, {SettingsText::applySettings}))
            << frameOf(settings->window());
        EXPECT_TRUE(placedWhole(about, screen)) << frameOf(about);
        EXPECT_TRUE(placedWhole(manual, screen)) << frameOf(manual);
        EXPECT_TRUE(placedWhole(sheet, screen, {ExportSheetText::chooseDestination, ExportSheetText::cancel}))
            << frameOf(sheet);
    }
};

} // namespace

// Run with the window manager started seconds after the program.
TEST_F(LateFrameJourney, EveryWindowEndsWholeWhenTheWindowManagerComesLate)
{
    openEveryWindowAndFindItWhole();
}

// Run with the window manager from the start: it stops for 8 s as the program starts again and
// opens its windows where positions stored far off the screen send them.
TEST_F(LateFrameJourney, EveryWindowEndsWholeThroughAWindowManagerStall)
{
    const QByteArray named = qgetenv("TAMPOD_WINDOW_MANAGER_PID");
    const pid_t manager = pid_t(named.toLongLong());
    ASSERT_GT(manager, 0) << "run by run_on_short_screen.sh, which names the window manager";
    ASSERT_TRUE(awaitPlaced(window));
    {
        // Positions far off the screen, which bring their windows back by their frames.
        QSettings stored;
        for (const QString &id : {WindowId::main, WindowId::settings, WindowId::about, WindowId::manual})
            stored.setValue(WindowPositionReader::storageKey(id), QStringLiteral("{-3000, 9000}"));
    }
    ASSERT_EQ(::kill(manager, SIGSTOP), 0);
    QTimer::singleShot(std::chrono::seconds(8), [manager] { ::kill(manager, SIGCONT); });
    relaunch();
    openEveryWindowAndFindItWhole();
    ::kill(manager, SIGCONT);
}

// Run on a tall monitor with a short one beside it.
TEST_F(LateFrameJourney, TheMainWindowDraggedOntoAShorterMonitorIsFittedThere)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2) << "run by run_on_short_screen.sh with a monitor beside the first";
    QScreen *tall = QGuiApplication::primaryScreen();
    QScreen *shorter = screens.first() == tall ? screens.last() : screens.first();
    ASSERT_LT(shorter->availableGeometry().height(), tall->availableGeometry().height());

    for (const char *name : {"a.wav", "b.wav"})
        writeTone(music + u'/' + QLatin1String(name), 0.5);
    open(music, 2);
    clickCell(0, LibraryColumns::exportCheck);
    ASSERT_TRUE(awaitPlaced(window));
    ASSERT_TRUE(placedWhole(window, tall->availableGeometry(), {LibraryText::exportChecked}))
        << frameOf(window);
    const int fullHeight = ScreenFit::frameGeometry(window).height();
    ASSERT_GT(fullHeight, shorter->availableGeometry().height()) << "fits the shorter monitor already";

    // Dragged by its title bar onto the other monitor, as a window manager moves a window.
    const auto *placement = window->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly);
    bool placedAgain = false;
    QObject::connect(placement, &FramePlacement::placed, window, [&] { placedAgain = true; });
    ScreenFit::moveFrame(window, shorter->availableGeometry().topLeft() + QPoint(40, 30),
                         ScreenFit::frameMargins(window));
    ASSERT_TRUE(pumpUntil([&] { return placedAgain && window->screen() == shorter; }))
        << frameOf(window);
    EXPECT_TRUE(placedWhole(window, shorter->availableGeometry(), {LibraryText::exportChecked}))
        << frameOf(window);
}
