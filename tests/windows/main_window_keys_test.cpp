#include "windows/main_window_keyboard_handler.h"

#include "views/kit/dialogs/sheet_dialog.h"

#include "views/main/fake_main_window_model.h"

#include "support/test_support.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

struct Keys : testing::Test {
    test::FakeMainWindowModel player;
    QMainWindow window;
    QWidget *content = new QWidget;
    QLineEdit *field = new QLineEdit(content);
    QTableView *table = new QTableView(content);
    QPushButton *button = new QPushButton(QStringLiteral("Play"), content);
    QStandardItemModel rows{3, 2};
    MainWindowKeyboardHandler handler{player, &window};

    Keys()
    {
        auto *layout = new QVBoxLayout(content);
        layout->addWidget(field);
        layout->addWidget(table);
        layout->addWidget(button);
        table->setModel(&rows);
        content->setFocusPolicy(Qt::ClickFocus);
        window.setCentralWidget(content);
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(test::pumpUntil([&] { return QApplication::activeWindow() == &window; }));
    }

    void focus(QWidget *widget)
    {
        widget->setFocus();
        EXPECT_TRUE(test::pumpUntil([&] { return QApplication::focusWidget() == widget; }));
    }

    // Sends the key where Qt would deliver it; true when it was taken before reaching it.
    bool press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool repeat = false)
    {
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &window;
        QKeyEvent event(QEvent::KeyPress, key, modifiers, QString(), repeat);
        event.setAccepted(false);
        return handler.handle(target, event);
    }
};

constexpr auto ctrl = Qt::ControlModifier;
constexpr auto shift = Qt::ShiftModifier;

} // namespace

TEST_F(Keys, RoutingByFocus)
{
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        const char *onContent, *onTable, *onButton; // the call made, "" when passed on
    } cases[] = {
        {Qt::Key_Space, {}, "play", "play", ""},
        {Qt::Key_Backspace, {}, "removeSelected", "removeSelected", ""},
        {Qt::Key_Delete, {}, "removeSelected", "removeSelected", ""},
        {Qt::Key_Z, ctrl, "undo", "undo", "undo"},
        {Qt::Key_Z, ctrl | shift, "redo", "redo", "redo"},
        {Qt::Key_Z, ctrl | Qt::AltModifier, "", "", ""},
        {Qt::Key_Z, ctrl | Qt::MetaModifier, "", "", ""},
        {Qt::Key_Space, shift, "", "", ""},
        {Qt::Key_Delete, Qt::AltModifier, "", "", ""},
        {Qt::Key_A, ctrl, "", "selectAll", ""},
        {Qt::Key_Return, {}, "", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << " " << c.modifiers.toInt());
        const std::pair<QWidget *, const char *> places[] = {{content, c.onContent}, {table, c.onTable},
                                                             {button, c.onButton}, {field, ""}};
        for (const auto &[widget, expected] : places) {
            focus(widget);
            table->clearSelection();
            const bool taken = press(c.key, c.modifiers);
            const QString call = QString::fromUtf8(expected);
            EXPECT_EQ(taken, !call.isEmpty()) << widget->metaObject()->className();
            if (call == QStringLiteral("selectAll"))
                EXPECT_EQ(table->selectionModel()->selectedIndexes().size(), 6);
            else
                EXPECT_EQ(player.takeCalls(), call.isEmpty() ? QStringList() : QStringList{call});
        }
    }
}

TEST_F(Keys, SpaceTogglesOnceAndSheetsTakeEverything)
{
    focus(content);
    EXPECT_TRUE(press(Qt::Key_Space));
    player.playing = true;
    EXPECT_TRUE(press(Qt::Key_Space, {}, true)); // held: swallowed without action
    EXPECT_TRUE(press(Qt::Key_Space));
    EXPECT_TRUE(press(Qt::Key_Z, ctrl, true));
    EXPECT_EQ(player.takeCalls(), (QStringList{"play", "pause"}));

    // Through the application's event filter, as Qt delivers keys.
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(content, &del);
    EXPECT_EQ(player.takeCalls(), QStringList{"removeSelected"});

    SheetDialog sheet(&window);
    ASSERT_TRUE(sheet.present());
    for (int key : {Qt::Key_Space, Qt::Key_Delete})
        EXPECT_FALSE(press(key));
    EXPECT_FALSE(press(Qt::Key_Z, ctrl));
    sheet.dismiss();

    // Another window's keys are its own.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(test::pumpUntil([&] { return QApplication::activeWindow() == &other; }));
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    EXPECT_FALSE(handler.handle(&other, space));
    EXPECT_TRUE(player.takeCalls().isEmpty());
}
