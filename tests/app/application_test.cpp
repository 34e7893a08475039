#include "alert_recorder.h"
#include "silent_wav.h"

#include "app/application.h"
#include "app/settings_file.h"
#include "app/single_instance.h"

#include "views/kit/controls/hardware_button.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/kit/dialogs/alert_dialog.h"
#include "views/main/content_view.h"
#include "views/main/warning_presenter.h"
#include "views/main/transport_view.h"
#include "views/settings/export_settings_view.h"
#include "views/waveform/waveform_view.h"
#include "windows/main_window.h"
#include "windows/tampod_commands.h"
#include "windows/window_texts.h"

#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tampod;

namespace {

// Every per-user place of this process (settings, the store, the instance socket) in folder.
void isolate(const test::TempDir &folder)
{
    for (const char *variable : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        const QString path = folder.file(QString::fromLatin1(variable));
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(variable, QFile::encodeName(path));
    }
}

QStringList names(const PlayerModel &player)
{
    QStringList list;
    for (const AudioTrack &track : player.tracks())
        list.append(track.projectedURL().fileName());
    return list;
}

} // namespace

TEST(Application, OpensItsDocumentsAndThoseOfASecondLaunch)
{
    test::TempDir folder;
    isolate(folder);
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        test::writeFile(folder.file(QString::fromLatin1(name)), test::wav());

    Application app(std::make_unique<test::AlertRecorder>());
    SingleInstance instance;
    ASSERT_TRUE(instance.listen());
    QObject::connect(&instance, &SingleInstance::documentsReceived, &app, &Application::openDocuments);
    instance.startDelivering();
    app.start({QUrl::fromLocalFile(folder.file(QStringLiteral("a.wav"))),
               QUrl::fromLocalFile(folder.file(QStringLiteral("b.wav")))});
    PlayerModel &player = app.player();
    ASSERT_TRUE(test::pumpUntil([&] { return player.tracks().size() == 2 && player.selectedID(); }));
    EXPECT_EQ(names(player), (QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav")}));
    EXPECT_EQ(*player.selectedID(), player.tracks().first().id);
    // The menus' policy comes once launching has finished, on a later turn than the import.
    EXPECT_TRUE(test::pumpUntil([&] { return app.delegate().menuPolicy().isInstalled(); }));

    // The waveform band shows the selected file's overview, at the content's scale.
    auto *content = qobject_cast<ContentView *>(app.mainWindow()->centralWidget());
    ASSERT_NE(content, nullptr);
    auto *pane = qobject_cast<WaveformView *>(content->waveformPane());
    ASSERT_NE(pane, nullptr);
    EXPECT_NEAR(pane->width(), WaveformView::designSize.width() * content->scale(), 1);
    EXPECT_TRUE(test::pumpUntil([&] { return !pane->statusText(); }));

    // A second launch, the way a file manager starts one: relative names, its own folder.
    MainWindow *window = app.mainWindow();
    window->showMinimized();
    QProcess second;
    second.setWorkingDirectory(folder.path());
    second.start(QStringLiteral(TAMPOD_EXECUTABLE), {QStringLiteral("c.wav")});
    ASSERT_TRUE(test::pumpUntil([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(test::pumpUntil([&] { return player.tracks().size() == 3; }));
    EXPECT_EQ(names(player).last(), QStringLiteral("c.wav"));
    EXPECT_EQ(*player.selectedID(), player.tracks().last().id);
    EXPECT_FALSE(window->isMinimized());

    // The menu follows the model: a selected WAV can have its access restored, no SD2 tools.
    ASSERT_TRUE(test::pumpUntil([&] { return app.commands()->restoreFileAccessAction()->isEnabled(); }));
    EXPECT_FALSE(app.commands()->advancedSD2Action()->isEnabled());
}

TEST(Application, ClosingAsksAndQuitEndsWithoutAskingAgain)
{
    test::TempDir folder;
    isolate(folder);
    auto recorder = std::make_unique<test::AlertRecorder>();
    test::AlertRecorder &alerts = *recorder;
    Application app(std::move(recorder));
    app.start({});
    MainWindow *window = app.mainWindow();
    ASSERT_NE(window, nullptr);

    window->close(); // "Cancel"
    EXPECT_EQ(alerts.quitQuestions, 1);
    EXPECT_TRUE(window->isVisible());

    alerts.quitAnswer = true;
    QTimer::singleShot(0, window, [window] { window->close(); });
    QTimer::singleShot(test::hangGuard, qApp, [] { QApplication::exit(1); }); // never hang the suite
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(alerts.quitQuestions, 2);
    // Quitting again, as the menu's Quit would, asks nothing more.
    app.quit();
    EXPECT_EQ(alerts.quitQuestions, 2);
    EXPECT_FALSE(app.delegate().menuPolicy().isInstalled());
    EXPECT_TRUE(app.shutdown());
}

TEST(Application, SettingsWindowStartsFromTheStoredDefaultsEachTime)
{
    test::TempDir folder;
    isolate(folder);
    Application app(std::make_unique<test::AlertRecorder>());
    QPointer<QWidget> window = app.windows().open(WindowId::settings);
    auto *view = window->findChild<ExportSettingsView *>();
    ExportDefaults edited = view->draft();
    edited.format = ExportFormat::flac;
    view->setDraft(edited);
    window->close();
    EXPECT_TRUE(test::pumpUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.isNull();
    }));
    view = app.windows().open(WindowId::settings)->findChild<ExportSettingsView *>();
    EXPECT_EQ(view->draft(), ExportDefaults());
}

TEST(Application, PlayIsNotLitWhileTheMissingFileAlertIsUp)
{
    test::TempDir folder;
    isolate(folder);
    for (const char *name : {"a.wav", "b.wav"})
        test::writeFile(folder.file(QString::fromLatin1(name)), test::wav());

    // The real alerts, read as each comes up, answered at once.
    QStringList seen;
    std::function<QString()> readPlay;
    auto alerts = std::make_unique<WarningPresenter>(WarningPresenter::ParentWindow{}, [&](AlertDialog &alert) {
        seen << alert.title() + QStringLiteral(": ") + readPlay();
        return 0;
    });
    Application app(std::move(alerts));
    app.start({QUrl::fromLocalFile(folder.file(QStringLiteral("a.wav"))),
               QUrl::fromLocalFile(folder.file(QStringLiteral("b.wav")))});
    PlayerModel &player = app.player();
    ASSERT_TRUE(test::pumpUntil([&] { return player.tracks().size() == 2 && player.selectedID(); }));
    auto *content = qobject_cast<ContentView *>(app.mainWindow()->centralWidget());
    ASSERT_NE(content, nullptr);
    HardwareButton *play = content->transport()->button(TransportGlyph::Symbol::play);
    readPlay = [play] { return accessibleValue(play); };
    ASSERT_TRUE(test::pumpUntil([&] { return play->isEnabled(); }));

    ASSERT_TRUE(QFile::remove(folder.file(QStringLiteral("b.wav"))));
    const QUuid b = player.tracks().last().id;
    player.playTrack(b);
    ASSERT_TRUE(test::pumpUntil([&] { return !seen.isEmpty(); }));
    player.play();
    ASSERT_TRUE(test::pumpUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen.join(QStringLiteral(" | ")).toStdString(), "Audio file is missing: Off | Audio file is missing: Off");
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(accessibleValue(play), QStringLiteral("Off"));
    EXPECT_TRUE(app.shutdown());
}

// Whether frame lies on area, or, along an axis where it is larger, starts at area's edge.
::testing::AssertionResult onScreen(const QRect &frame, const QRect &area)
{
    const bool across = frame.width() > area.width() ? frame.left() == area.left()
                                                     : frame.left() >= area.left() && frame.right() <= area.right();
    const bool down = frame.height() > area.height() ? frame.top() == area.top()
                                                     : frame.top() >= area.top() && frame.bottom() <= area.bottom();
    if (across && down)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                         << frame.height() << " is off " << area.width() << "x" << area.height();
}

TEST(Application, SettingsAboutAndManualFirstOpenCentredOnTheMainWindowAndOnScreen)
{
    test::TempDir folder;
    isolate(folder);
    Application app(std::make_unique<test::AlertRecorder>());
    app.start({});
    QWidget *main = app.mainWindow();
    ASSERT_NE(main, nullptr);
    QPointer<QWidget> settings = app.windows().open(WindowId::settings);
    const QRect area = settings->screen()->availableGeometry();
    EXPECT_NEAR(settings->frameGeometry().center().x(), main->frameGeometry().center().x(), 1);
    EXPECT_NEAR(settings->frameGeometry().center().y(), main->frameGeometry().center().y(), 1);
    EXPECT_TRUE(onScreen(settings->frameGeometry(), area));
    settings->close();
    ASSERT_TRUE(test::pumpUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return settings.isNull();
    }));

    // Centred on a main window that hangs off the bottom right, each would leave the screen.
    main->move(area.bottomRight() - QPoint(150, 100));
    ASSERT_TRUE(test::pumpUntil([&] { return main->frameGeometry().top() > area.bottom() - 150; }));
    for (const QString &id : {WindowId::settings, WindowId::about, WindowId::manual}) {
        const QWidget *window = app.windows().open(id);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(onScreen(window->frameGeometry(), area)) << id.toStdString();
    }
    EXPECT_TRUE(app.shutdown());
}

// A FIFO at the settings file's path: nothing opens it (that would block), the settings start
// from the defaults, every save is refused, and the FIFO stays as it was.
TEST(Application, SettingsThatAreNotARegularFileAreRefusedWithoutOpeningThem)
{
    test::TempDir folder;
    const QString fifo = folder.file(QStringLiteral("settings.conf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    SettingsFile file(fifo);
    EXPECT_TRUE(file.isRefused());
    EXPECT_TRUE(file.settings().allKeys().isEmpty());
    file.settings().setValue(QStringLiteral("key"), 1);
    file.settings().sync();
    EXPECT_NE(file.settings().status(), QSettings::NoError);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    // A regular file, or none yet, is the store itself.
    SettingsFile regular(folder.file(QStringLiteral("regular.conf")));
    EXPECT_FALSE(regular.isRefused());
    regular.settings().setValue(QStringLiteral("key"), 1);
    regular.settings().sync();
    EXPECT_EQ(regular.settings().status(), QSettings::NoError);
    EXPECT_TRUE(QFileInfo(folder.file(QStringLiteral("regular.conf"))).isFile());
}

// The whole application with a FIFO where its settings file goes: it still comes up and takes
// a later launch's request.
TEST(Application, StartsWhenItsSettingsPathIsAFifo)
{
    test::TempDir folder;
    isolate(folder);
    const QString settings = folder.file(QStringLiteral("XDG_CONFIG_HOME/tamPOD"));
    ASSERT_TRUE(QDir().mkpath(settings));
    ASSERT_EQ(::mkfifo(QFile::encodeName(settings + QStringLiteral("/tamPOD.conf")).constData(), 0600), 0);

    QProcess first;
    first.start(QStringLiteral(TAMPOD_EXECUTABLE), {});
    SingleInstance instance;
    const bool answered = test::pumpUntil(
        [&] { return instance.forward({}) == SingleInstance::Forwarding::delivered; });
    first.kill();
    first.waitForFinished();
    EXPECT_TRUE(answered) << "the first launch never listened: it hangs opening its settings";
}
