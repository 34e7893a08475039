#include "fixtures.h"

#include "windows/secondary_windows.h"
#include "windows/tampod_commands.h"
#include "windows/window_registry.h"

#include "views/about/about_view.h"

#include "library/sd2_metadata.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

QStringList itemTitles(const QWidget *menu)
{
    QStringList titles;
    for (const QAction *action : menu->actions())
        titles.append(action->isSeparator() ? QStringLiteral("—") : action->text());
    return titles;
}

struct Harness {
    QMenuBar bar;
    ObservableFlag showsAdvancedSD2;
    std::optional<AudioTrack> selected;
    QStringList calls;
    std::unique_ptr<TamPodCommands> commands;

    Harness()
    {
        TamPodCommands::Handlers handlers;
        handlers.openWindow = [this](const QString &id) { calls.append(QStringLiteral("open ") + id); };
        handlers.openFiles = [this] { calls.append(QStringLiteral("openFiles")); };
        handlers.restoreSelectedFileAccess = [this] { calls.append(QStringLiteral("restore")); };
        handlers.quit = [this] { calls.append(QStringLiteral("quit")); };
        handlers.selectedTrack = [this] { return selected; };
        commands = std::make_unique<TamPodCommands>(&bar, handlers, showsAdvancedSD2.binding());
    }
};

} // namespace

TEST(TamPodCommands, MenuStructureAndShortcuts)
{
    Harness h;
    EXPECT_EQ(itemTitles(&h.bar), (QStringList{QStringLiteral("tamPOD"), QStringLiteral("File"), QStringLiteral("Help")}));
    EXPECT_EQ(itemTitles(h.commands->applicationMenu()),
              (QStringList{QStringLiteral("About tamPOD"), QStringLiteral("—"), QStringLiteral("Settings…"),
                           QStringLiteral("—"), QStringLiteral("Quit tamPOD")}));
    EXPECT_EQ(itemTitles(h.commands->fileMenu()),
              (QStringList{QStringLiteral("Open Audio…"), QStringLiteral("Restore File Access…"),
                           QStringLiteral("Advanced SD2 Recovery…")}));
    EXPECT_EQ(itemTitles(h.commands->helpMenu()), QStringList{QStringLiteral("tamPOD User Manual")});

    EXPECT_EQ(h.commands->openAudioAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(h.commands->manualAction()->shortcuts(),
              (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Question), QKeySequence(Qt::Key_F1)}));
    EXPECT_EQ(h.commands->quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_TRUE(h.commands->restoreFileAccessAction()->shortcut().isEmpty());
    EXPECT_TRUE(h.commands->advancedSD2Action()->shortcut().isEmpty());

    for (QAction *action : {h.commands->aboutAction(), h.commands->settingsAction(), h.commands->manualAction(),
                            h.commands->openAudioAction(), h.commands->quitAction()})
        action->trigger();
    EXPECT_EQ(h.calls, (QStringList{QStringLiteral("open about"), QStringLiteral("open settings"),
                                    QStringLiteral("open manual"), QStringLiteral("openFiles"), QStringLiteral("quit")}));
}

TEST(TamPodCommands, EnablementFollowsTheSelectionAndTheSD2Sheet)
{
    AudioTrack extensionless = test::track(QStringLiteral("/music/take"));
    extensionless.sd2Format = SD2Metadata{};
    AudioTrack recovering = test::track(QStringLiteral("/music/take2"));
    recovering.recovery = SD2Recovery{};
    const struct {
        const char *name;
        std::optional<AudioTrack> selected;
        bool sheetShown;
        bool restore, advanced;
    } cases[] = {
        {"nothing selected", std::nullopt, false, false, false},
        {"plain wav", test::track(QStringLiteral("/music/a.wav")), false, true, false},
        {"lower-case sd2", test::track(QStringLiteral("/music/a.sd2")), false, true, true},
        {"upper-case SD2 without metadata", test::track(QStringLiteral("/music/A.SD2")), false, true, true},
        {"extension-less without metadata", test::track(QStringLiteral("/music/take")), false, true, false},
        {"extension-less with SD2 metadata", extensionless, false, true, true},
        {"waiting for recovery", recovering, false, true, true},
        {"linked pair", test::linkedPair(), false, false, true},
        {"SD2 while the sheet is up", test::track(QStringLiteral("/music/A.SD2")), true, true, false},
        {"hidden file named .sd2", test::track(QStringLiteral("/music/.sd2")), false, true, false},
    };
    for (const auto &c : cases) {
        Harness h;
        h.selected = c.selected;
        h.showsAdvancedSD2.setValue(c.sheetShown);
        h.commands->refresh();
        EXPECT_EQ(h.commands->restoreFileAccessAction()->isEnabled(), c.restore) << c.name;
        EXPECT_EQ(h.commands->advancedSD2Action()->isEnabled(), c.advanced) << c.name;
        // Commands that never depend on the selection.
        EXPECT_TRUE(h.commands->openAudioAction()->isEnabled()) << c.name;
        EXPECT_TRUE(h.commands->manualAction()->isEnabled()) << c.name;
    }
}

TEST(TamPodCommands, AdvancedSD2SetsTheFlagAndComesBackWhenTheSheetCloses)
{
    Harness h;
    h.selected = test::track(QStringLiteral("/music/A.SD2"));
    h.commands->refresh();
    h.commands->advancedSD2Action()->trigger();
    EXPECT_TRUE(h.showsAdvancedSD2.value());
    QCoreApplication::sendPostedEvents(); // the flag's change schedules a refresh
    EXPECT_FALSE(h.commands->advancedSD2Action()->isEnabled());
    h.showsAdvancedSD2.setValue(false);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(h.commands->advancedSD2Action()->isEnabled());

    // A selection change that reaches the menu only through aboutToShow is seen there.
    h.selected.reset();
    Q_EMIT h.commands->fileMenu()->aboutToShow();
    EXPECT_FALSE(h.commands->advancedSD2Action()->isEnabled());
}

TEST(WindowRegistry, OpensEachWindowOnceAndStartsClosedOnesFresh)
{
    WindowRegistry windows;
    int made = 0;
    windows.add(QStringLiteral("about"), [&] {
        ++made;
        return makeAboutWindow();
    });
    windows.add(QStringLiteral("manual"), [] { return makeManualWindow(); });
    QWidget *first = windows.open(QStringLiteral("about"));
    QWidget *second = windows.open(QStringLiteral("about"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("About tamPOD"));
    EXPECT_EQ(first->size(), QSize(360, 410));
    EXPECT_EQ(first->minimumSize(), first->maximumSize()); // not resizable

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(windows.window(QStringLiteral("about")), nullptr);
    windows.open(QStringLiteral("about"));
    EXPECT_EQ(made, 2);

    QWidget *manual = windows.open(QStringLiteral("manual"));
    EXPECT_EQ(manual->windowTitle(), QStringLiteral("tamPOD User Manual"));
    EXPECT_EQ(manual->size(), QSize(800, 560));
    EXPECT_EQ(manual->minimumSize(), QSize(720, 480));
    EXPECT_EQ(windows.open(QStringLiteral("manual")), manual);
    EXPECT_EQ(windows.open(QStringLiteral("unknown")), nullptr);
}
