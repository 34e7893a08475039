#pragma once

// The real application on a folder of its own: its windows and sheets, the real file panels
// answered as a user answers them, the real exporter, and audio files made for each journey.
#include "app/alert_recorder.h"
#include "app/application.h"

#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/frame_placement.h"
#include "views/library/library_table.h"
#include "views/library/library_table_model.h"
#include "views/settings/export_settings_view.h"
#include "windows/main_window.h"
#include "windows/tampod_commands.h"
#include "windows/window_registry.h"
#include "windows/window_texts.h"

#include "support/file_fixtures.h"
#include "support/in_sight.h"
#include "support/panel_user.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "views/kit/screen_fit.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace tampod::test {

// What the X server holds of one of our windows, asked of it directly, never of the program.
struct ServerWindow {
    bool known = false;
    bool viewable = false;
    // A window manager runs: the root window names its check window, which names itself.
    bool managed = false;
    // WM_STATE's state: 1 normal, 3 iconic; 0 without one.
    quint32 state = 0;
    bool extentsAnnounced = false;
    QMargins extents;
    // In root coordinates: the client area, and the outermost window around it below the root
    // (the client itself where it is not reparented), border included.
    QRect client;
    QRect frame;
    quint32 frameWindow = 0;
    // The window manager's check window, where one runs.
    quint32 manager = 0;

    // Shown in the frame the window manager gave it (a normal window, reparented or its
    // frame's extents announced), or with none running, mapped.
    bool framed() const
    {
        return known && viewable && (!managed || (state == 1 && (frame != client || extentsAnnounced)));
    }
    std::string text() const;
};
ServerWindow serverWindow(const QWidget *window);

class Journey : public ::testing::Test {
protected:
    Journey()
    {
        // Every per-user place in the test's own folder; QSettings keeps its paths from the
        // first use, so they are set directly too. The store of temporary audio is built once a
        // process, as in the application: its cache folder lives as long as the process.
        static const TempDir cache;
        for (const char *variable : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
            const QString name = QString::fromLatin1(variable);
            const QString path = name == QLatin1String("XDG_CACHE_HOME") ? cache.path() : root.file(name);
            QDir().mkpath(path);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv(variable, QFile::encodeName(path));
        }
        for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, root.file(QStringLiteral("XDG_CONFIG_HOME")));
        QCoreApplication::setOrganizationName(QStringLiteral("tamPOD"));
        QCoreApplication::setApplicationName(QStringLiteral("tamPOD"));
        QDir().mkpath(music);
        QDir().mkpath(out);

        launch();
        QApplication::setActiveWindow(window);
        pumpUntil([&] { return QApplication::activeWindow() == window; });
    }
    // The application started with no files, its alerts recorded.
    void launch()
    {
        auto recorder = std::make_unique<AlertRecorder>();
        alerts = recorder.get();
        app = std::make_unique<Application>(std::move(recorder));
        app->start({});
        window = app->mainWindow();
    }
    // The application launched again, as the user would start it the next time.
    void relaunch()
    {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        launch();
    }
    ~Journey() override
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QDialog *>(widget) && widget->isVisible())
                static_cast<QDialog *>(widget)->reject();
        }
        for (const AlertRecorder::Shown &alert : alerts->shown)
            ADD_FAILURE() << "alert: " << alert.title.toStdString() << ": " << alert.message.toStdString() << " "
                          << alert.details.join(u'|').toStdString();
        // The player's commands reach their end first, as they do before a user quits: one
        // still waiting for the engine when everything goes would never end.
        pumpUntil([&] { return player().commands().lastCommand().isFinished(); });
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    PlayerModel &player() const { return app->player(); }
    LibraryTable &table() const { return *window->findChild<LibraryTable *>(); }
    QStringList rowNames() const
    {
        QStringList names;
        for (int i = 0; i < table().tableModel()->rowCount(); ++i)
            names << table().tableModel()->row(i).name;
        return names;
    }

    // "Open Audio…", the path typed into the open panel; waits for rows rows, as long as the
    // import of a folder may take on a busy machine.
    void open(const QString &path, int rows)
    {
        app->commands()->openAudioAction()->trigger();
        ASSERT_TRUE(answerNextPanel(path));
        ASSERT_TRUE(pumpUntil([&] { return table().tableModel()->rowCount() == rows; }))
            << rowNames().join(u',').toStdString();
        // A window manager gives the main window back its activation once the panel has gone;
        // the offscreen platform does not.
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == window; }))
            << (QApplication::activeWindow() ? QApplication::activeWindow()->metaObject()->className() : "none")
            << " " << window->isVisible() << window->isMinimized() << window->isActiveWindow();
    }

    // The sheet on the main window now, else null.
    static SheetDialog *sheet() { return shownWindow<SheetDialog>(); }
    static SheetDialog *awaitSheet() { return awaitWindow<SheetDialog>(); }
    // The export sheet, opened by the main window's EXPORT button; null when it never came.
    SheetDialog *openExportSheet() const { return press(window, QStringLiteral("EXPORT")) ? awaitSheet() : nullptr; }
    // The settings window's view, opened by its menu command; null when it never came.
    ExportSettingsView *openSettings() const
    {
        app->commands()->settingsAction()->trigger();
        ExportSettingsView *settings = nullptr;
        pumpUntil([&] {
            QWidget *shown = app->windows().window(WindowId::settings);
            return shown && (settings = shown->findChild<ExportSettingsView *>()) != nullptr;
        });
        return settings;
    }

    // Whether shown (a window or a sheet) came to rest placed on its frame, as its placement
    // tells: fitted and placed again on every new frame the window manager gave it, however late.
    // Where there is an X server, the program's word holds only where the server agrees: the
    // window is shown in its frame, where the program has it, with the frame the program counts.
    static bool awaitPlaced(const QWidget *shown) { return awaitPlaced(QList<const QWidget *>{shown}); }
    // Whether every one of shown came to rest placed, all waited for at once.
    static bool awaitPlaced(const QList<const QWidget *> &shown)
    {
        const auto agreed = [&] {
            return std::all_of(shown.begin(), shown.end(), [](const QWidget *one) { return serverAgrees(one); });
        };
        for (int round = 0; round < 20; ++round) {
            if (!awaitPlacedWord(shown))
                return false;
            // The server may be ahead of the events the program has taken in: a while for them,
            // as long as the program keeps its word.
            QDeadlineTimer grace(std::chrono::seconds(3));
            while (!agreed() && !grace.hasExpired() && allPlaced(shown))
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (agreed())
                return true;
            if (allPlaced(shown)) {
                for (const QWidget *one : shown) {
                    if (!serverAgrees(one))
                        std::cerr << "said placed, but the X server disagrees: " << placementState(one) << std::endl;
                }
                return false;
            }
        }
        return false;
    }
    static bool allPlaced(const QList<const QWidget *> &shown)
    {
        return std::all_of(shown.begin(), shown.end(), [](const QWidget *one) {
            const auto *placement = one ? one->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly)
                                        : nullptr;
            return placement && placement->isPlaced();
        });
    }
    // Whether the X server holds shown as the program does: mapped in its frame (where a window
    // manager runs, managed, and reparented or its frame's extents announced), its client area
    // where the program has it and its frame of the margins the program counts, and those the
    // window manager announced. Always true off X.
    static bool serverAgrees(const QWidget *shown)
    {
        if (!FramePlacement::framesWindows())
            return true;
        const ServerWindow server = serverWindow(shown);
        const QMargins around(server.client.left() - server.frame.left(), server.client.top() - server.frame.top(),
                              server.frame.right() - server.client.right(),
                              server.frame.bottom() - server.client.bottom());
        // (A window manager announces a new frame's extents before or after it makes the frame.)
        return server.framed() && server.client == shown->geometry() && around == ScreenFit::frameMargins(shown)
               && (!server.extentsAnnounced || server.extents == around);
    }
    // The program's word that every one of shown came to rest placed.
    static bool awaitPlacedWord(const QList<const QWidget *> &shown)
    {
        QList<const FramePlacement *> placements;
        for (const QWidget *one : shown) {
            const auto *placement = one ? one->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly)
                                        : nullptr;
            if (!placement)
                return false;
            placements << placement;
        }
        const auto allPlaced = [&] {
            return std::all_of(placements.begin(), placements.end(), [](auto *p) { return p->isPlaced(); });
        };
        // Each comes to rest with its placed signal; the last of them ends the wait.
        bool signalled = allPlaced();
        QList<QMetaObject::Connection> connections;
        for (const FramePlacement *placement : placements)
            connections << QObject::connect(placement, &FramePlacement::placed, [&] { signalled = allPlaced(); });
        pumpUntil([&] { return signalled && allPlaced(); });
        for (const auto &connection : connections)
            QObject::disconnect(connection);
        if (allPlaced())
            return true;
        for (const QWidget *one : shown)
            std::cerr << placementState(one) << std::endl;
        return false;
    }
    // Whether the X server holds shown's frame wholly on screen, with the named buttons of it
    // whole in sight there.
    static bool wholeOnScreen(const QWidget *shown, const QRect &screen, const QStringList &buttons = {})
    {
        const ServerWindow server = serverWindow(shown);
        const QRect frame = FramePlacement::framesWindows() ? server.frame : ScreenFit::frameGeometry(shown);
        const QPoint client = FramePlacement::framesWindows() ? server.client.topLeft() : shown->geometry().topLeft();
        if (!screen.contains(frame))
            return false;
        for (const QString &name : buttons) {
            const QAbstractButton *found = button(shown, name);
            if (!found || !wholeInSight(found) || !screen.contains(QRect(client + found->mapTo(shown, QPoint()), found->size())))
                return false;
        }
        return true;
    }
    // Where the X server has shown's frame, for a failure's message.
    static std::string frameOf(const QWidget *shown)
    {
        const QRect frame = FramePlacement::framesWindows() ? serverWindow(shown).frame : ScreenFit::frameGeometry(shown);
        return shown->windowTitle().toStdString() + " at " + std::to_string(frame.x()) + "," + std::to_string(frame.y())
               + " " + std::to_string(frame.width()) + "x" + std::to_string(frame.height());
    }

    // Moves window's client area to topLeft as another program moves it (as xdotool's
    // windowmove does): a request to the X server, which a window manager carries out.
    static void moveAsTheUser(const QWidget *window, QPoint topLeft);
    // What a window's placement and the X server say of it, for a failure's message: a window
    // the window manager never took on is unmapped, with no parent frame and no WM_STATE.
    static std::string placementState(const QWidget *shown)
    {
        const auto *placement = shown->findChild<FramePlacement *>(QString(), Qt::FindDirectChildrenOnly);
        const QWindow *handle = shown->windowHandle();
        QString text;
        QDebug(&text).nospace() << shown->windowTitle() << " at " << shown->geometry() << " margins "
                                << (handle ? handle->frameMargins() : QMargins()) << " exposed "
                                << (handle && handle->isExposed()) << " settled " << placement->isSettled()
                                << " following " << placement->isFollowing() << " placed " << placement->isPlaced();
        if (FramePlacement::framesWindows() && handle) {
            text += QString::fromStdString("\nthe X server: " + serverWindow(shown).text());
            const ProgramRun server = runProgram(
                QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("xwininfo -children -id %1 | grep 'Parent window'; "
                                                                           "xwininfo -id %1 | grep 'Map State'; xprop -id %1 WM_STATE")
                                                                .arg(handle->winId())});
            text += u'\n' + QString::fromLocal8Bit(server.output);
        }
        return text.toStdString();
    }

    // The visible button in root named name by its text or its accessible name.
    static QAbstractButton *button(const QWidget *root, const QString &name)
    {
        for (QAbstractButton *candidate : root->findChildren<QAbstractButton *>()) {
            if (candidate->isVisible() && (candidate->text() == name || candidate->accessibleName() == name))
                return candidate;
        }
        return nullptr;
    }
    // Clicks the button once it is there and enabled; false when it never was.
    static bool press(const QWidget *root, const QString &name)
    {
        QAbstractButton *found = nullptr;
        if (!pumpUntil([&] { return (found = button(root, name)) && found->isEnabled(); }))
            return false;
        found->click();
        return true;
    }

    // A choice made in a picker: its list item clicked.
    static bool choose(QComboBox *picker, const QString &tag)
    {
        const int index = picker ? picker->findData(tag) : -1;
        if (index < 0)
            return false;
        picker->setCurrentIndex(index);
        Q_EMIT picker->activated(index);
        return true;
    }

    static void click(QWidget *widget, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, modifiers);
        QApplication::sendEvent(widget, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            modifiers);
        QApplication::sendEvent(widget, &release);
    }
    QRect cell(int row, int column) const
    {
        return table().visualRect(table().tableModel()->index(row, column));
    }
    void clickCell(int row, int column, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        click(table().viewport(), cell(row, column).center(), modifiers);
    }

    // The batch sheet's row states shown now, top to bottom.
    static QStringList rowStates(const QWidget *sheet)
    {
        QStringList states;
        for (const QLabel *label : sheet->findChildren<QLabel *>()) {
            for (const QString state : {"Waiting", "Exporting", "Saved", "Failed", "Cancelled", "Not exported"}) {
                if (label->isVisible() && label->text() == state)
                    states << state;
            }
        }
        return states;
    }

    // Files in folder, by name.
    static QStringList filesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    TempDir root;
    const QString music = root.file(QStringLiteral("music"));
    const QString out = root.file(QStringLiteral("out"));
    AlertRecorder *alerts = nullptr;
    std::unique_ptr<Application> app;
    MainWindow *window = nullptr;
};

// A 16-bit WAV of a quiet two-tone sine.
void writeTone(const QString &path, double seconds, int channels = 2, int rate = 44100);
// A mono SD2 channel file as a recorder leaves it: headerless big-endian 16-bit samples, its
// parameters in the resource fork.
void writeSD2Channel(const QString &path, std::int64_t frames);
// Frames of an audio file as our reader decodes it; -1 when it does not decode.
std::int64_t decodedFrames(const QString &path);

} // namespace tampod::test
