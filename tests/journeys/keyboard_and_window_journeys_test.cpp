// Journeys off the mouse's main path: Tab through the library as one stop, the arrow keys
// choosing the track, the help key, the Close command, and where About and the manual open.
#include "journey.h"

#include "views/export/export_sheet_texts.h"
#include "views/kit/screen_fit.h"
#include "views/library/library_row.h"
#include "views/library/library_texts.h"
#include "views/settings/export_settings_view.h"
#include "views/sd2/sd2_view_texts.h"
#include "views/settings/settings_texts.h"
#include "windows/tampod_commands.h"
#include "windows/window_position_reader.h"
#include "windows/window_registry.h"
#include "windows/window_texts.h"

#include <QAccessible>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include "support/in_sight.h"

// The window system's own entries for input, as Qt's test library uses them: a key goes
// through the shortcut map and the application's event filters to the focus widget, and a
// click gives focus as a real click does.
Q_GUI_EXPORT bool qt_handleKeyEvent(QWindow *window, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers,
                                    const QString &text = QString(), bool autorep = false, ushort count = 1);
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow *window, const QPointF &local, const QPointF &global,
                                      Qt::MouseButtons state, Qt::MouseButton button, QEvent::Type type,
                                      Qt::KeyboardModifiers modifiers, int timestamp);

using namespace tampod;
using namespace tampod::test;

namespace {

void type(QWidget *window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    qt_handleKeyEvent(window->windowHandle(), QEvent::KeyPress, key, modifiers);
    qt_handleKeyEvent(window->windowHandle(), QEvent::KeyRelease, key, modifiers);
}

void clickAt(QWidget *widget, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    // Far apart in time, so no two clicks make a double click.
    static int time = 0;
    QWidget *window = widget->window();
    const QPointF local = widget->mapTo(window, at);
    const QPointF global = widget->mapToGlobal(at);
    qt_handleMouseEvent(window->windowHandle(), local, global, Qt::LeftButton, Qt::LeftButton,
                        QEvent::MouseButtonPress, modifiers, time += 10000);
    qt_handleMouseEvent(window->windowHandle(), local, global, Qt::NoButton, Qt::LeftButton,
                        QEvent::MouseButtonRelease, modifiers, time += 10);
}

std::string nameOf(const QWidget *widget)
{
    if (!widget)
        return "nothing";
    const auto *button = qobject_cast<const QAbstractButton *>(widget);
    const QString name = button && !button->text().isEmpty() ? button->text() : widget->accessibleName();
    return std::string(widget->metaObject()->className()) + " " + name.toStdString();
}

// Whether window is the active window, as a window manager makes a window it shows.
bool activate(QWidget *window)
{
    QApplication::setActiveWindow(window);
    return pumpUntil([&] { return QApplication::activeWindow() == window; });
}

class KeyboardJourney : public Journey {
protected:
    // a.wav and b.wav, then c.wav handed over by the file manager: c is loaded and its row
    // selected by that open, never by the keyboard or a click. a is checked for export.
    void SetUp() override
    {
        for (const char *name : {"a.wav", "b.wav"})
            writeTone(music + u'/' + QLatin1String(name), 0.5);
        const QString more = root.file(QStringLiteral("more"));
        QDir().mkpath(more);
        writeTone(more + "/c.wav", 0.5);
        open(music, 2);
        app->openDocuments({QUrl::fromLocalFile(more + "/c.wav")});
        ASSERT_TRUE(pumpUntil([&] { return table().tableModel()->rowCount() == 3; }));
        // The open panel's completer list can outlive the panel answered by typing: a user's
        // next key or click would close it, so it goes before the keys under test.
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        ASSERT_TRUE(activate(window));
        ASSERT_TRUE(pumpUntil([&] { return loaded() == "c.wav"; })) << loaded();
        clickCell(0, LibraryColumns::exportCheck);
        ASSERT_TRUE(pumpUntil([&] { return (exportChecked = button(window, QStringLiteral("Export Checked")))
                                           && exportChecked->isEnabled(); }));
        clear = button(window, QStringLiteral("Clear All Files"));
        ASSERT_NE(clear, nullptr);
        ASSERT_EQ(selectedRows(), QList<int>{2});
    }

    std::string loaded() const
    {
        const auto track = player().selectedTrack();
        return track ? track->url().fileName().toStdString() : "none";
    }
    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex &index : table().selectionModel()->selectedRows())
            rows << index.row();
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    int currentRow() const { return table().currentIndex().isValid() ? table().currentIndex().row() : -1; }
    // Whether the keyboard focus comes to widget (on a window system a key is taken on a later
    // turn of the event loop).
    static bool focusComesTo(const QWidget *widget)
    {
        return pumpUntil([&] { return QApplication::focusWidget() == widget; });
    }

    QAbstractButton *exportChecked = nullptr;
    QAbstractButton *clear = nullptr;
};

} // namespace

TEST_F(KeyboardJourney, TabPassesThroughTheLibraryAsOneStopAndKeepsTheTrack)
{
    clear->setFocus(Qt::TabFocusReason);
    type(window, Qt::Key_Tab);
    EXPECT_TRUE(focusComesTo(&table())) << nameOf(QApplication::focusWidget());
    EXPECT_EQ(selectedRows(), QList<int>{2});
    EXPECT_EQ(loaded(), "c.wav");

    // One more Tab leaves the table for the next control.
    type(window, Qt::Key_Tab);
    EXPECT_TRUE(focusComesTo(exportChecked)) << nameOf(QApplication::focusWidget());
    EXPECT_EQ(selectedRows(), QList<int>{2});
    EXPECT_EQ(loaded(), "c.wav");

    // And back: into the table, then out before it.
    type(window, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(focusComesTo(&table())) << nameOf(QApplication::focusWidget());
    type(window, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(focusComesTo(clear)) << nameOf(QApplication::focusWidget());
    EXPECT_EQ(selectedRows(), QList<int>{2});
    EXPECT_EQ(loaded(), "c.wav");
}

TEST_F(KeyboardJourney, TabIntoTwoSelectedRowsKeepsThemAndTheTrackAndStartsAtThem)
{
    // b loaded, then b and c selected, by the model: no cell is made current by a click.
    const QUuid b = table().tableModel()->row(1).id;
    const QUuid c = table().tableModel()->row(2).id;
    player().selectVisibleLibraryRows({b});
    ASSERT_TRUE(pumpUntil([&] { return loaded() == "b.wav"; })) << loaded();
    player().selectVisibleLibraryRows({b, c});
    ASSERT_TRUE(pumpUntil([&] { return selectedRows() == QList<int>{1, 2}; }));
    ASSERT_EQ(loaded(), "b.wav");

    clear->setFocus(Qt::TabFocusReason);
    type(window, Qt::Key_Tab);
    ASSERT_TRUE(focusComesTo(&table())) << nameOf(QApplication::focusWidget());
    EXPECT_EQ(selectedRows(), (QList<int>{1, 2}));
    EXPECT_TRUE(selectedRows().contains(currentRow())) << "current row " << currentRow();
    EXPECT_EQ(loaded(), "b.wav");
}

TEST_F(KeyboardJourney, AClickBelowTheRowsFocusesTheTableAndClearsTheSelectionAsATableDoes)
{
    clear->setFocus(Qt::TabFocusReason);
    const QRect last = cell(2, LibraryColumns::name);
    ASSERT_LT(last.bottom() + 10, table().viewport()->height());
    clickAt(table().viewport(), QPoint(last.center().x(), last.bottom() + 10));
    EXPECT_TRUE(focusComesTo(&table())) << nameOf(QApplication::focusWidget());
    EXPECT_EQ(selectedRows(), QList<int>{});
}

TEST_F(KeyboardJourney, ArrowKeysChooseTheTrackAndSpaceAndDeleteKeepTheirMeaning)
{
    clear->setFocus(Qt::TabFocusReason);
    type(window, Qt::Key_Tab);
    ASSERT_TRUE(focusComesTo(&table())) << nameOf(QApplication::focusWidget());

    // From the selected row, whoever selected it.
    type(window, Qt::Key_Up);
    EXPECT_TRUE(pumpUntil([&] { return loaded() == "b.wav"; })) << loaded();
    EXPECT_EQ(selectedRows(), QList<int>{1});
    type(window, Qt::Key_Up);
    EXPECT_TRUE(pumpUntil([&] { return loaded() == "a.wav"; })) << loaded();
    type(window, Qt::Key_Down);
    EXPECT_TRUE(pumpUntil([&] { return loaded() == "b.wav"; })) << loaded();
    EXPECT_EQ(selectedRows(), QList<int>{1});

    type(window, Qt::Key_Space);
    EXPECT_TRUE(pumpUntil([&] { return player().isPlaying(); }));
    type(window, Qt::Key_Space);
    EXPECT_TRUE(pumpUntil([&] { return !player().isPlaying(); }));
    type(window, Qt::Key_Delete);
    EXPECT_TRUE(pumpUntil([&] { return rowNames() == QStringList{"a.wav", "c.wav"}; }))
        << rowNames().join(u',').toStdString();
    EXPECT_EQ(QApplication::focusWidget(), &table()) << nameOf(QApplication::focusWidget());
    // The removal selected the row after it; the keys go on from there.
    ASSERT_EQ(selectedRows(), QList<int>{1});
    type(window, Qt::Key_Up);
    EXPECT_TRUE(pumpUntil([&] { return loaded() == "a.wav"; })) << loaded();

    // With nothing selected, Down selects the first row.
    clickAt(table().viewport(), cell(0, LibraryColumns::name).center(), Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] { return selectedRows().isEmpty(); }));
    type(window, Qt::Key_Down);
    EXPECT_TRUE(pumpUntil([&] { return selectedRows() == QList<int>{0}; })) << selectedRows().size();
}

// Every stop of Tab through the export sheet and the batch sheet, all the way round, is an
// element a screen reader names and whose role it speaks: never a container or a scroll area's
// frame that says nothing.
TEST_F(KeyboardJourney, TabThroughTheExportSheetsStopsOnlyAtNamedElements)
{
    for (QAbstractButton *opener : {button(window, QStringLiteral("EXPORT")), exportChecked}) {
        ASSERT_NE(opener, nullptr);
        ASSERT_TRUE(activate(window));
        opener->click();
        SheetDialog *sheet = awaitSheet();
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(activate(sheet));
        ASSERT_TRUE(pumpUntil([&] { return QApplication::focusWidget() && QApplication::focusWidget()->window() == sheet; }));
        QWidget *first = QApplication::focusWidget();
        QWidget *at = first;
        QStringList stops;
        do {
            QAccessibleInterface *element = QAccessible::queryAccessibleInterface(at);
            ASSERT_NE(element, nullptr) << nameOf(at);
            const QString name = element->text(QAccessible::Name);
            stops << name;
            EXPECT_FALSE(name.trimmed().isEmpty()) << nameOf(at) << " after " << stops.join(u'|').toStdString();
            // A filler is a role a reader passes over.
            EXPECT_FALSE(element->role() == QAccessible::Client || element->role() == QAccessible::NoRole)
                << nameOf(at) << " role " << element->role();
            type(sheet, Qt::Key_Tab);
            ASSERT_TRUE(pumpUntil([&] { return QApplication::focusWidget() != at; })) << nameOf(at);
            at = QApplication::focusWidget();
        } while (at != first && stops.size() < 100);
        EXPECT_EQ(at, first) << stops.join(u'|').toStdString();
        EXPECT_GT(stops.size(), 3);
        type(sheet, Qt::Key_Escape);
        ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));
    }
}

TEST_F(Journey, AboutAndTheManualOpenCentredOverTheMainWindowAndCloseWithTheCloseCommand)
{
    // At the top of the screen, so that centred over the main window is not centred on it.
    const QRect screen = window->screen()->availableGeometry();
    const QPoint top(screen.center().x() - window->frameGeometry().width() / 2, screen.top() + 20);
    window->move(top);
    ASSERT_TRUE(pumpUntil([&] { return window->frameGeometry().topLeft() == top; }));
    const QPoint centre = window->frameGeometry().center();

    app->commands()->aboutAction()->trigger();
    QPointer<QWidget> about = app->windows().window(WindowId::about);
    ASSERT_TRUE(about && pumpUntil([&] { return about->isVisible(); }));
    EXPECT_NEAR(about->frameGeometry().center().x(), centre.x(), 1);
    EXPECT_NEAR(about->frameGeometry().center().y(), centre.y(), 1);
    EXPECT_TRUE(screen.contains(about->frameGeometry()));

    // The help key, from the main window.
    ASSERT_TRUE(activate(window));
    type(window, Qt::Key_F1);
    QPointer<QWidget> manual = app->windows().window(WindowId::manual);
    ASSERT_TRUE(manual && pumpUntil([&] { return manual->isVisible(); }));
    // (A little wider than the offscreen test screen: there it is pulled to the left edge.)
    EXPECT_NEAR(manual->frameGeometry().center().x(), centre.x(), 2);
    EXPECT_NEAR(manual->frameGeometry().center().y(), centre.y(), 1);
    EXPECT_GE(manual->frameGeometry().left(), screen.left());
    EXPECT_GE(manual->frameGeometry().top(), screen.top());

    for (QPointer<QWidget> shown : {manual, about}) {
        ASSERT_TRUE(activate(shown));
        type(shown, Qt::Key_W, Qt::ControlModifier);
        EXPECT_TRUE(pumpUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return shown.isNull();
        }));
    }

    // On the main window the Close command asks whether to quit, as its close button does.
    ASSERT_TRUE(activate(window));
    type(window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(alerts->quitQuestions, 1);
    EXPECT_TRUE(window->isVisible());
}

// The user's moves of About and the manual, each kept under its own key, and About, sized by its
// layout only as it shows, reopened where it was left.
TEST_F(Journey, AboutReopensWhereItWasMovedAndTheManualKeepsItsPlaceApart)
{
    const QRect screen = window->screen()->availableGeometry();
    const auto show = [&](QAction *command, const QString &id) -> QWidget * {
        command->trigger();
        QWidget *shown = app->windows().window(id);
        return awaitPlaced(shown) ? shown : nullptr;
    };
    const auto close = [&](QWidget *shown) {
        QPointer<QWidget> gone(shown);
        shown->close();
        return pumpUntil([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return gone.isNull();
        });
    };
    QSettings stored;
    const QString aboutKey = WindowPositionReader::storageKey(WindowId::about);
    const QString manualKey = WindowPositionReader::storageKey(WindowId::manual);

    QWidget *about = show(app->commands()->aboutAction(), WindowId::about);
    ASSERT_NE(about, nullptr);
    // Near the bottom right, where a guessed larger size would not fit.
    const QPoint moved = screen.bottomRight()
                         - QPoint(ScreenFit::frameGeometry(about).width() + 10,
                                  ScreenFit::frameGeometry(about).height() + 20);
    // Dragged by its frame, as a window manager moves a window.
    ScreenFit::moveFrame(about, moved, ScreenFit::frameMargins(about));
    ASSERT_TRUE(pumpUntil([&] { return stored.contains(aboutKey); }));
    ASSERT_TRUE(awaitPlaced(about));
    const QString aboutPlace = stored.value(aboutKey).toString();
    const QRect aboutFrame = ScreenFit::frameGeometry(about);
    ASSERT_TRUE(close(about));

    about = show(app->commands()->aboutAction(), WindowId::about);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(ScreenFit::frameGeometry(about), aboutFrame);

    QWidget *manual = show(app->commands()->manualAction(), WindowId::manual);
    ASSERT_NE(manual, nullptr);
    // (Wider than the offscreen test screen: it stays at the left edge there.)
    ScreenFit::moveFrame(manual, screen.topLeft() + QPoint(0, 15), ScreenFit::frameMargins(manual));
    ASSERT_TRUE(pumpUntil([&] { return stored.contains(manualKey); }));
    EXPECT_EQ(stored.value(aboutKey).toString(), aboutPlace);
    EXPECT_NE(stored.value(manualKey).toString(), aboutPlace);
    ASSERT_TRUE(close(manual));
    manual = show(app->commands()->manualAction(), WindowId::manual);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(ScreenFit::frameGeometry(manual).topLeft(), screen.topLeft() + QPoint(0, 15));
    EXPECT_EQ(ScreenFit::frameGeometry(about), aboutFrame);
}

TEST_F(Journey, TheCloseCommandClosesSettingsAndDropsItsUnappliedEdits)
{
    const auto openActiveSettings = [&]() -> ExportSettingsView * {
        ExportSettingsView *shown = openSettings();
        return shown && activate(shown->window()) ? shown : nullptr;
    };
    ExportSettingsView *settings = openActiveSettings();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(choose(settings->format(), QStringLiteral("flac")));
    ASSERT_TRUE(pumpUntil([&] { return settings->statusLine()->text() == QStringLiteral("Unapplied changes"); }))
        << settings->statusLine()->text().toStdString();

    QPointer<QWidget> shown = settings->window();
    type(shown, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(pumpUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return shown.isNull();
    }));
    EXPECT_EQ(alerts->quitQuestions, 0);

    settings = openActiveSettings();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->format()->currentData().toString(), QStringLiteral("wav"));
    EXPECT_EQ(settings->draft(), ExportDefaults());
}

// On a screen shorter than the windows and sheets, under a window manager (run by
// run_on_short_screen.sh): each opens wholly on the screen, its frame included, no taller than
// the screen has room for, its form scrolling and its buttons in sight; a position stored far
// off the screen brings its window back whole, its title bar on the screen.
class ShortScreenJourney : public Journey {
protected:
    void SetUp() override
    {
        if (!FramePlacement::framesWindows())
            GTEST_SKIP() << "needs a window manager's frames: run by run_on_short_screen.sh";
        screen = window->screen()->availableGeometry();
        ASSERT_LT(screen.height(), 690) << "the screen has room for every window: nothing to fit";
    }

    // Placed on its frame, and with its frame and the named buttons wholly on the screen, as the
    // X server has them.
    bool whollyOnScreen(const QWidget *shown, const QStringList &buttons = {}) const
    {
        return awaitPlaced(shown) && wholeOnScreen(shown, screen, buttons);
    }

    QRect screen;
};

TEST_F(ShortScreenJourney, EveryWindowAndSheetFitsWithItsTitleBarAndButtonsInSight)
{
    EXPECT_TRUE(whollyOnScreen(window)) << frameOf(window);
    for (const char *take : {"a", "b"})
        writeTone(music + u'/' + QLatin1String(take) + ".wav", 1);
    open(music, 2);

    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    const QStringList sheetButtons{ExportSheetText::chooseDestination, ExportSheetText::cancel};
    EXPECT_TRUE(whollyOnScreen(sheet, sheetButtons)) << frameOf(sheet);
    sheet->dismiss();
    ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));

    for (int row = 0; row < 2; ++row)
        clickCell(row, LibraryColumns::exportCheck);
    ASSERT_TRUE(press(window, LibraryText::exportChecked));
    sheet = awaitSheet();
    ASSERT_NE(sheet, nullptr);
    const QStringList batchButtons{ExportSheetText::chooseFolder, ExportSheetText::cancel};
    EXPECT_TRUE(whollyOnScreen(sheet, batchButtons)) << frameOf(sheet);
    sheet->dismiss();
    ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));

    ExportSettingsView *settings = openSettings();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(whollyOnScreen(settings->window(), {SettingsText::applySettings})) << frameOf(settings->window());
}

TEST_F(ShortScreenJourney, APositionStoredFarOffTheScreenBringsItsWindowBackWhole)
{
    {
        QSettings stored;
        stored.setValue(WindowPositionReader::storageKey(WindowId::main),
                        QStringLiteral("{-3000, 9000}"));
        stored.setValue(WindowPositionReader::storageKey(WindowId::settings),
                        QStringLiteral("{4000, 9000}"));
        stored.setValue(WindowPositionReader::storageKey(WindowId::about),
                        QStringLiteral("{-3000, 9000}"));
    }
    relaunch();
    ASSERT_TRUE(pumpUntil([&] { return window->isVisible(); }));
    EXPECT_TRUE(whollyOnScreen(window)) << frameOf(window);
    ExportSettingsView *settings = openSettings();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(whollyOnScreen(settings->window(), {SettingsText::applySettings})) << frameOf(settings->window());
    app->commands()->aboutAction()->trigger();
    QWidget *about = app->windows().window(WindowId::about);
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(whollyOnScreen(about)) << frameOf(about);
}

TEST_F(ShortScreenJourney, TheSD2ToolsSheetKeepsDoneInSightAndTheManualFitsTheScreen)
{
    const QString take = music + "/take.sd2";
    writeSD2Channel(take, 44100);
    open(take, 1);
    clickCell(0, LibraryColumns::name);
    ASSERT_TRUE(pumpUntil([&] { return app->commands()->advancedSD2Action()->isEnabled(); }));
    app->commands()->advancedSD2Action()->trigger();
    SheetDialog *sheet = awaitSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(whollyOnScreen(sheet, {SD2ViewText::done})) << frameOf(sheet);
    sheet->dismiss();
    ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));

    app->commands()->manualAction()->trigger();
    QWidget *manual = app->windows().window(WindowId::manual);
    ASSERT_NE(manual, nullptr);
    EXPECT_TRUE(whollyOnScreen(manual)) << frameOf(manual);
}
