// Where the window manager frames the windows late or anew, or moves them to another monitor (run
// by run_on_short_screen.sh): started seconds after the program, stalled while the windows open,
// replaced or given a taller title bar, every window and the export sheet still end whole on the
// screen, title bars included, as the X server has them; the user's moves stay and are saved
// whatever the frame, none included; and windows dragged onto a shorter monitor are fitted to it.
#include "journey.h"

#include "views/export/export_sheet_texts.h"
#include "views/kit/screen_fit.h"
#include "views/library/library_row.h"
#include "views/library/library_texts.h"
#include "views/settings/settings_texts.h"
#include "windows/window_position_reader.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

#include "support/in_sight.h"

using namespace tampod;
using namespace tampod::test;

namespace {

class LateFrameJourney : public Journey {
protected:
    void SetUp() override
    {
        if (!FramePlacement::framesWindows())
            GTEST_SKIP() << "needs a window manager's frames: run by run_on_short_screen.sh";
    }

    // Placed on its frame by now, as the program and the X server agree, with that frame and
    // the named buttons wholly on screen as the server has them.
    static bool placedWhole(const QWidget *shown, const QRect &screen, const QStringList &buttons = {})
    {
        return allPlaced({shown}) && serverAgrees(shown) && wholeOnScreen(shown, screen, buttons);
    }

    // The main window with a track selected, as the user has it before opening the export sheet.
    void openATake()
    {
        const QString take = music + "/take.wav";
        writeTone(take, 1);
        app->openDocuments({QUrl::fromLocalFile(take)});
        ASSERT_TRUE(pumpUntil([&] { return player().selectedTrack().has_value(); }));
    }

    // The user's pause: the program has it to undo a move it took for its own.
    static void pause() { pumpUntil([] { return false; }, std::chrono::seconds(3)); }

    // Moved by the user to topLeft (its client area, as asked of the X server): wherever the
    // window manager puts it, it stays there through the user's pause and is saved there.
    // Returns where the X server has the frame then.
    QRect moveAndFindItKept(const QWidget *shown, QPoint topLeft, const QString &id)
    {
        const QRect before = serverWindow(shown).frame;
        moveAsTheUser(shown, topLeft);
        EXPECT_TRUE(pumpUntil([&] { return serverWindow(shown).frame != before; }, std::chrono::seconds(30)))
            << "never moved: " << serverWindow(shown).text();
        const QRect landed = serverWindow(shown).frame;
        pause();
        const ServerWindow after = serverWindow(shown);
        EXPECT_EQ(after.frame, landed) << "taken back: " << after.text();
        EXPECT_EQ(shown->geometry(), after.client);
        QSettings stored;
        EXPECT_EQ(stored.value(WindowPositionReader::storageKey(id)).toString(),
                  WindowPositionReader::text(
                      WindowPositionReader::toStored(landed, QGuiApplication::primaryScreen()->geometry()).topLeft()));
        return landed;
    }

    // A theme of its own with 52 px title bars, and the window manager's configuration naming it.
    void nameATallerTitleBar(const QString &config) const
    {
        const QString theme = root.file(QStringLiteral("tall"));
        QDir().mkpath(theme + "/openbox-3");
        QFile source(QStringLiteral("/usr/share/themes/Clearlooks/openbox-3/themerc"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        writeFile(theme + "/openbox-3/themerc", source.readAll().replace("padding.height: 2", "padding.height: 18"));
        QFile settings(config);
        ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
        QByteArray text = settings.readAll();
        settings.close();
        text.replace("<name>Clearlooks</name>", "<name>" + QFile::encodeName(theme) + "</name>");
        writeFile(config, text);
    }

    // The window manager's configuration file, shared with the run.
    static QString managerConfig()
    {
        const QString config = qEnvironmentVariable("TAMPOD_WINDOW_MANAGER_CONFIG");
        EXPECT_FALSE(config.isEmpty()) << "run by run_on_short_screen.sh, which names the configuration";
        return config;
    }

    // Every window the user opens, and the export sheet, opened at once; each ends whole on the
    // screen once the window manager has framed it, however late that is (with none yet, they
    // are placed as they are mapped, and placed again on the frames it brings).
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
        const QList<const QWidget *> shown{window, settings->window(), about, manual, sheet};
        // Framed by the window manager, however late it comes.
        ASSERT_TRUE(pumpUntil(
            [&] {
                return std::all_of(shown.begin(), shown.end(), [](const QWidget *one) {
                    const ServerWindow server = serverWindow(one);
                    return server.managed && server.state == 1;
                });
            },
            std::chrono::seconds(90)))
            << serverWindow(window).text();
        EXPECT_TRUE(awaitPlaced(shown));
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

// Run with no window manager, and with one that frames windows with no title bar or border: a
// frame of zero margins or none. Each of three moves 3 s apart stays where the user put it, the
// last is in the settings file after the user quits, and the window reopens there.
TEST_F(LateFrameJourney, TheUsersMovesStayAndTheLastIsSavedWithFramesOfNoMargins)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_TRUE(awaitPlaced(window));
    const ServerWindow first = serverWindow(window);
    ASSERT_EQ(first.frame, first.client) << "a frame with margins: " << first.text();
    QRect landed;
    for (const QPoint by : {QPoint(30, 40), QPoint(140, 10), QPoint(70, 90)}) {
        landed = moveAndFindItKept(window, screen.topLeft() + by, WindowId::main);
        EXPECT_EQ(landed.topLeft(), screen.topLeft() + by);
    }
    const QString settingsFile = QSettings().fileName();
    // Ctrl+Q.
    app->commands()->quitAction()->trigger();
    relaunch();
    QFile file(settingsFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << settingsFile.toStdString();
    const auto saved = QRegularExpression(QStringLiteral(R"(windowPosition\.main="?(\{[^}]*\}))"))
                           .match(QString::fromUtf8(file.readAll()));
    ASSERT_TRUE(saved.hasMatch());
    EXPECT_EQ(WindowPositionReader::parse(saved.captured(1)),
              WindowPositionReader::toStored(landed, QGuiApplication::primaryScreen()->geometry()).topLeft());
    ASSERT_TRUE(awaitPlaced(window));
    EXPECT_EQ(serverWindow(window).frame, landed) << serverWindow(window).text();
}

// Run with the window manager from the start: stopped as the user asks for a move, it carries
// the move out when it goes on, and the move is the user's.
TEST_F(LateFrameJourney, AMoveAskedWhileTheWindowManagerIsStoppedIsTheUsers)
{
    const pid_t manager = pid_t(qEnvironmentVariable("TAMPOD_WINDOW_MANAGER_PID").toLongLong());
    ASSERT_GT(manager, 0) << "run by run_on_short_screen.sh, which names the window manager";
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    openATake();
    ASSERT_TRUE(awaitPlaced(window));
    const QRect before = serverWindow(window).frame;
    ASSERT_EQ(::kill(manager, SIGSTOP), 0);
    moveAsTheUser(window, screen.topLeft() + QPoint(60, 70));
    pause();
    EXPECT_EQ(serverWindow(window).frame, before) << "moved while the window manager was stopped";
    ASSERT_EQ(::kill(manager, SIGCONT), 0);
    EXPECT_TRUE(pumpUntil([&] { return serverWindow(window).frame != before; }, std::chrono::seconds(30)));
    const QRect landed = serverWindow(window).frame;
    pause();
    EXPECT_EQ(serverWindow(window).frame, landed) << serverWindow(window).text();
    EXPECT_FALSE(window->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly)->isFollowing());
    EXPECT_EQ(QSettings().value(WindowPositionReader::storageKey(WindowId::main)).toString(),
              WindowPositionReader::text(
                  WindowPositionReader::toStored(landed, QGuiApplication::primaryScreen()->geometry()).topLeft()));
}

// Run with the window manager from the start on a short screen: given a theme with a 52 px title
// bar, it keeps each frame's top-left corner or its client area's, by the window's gravity. The
// main window, untouched by the user (minimised and restored), is fitted and placed again whole;
// About, which the user moved, stays where the window manager keeps it.
TEST_F(LateFrameJourney, ATallerTitleBarGetsTheMainWindowPlacedAgainAndLeavesTheUsersMoveAlone)
{
    const QString config = managerConfig();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    openATake();
    app->commands()->aboutAction()->trigger();
    QWidget *about = app->windows().window(WindowId::about);
    ASSERT_TRUE(awaitPlaced({window, about}));
    const QRect moved = moveAndFindItKept(about, screen.topLeft() + QPoint(400, 150), WindowId::about);
    const QPoint movedClient = serverWindow(about).client.topLeft();
    // The main window minimised and restored: still untouched by the user.
    window->showMinimized();
    ASSERT_TRUE(pumpUntil([&] { return serverWindow(window).state == 3; })) << serverWindow(window).text();
    window->showNormal();
    ASSERT_TRUE(pumpUntil([&] { return serverWindow(window).state == 1; })) << serverWindow(window).text();
    ASSERT_TRUE(awaitPlaced(window));

    ASSERT_NO_FATAL_FAILURE(nameATallerTitleBar(config));
    runChecked(QStringLiteral("openbox"), {QStringLiteral("--reconfigure")});

    const auto titleBar = [](const ServerWindow &server) { return server.client.top() - server.frame.top(); };
    ASSERT_TRUE(pumpUntil([&] { return titleBar(serverWindow(window)) == 52 && titleBar(serverWindow(about)) == 52; },
                          std::chrono::seconds(60)))
        << serverWindow(window).text();
    // The window manager may take a while over the new frames, in steps: it ends whole.
    EXPECT_TRUE(awaitPlaced(window));
    pause();
    EXPECT_TRUE(awaitPlaced(window));
    EXPECT_TRUE(placedWhole(window, screen, {LibraryText::exportChecked})) << frameOf(window);
    // Its frame's corner or its client area where the user left them, as the window manager
    // keeps one or the other by the window's gravity: the program has not placed it again.
    const ServerWindow aboutNow = serverWindow(about);
    EXPECT_TRUE(aboutNow.frame.topLeft() == moved.topLeft() || aboutNow.client.topLeft() == movedClient)
        << aboutNow.text();
}

// Run with the window manager from the start on a short screen (after the journeys that need it
// to be the one the run started): another takes its place while the
// main window and the export sheet are open; each is framed anew and ends whole on the new frame.
TEST_F(LateFrameJourney, AReplacedWindowManagerFramesTheMainWindowAndTheExportSheetAnewWhole)
{
    const QString config = managerConfig();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    openATake();
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(awaitPlaced({window, sheet}));
    const ServerWindow main = serverWindow(window), shownSheet = serverWindow(sheet);

    // It lives on after the journey, in the run's process group, which the run ends.
    ASSERT_TRUE(QProcess::startDetached(
        QStringLiteral("openbox"),
        {QStringLiteral("--replace"), QStringLiteral("--sm-disable"), QStringLiteral("--config-file"), config}));
    // Framed by the new window manager: new frame windows.
    ASSERT_TRUE(pumpUntil(
        [&] {
            const ServerWindow now = serverWindow(window), nowSheet = serverWindow(sheet);
            return now.manager && now.manager != main.manager && now.framed() && nowSheet.framed()
                   && now.frameWindow != main.frameWindow && nowSheet.frameWindow != shownSheet.frameWindow;
        },
        std::chrono::seconds(60)))
        << serverWindow(window).text() << "\n" << serverWindow(sheet).text();
    // The window manager may take a while over the new frames, in steps: they end whole.
    EXPECT_TRUE(awaitPlaced({window, sheet}));
    pause();
    EXPECT_TRUE(awaitPlaced({window, sheet}));
    EXPECT_TRUE(placedWhole(window, screen)) << placementState(window);
    EXPECT_TRUE(placedWhole(sheet, screen, {ExportSheetText::chooseDestination, ExportSheetText::cancel}))
        << placementState(sheet);
    sheet->dismiss();
}

// Run on a tall monitor with a short one beside it: the export sheet, taller than the short one,
// dragged there is fitted to it; opened on a main window on the short one, it opens fitted to it,
// and on one whose centre is back on the tall one, on the tall one.
TEST_F(LateFrameJourney, TheExportSheetIsFittedToTheShorterMonitorItIsDraggedOrOpenedOn)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2) << "run by run_on_short_screen.sh with a monitor beside the first";
    QScreen *tall = QGuiApplication::primaryScreen();
    QScreen *shorter = screens.first() == tall ? screens.last() : screens.first();
    const QStringList buttons{ExportSheetText::chooseDestination, ExportSheetText::cancel};
    openATake();
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(awaitPlaced({window, sheet}));
    ASSERT_TRUE(placedWhole(sheet, tall->availableGeometry(), buttons)) << frameOf(sheet);
    ASSERT_GT(serverWindow(sheet).frame.height(), shorter->availableGeometry().height()) << "fits the short one already";

    const auto *placement = sheet->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly);
    bool placedAgain = false;
    QObject::connect(placement, &FramePlacement::placed, sheet, [&] { placedAgain = true; });
    moveAsTheUser(sheet, shorter->availableGeometry().topLeft() + QPoint(30, 30));
    ASSERT_TRUE(pumpUntil([&] { return placedAgain && sheet->screen() == shorter; })) << frameOf(sheet);
    EXPECT_TRUE(placedWhole(sheet, shorter->availableGeometry(), buttons)) << frameOf(sheet);
    sheet->dismiss();
    ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));

    moveAsTheUser(window, shorter->availableGeometry().topLeft() + QPoint(20, 40));
    ASSERT_TRUE(pumpUntil([&] { return window->screen() == shorter; })) << frameOf(window);
    ASSERT_TRUE(awaitPlaced(window));
    sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(awaitPlaced(sheet));
    EXPECT_TRUE(placedWhole(sheet, shorter->availableGeometry(), buttons)) << frameOf(sheet);
    sheet->dismiss();
    ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));

    // Dragged back until its centre is on the tall monitor while it still overlaps the shorter
    // one: the sheet opens on the monitor under its centre.
    const ServerWindow before = serverWindow(window);
    moveAsTheUser(window, QPoint(shorter->geometry().left() - before.client.width() / 2 - 30, before.client.top()));
    ASSERT_TRUE(pumpUntil([&] {
        const ServerWindow now = serverWindow(window);
        return now.frame != before.frame && window->geometry() == now.client;
    })) << serverWindow(window).text();
    ASSERT_TRUE(awaitPlaced(window));
    sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(awaitPlaced(sheet));
    EXPECT_TRUE(placedWhole(sheet, tall->availableGeometry(), buttons)) << frameOf(sheet);
}

// Run on a tall monitor with a short one beside it, with a window manager and without: the main
// window, moved by the user onto the short monitor and fitted there, opens there again at the
// next launch fitted to it, Export Checked in sight.
TEST_F(LateFrameJourney, ARestoredPositionIsFittedToTheShorterMonitorItLandsOn)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2) << "run by run_on_short_screen.sh with a monitor beside the first";
    QScreen *tall = QGuiApplication::primaryScreen();
    QScreen *shorter = screens.first() == tall ? screens.last() : screens.first();
    for (const char *name : {"a.wav", "b.wav"})
        writeTone(music + u'/' + QLatin1String(name), 0.5);
    const auto openChecked = [&] {
        open(music, 2);
        clickCell(0, LibraryColumns::exportCheck);
    };
    openChecked();
    ASSERT_TRUE(awaitPlaced(window));
    ASSERT_GT(serverWindow(window).frame.height(), shorter->availableGeometry().height())
        << "fits the shorter monitor already";

    const auto *placement = window->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly);
    bool placedAgain = false;
    QObject::connect(placement, &FramePlacement::placed, window, [&] { placedAgain = true; });
    moveAsTheUser(window, shorter->availableGeometry().topLeft() + QPoint(40, 30));
    ASSERT_TRUE(pumpUntil([&] { return placedAgain && window->screen() == shorter; })) << frameOf(window);
    ASSERT_TRUE(placedWhole(window, shorter->availableGeometry(), {LibraryText::exportChecked}))
        << frameOf(window);
    const QRect fitted = serverWindow(window).frame;
    ASSERT_FALSE(QSettings().value(WindowPositionReader::storageKey(WindowId::main)).toString().isEmpty());

    app->commands()->quitAction()->trigger();
    relaunch();
    openChecked();
    ASSERT_TRUE(awaitPlaced(window));
    EXPECT_TRUE(placedWhole(window, shorter->availableGeometry(), {LibraryText::exportChecked}))
        << frameOf(window);
    EXPECT_EQ(serverWindow(window).frame.size(), fitted.size()) << serverWindow(window).text();
}

// Run with the window manager from the start on a screen the main window fits (1366x768): the
// user's move is saved; another window manager, whose title bars are 52 px tall, then takes the
// place of the first while the export sheet is open. Where the window stood unframed between
// the two, and where the new one framed it, are none of the user's: what is saved still puts the
// frame's bottom-left corner where the user left it at the next launch.
TEST_F(LateFrameJourney, NoPositionIsSavedBetweenAWindowManagerAndItsReplacement)
{
    const QString config = managerConfig();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    openATake();
    ASSERT_TRUE(awaitPlaced(window));
    ASSERT_LT(serverWindow(window).frame.height() + 40, screen.height()) << "run on a screen the window fits";
    const QRect moved = moveAndFindItKept(window, screen.topLeft() + QPoint(307, 43), WindowId::main);
    const QString saved = QSettings().value(WindowPositionReader::storageKey(WindowId::main)).toString();
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(awaitPlaced({window, sheet}));
    const ServerWindow main = serverWindow(window);

    ASSERT_NO_FATAL_FAILURE(nameATallerTitleBar(config));
    // It lives on after the journey, in the run's process group, which the run ends.
    ASSERT_TRUE(QProcess::startDetached(
        QStringLiteral("openbox"),
        {QStringLiteral("--replace"), QStringLiteral("--sm-disable"), QStringLiteral("--config-file"), config}));
    ASSERT_TRUE(pumpUntil(
        [&] {
            const ServerWindow now = serverWindow(window);
            return now.manager && now.manager != main.manager && now.framed() && now.frameWindow != main.frameWindow
                   && now.client.top() - now.frame.top() == 52;
        },
        std::chrono::seconds(60)))
        << serverWindow(window).text();
    EXPECT_TRUE(awaitPlaced({window, sheet}));
    pause();
    EXPECT_TRUE(awaitPlaced({window, sheet}));
    EXPECT_EQ(QSettings().value(WindowPositionReader::storageKey(WindowId::main)).toString(), saved)
        << "saved while moved by the window managers, not the user";
    sheet->dismiss();
    ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));

    app->commands()->quitAction()->trigger();
    relaunch();
    ASSERT_TRUE(awaitPlaced(window));
    const ServerWindow reopened = serverWindow(window);
    EXPECT_EQ(reopened.frame.bottomLeft(), moved.bottomLeft()) << reopened.text();
    EXPECT_TRUE(screen.contains(reopened.frame)) << reopened.text();
}
