#include "windows/tampod_menu_policy.h"

#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

using namespace tampod;
using TextAction = TamPodMenuPolicy::TextAction;

namespace {

QStringList titles(const QWidget *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("—") : action->text());
    return texts;
}

// Items given as titles, "—" for a separator.
QMenu *menuWith(QMenuBar &bar, const QString &title, const QStringList &items)
{
    QMenu *menu = bar.addMenu(title);
    for (const QString &item : items) {
        if (item == QStringLiteral("—"))
            menu->addSeparator();
        else
            menu->addAction(item);
    }
    return menu;
}

// Counts the key presses that reach a widget past the application's filters.
struct KeyCounter : QObject {
    int presses = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        presses += event->type() == QEvent::KeyPress;
        return false;
    }
};

void key(QWidget *widget, int code, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent press(QEvent::KeyPress, code, modifiers);
    QApplication::sendEvent(widget, &press);
}

} // namespace

TEST(TamPodMenuPolicy, PrunesMenusServicesAndSeparators)
{
    QMenuBar bar;
    QMenu *application = menuWith(bar, QStringLiteral("tamPOD"),
                                  {QStringLiteral("—"), QStringLiteral("About tamPOD"), QStringLiteral("—"),
                                   QStringLiteral("Services"), QStringLiteral("—"), QStringLiteral("Quit tamPOD"),
                                   QStringLiteral("—")});
    menuWith(bar, QStringLiteral("File"), {});
    menuWith(bar, QStringLiteral("Edit"), {});
    menuWith(bar, QStringLiteral("View"), {});
    QMenu *windows = menuWith(bar, QStringLiteral("Fenster"), {}); // the windows menu, by object
    menuWith(bar, QStringLiteral("window"), {});                    // titles match exactly
    menuWith(bar, QStringLiteral("Help"), {});
    TamPodMenuPolicy::prune(&bar, windows, nullptr);
    EXPECT_EQ(titles(&bar), (QStringList{QStringLiteral("tamPOD"), QStringLiteral("File"), QStringLiteral("window"),
                                         QStringLiteral("Help")}));
    EXPECT_EQ(titles(application), (QStringList{QStringLiteral("About tamPOD"), QStringLiteral("—"),
                                                QStringLiteral("Quit tamPOD")}));

    // A services menu under another title goes because it is the services menu.
    QMenu *services = new QMenu(QStringLiteral("Dienste"), application);
    application->addMenu(services);
    TamPodMenuPolicy::prune(&bar, nullptr, services);
    EXPECT_EQ(titles(application).size(), 3);

    QMenuBar empty;
    TamPodMenuPolicy::prune(&empty); // nothing to do, nothing breaks
    empty.addAction(QStringLiteral("no submenu"));
    TamPodMenuPolicy::prune(&empty);
    EXPECT_EQ(titles(&empty), QStringList{QStringLiteral("no submenu")});
}

TEST(TamPodMenuPolicy, PrunesAgainAfterMenusChangeOncePerBurst)
{
    QMainWindow window;
    menuWith(*window.menuBar(), QStringLiteral("tamPOD"), {QStringLiteral("About tamPOD")});
    TamPodMenuPolicy policy([&] { return window.menuBar(); });
    policy.install();
    policy.install(); // harmless
    menuWith(*window.menuBar(), QStringLiteral("Window"), {});
    menuWith(*window.menuBar(), QStringLiteral("Edit"), {});
    EXPECT_TRUE(policy.isUpdateQueued());
    EXPECT_EQ(titles(window.menuBar()).size(), 3);
    ASSERT_TRUE(test::pumpUntil([&] { return !policy.isUpdateQueued(); }));
    EXPECT_EQ(titles(window.menuBar()), QStringList{QStringLiteral("tamPOD")});

    // Uninstalled, a queued prune only clears its flag.
    menuWith(*window.menuBar(), QStringLiteral("View"), {});
    EXPECT_TRUE(policy.isUpdateQueued());
    policy.uninstall();
    policy.uninstall();
    ASSERT_TRUE(test::pumpUntil([&] { return !policy.isUpdateQueued(); }));
    EXPECT_EQ(titles(window.menuBar()).size(), 2);
    menuWith(*window.menuBar(), QStringLiteral("Edit"), {});
    EXPECT_FALSE(policy.isUpdateQueued());
}

TEST(TamPodMenuPolicy, TextActions)
{
    const auto ctrl = Qt::ControlModifier;
    const auto shift = Qt::ShiftModifier;
    const struct {
        const char *key;
        Qt::KeyboardModifiers modifiers;
        std::optional<TextAction> action;
    } cases[] = {
        {"z", ctrl, TextAction::undo},           {"Z", ctrl | shift, TextAction::redo},
        {"x", ctrl, TextAction::cut},            {"c", ctrl, TextAction::copy},
        {"v", ctrl, TextAction::paste},          {"a", ctrl, TextAction::selectAll},
        {"c", ctrl | shift, std::nullopt},       {"z", ctrl | Qt::MetaModifier, std::nullopt},
        {"z", ctrl | Qt::AltModifier, std::nullopt}, {"z", Qt::NoModifier, std::nullopt},
        {"q", ctrl, std::nullopt},               {"", ctrl, std::nullopt},
        // The keypad flag is not one of the four modifiers and does not count.
        {"c", ctrl | Qt::KeypadModifier, TextAction::copy},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TamPodMenuPolicy::textAction(QString::fromLatin1(c.key), c.modifiers), c.action) << c.key;
}

TEST(TamPodMenuPolicy, EditingShortcutsGoToTheFocusedTextFieldFirst)
{
    QMainWindow window;
    auto *field = new QLineEdit(QStringLiteral("hello"));
    window.setCentralWidget(field);
    window.show();
    field->setFocus();
    ASSERT_TRUE(test::pumpUntil([&] { return QApplication::focusWidget() == field; }));
    TamPodMenuPolicy policy([] { return nullptr; });
    policy.install();
    KeyCounter reached;
    field->installEventFilter(&reached);

    key(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field->selectedText(), QStringLiteral("hello"));
    key(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QString());
    key(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("hello"));
    EXPECT_EQ(reached.presses, 0); // handled before anything else saw them
    key(field, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(reached.presses, 1); // passed on

    // A read-only text selects and copies but never changes.
    auto *log = new QPlainTextEdit(QStringLiteral("log"));
    log->setReadOnly(true);
    EXPECT_TRUE(TamPodMenuPolicy::sendTextAction(log, TextAction::selectAll));
    EXPECT_TRUE(TamPodMenuPolicy::sendTextAction(log, TextAction::cut));
    EXPECT_EQ(log->toPlainText(), QStringLiteral("log"));
    EXPECT_TRUE(log->textCursor().hasSelection());
    delete log;
    EXPECT_FALSE(TamPodMenuPolicy::sendTextAction(&window, TextAction::copy));

    policy.uninstall();
    key(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(reached.presses, 2);
}
