#include "app/application.h"

#include "app/bounded_release.h"

#include "windows/main_window.h"
#include "views/refresh_scheduler.h"
#include "windows/secondary_windows.h"
#include "windows/tampod_commands.h"
#include "windows/window_placement.h"
#include "windows/window_texts.h"

#include "platform/output/audio_output.h"

#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

namespace tampod {

Application::Application(std::unique_ptr<AlertPresenting> alerts, QObject *parent)
    : QObject(parent)
    , alerts_(alerts ? std::move(alerts)
                     : std::make_unique<WarningPresenter>([this]() -> QWidget * { return mainWindow(); }))
    , delegate_(*alerts_)
    , preferences_(settings_)
{
    windows_.add(WindowId::main, [this] { return makeMainWindow(); });
    windows_.add(WindowId::settings, [] { return makeSettingsWindow(); });
    windows_.add(WindowId::about, [this] {
        QWidget *window = makeAboutWindow();
        WindowPlacement::attach(window, WindowId::about, settings_);
        return window;
    });
    windows_.add(WindowId::manual, [this] {
        QWidget *window = makeManualWindow();
        WindowPlacement::attach(window, WindowId::manual, settings_);
        return window;
    });
}

Application::~Application() = default;

MainWindow *Application::mainWindow() const
{
    return qobject_cast<MainWindow *>(windows_.window(WindowId::main));
}

QWidget *Application::makeMainWindow()
{
    auto *window = new MainWindow;
    TamPodCommands::Handlers handlers;
    handlers.openWindow = [this](const QString &id) { windows_.open(id); };
    handlers.openFiles = [] {};
    handlers.restoreSelectedFileAccess = [] {};
    handlers.quit = [this] { quit(); };
    handlers.selectedTrack = [] { return std::optional<AudioTrack>(); };
    commands_ = new TamPodCommands(window->menuBar(), std::move(handlers), showsAdvancedSD2_.binding(), window);
    window->bindAdvancedSD2(showsAdvancedSD2_.binding());
    window->setCloseRequestHandler([this] { requestClose(); });

    // Centred until the user has placed it.
    window->adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    WindowPlacement::attach(window, WindowId::main, settings_);

    connect(window, &MainWindow::windowReady, this, [this](MainWindow *ready) {
        delegate_.windowReady(this, ready, [](const QList<QUrl> &) {});
    });
    return window;
}

void Application::start(const QList<QUrl> &documents)
{
    AudioOutput::warmUp();
    if (!documents.isEmpty())
        delegate_.open(documents);
    windows_.open(WindowId::main);
    QTimer::singleShot(0, this, [this] { delegate_.applicationDidFinishLaunching(); });
}

void Application::openDocuments(const QList<QUrl> &documents)
{
    delegate_.open(documents);
}

void Application::requestClose()
{
    // The main window never closes by itself; "Quit" ends the application, nothing asks again.
    if (!quitting_ && alerts_->confirmQuit())
        quit();
}

void Application::quit()
{
    if (quitting_)
        return;
    quitting_ = true;
    delegate_.applicationWillTerminate();
    QCoreApplication::exit(0);
}

bool Application::shutdown()
{
    // Cancel every job and stop playback, then let the actors finish their current step.
    windows_.closeAll();
    return releaseWithin(std::exchange(services_, {}), shutdownBound);
}

} // namespace tampod
