#include "app/application.h"

#include "app/bounded_release.h"

#include "windows/main_window.h"
#include "windows/main_window_content.h"
#include "windows/secondary_windows.h"
#include "windows/tampod_commands.h"
#include "windows/window_position_reader.h"
#include "windows/window_texts.h"

#include "views/kit/dialogs/file_panels.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/accessibility/view_accessibility.h"

#include "bpm/bpm_analysis_service.h"
#include "import/audio_importer.h"
#include "platform/output/audio_output.h"
#include "playback/audio_playback.h"
#include "playback/section_audio_preparer.h"
#include "sd2/sd2_recovery_service.h"

#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

namespace tampod {

Application::Application(std::unique_ptr<AlertPresenting> alerts, QObject *parent)
    : QObject(parent)
    , settings_(settingsFile_.settings())
    , alerts_(alerts ? std::move(alerts)
                     : std::make_unique<WarningPresenter>([this]() -> QWidget * { return mainWindow(); }))
    , delegate_(*alerts_)
    , preferences_(settings_)
{
    // The device probe takes a while; it runs while the rest starts.
    AudioOutput::warmUp();
    // Before any window: every element a screen reader reads, Qt's own widgets' included, is
    // asked of the kit's factory first.
    installAccessibleFactory();
    auto engine = std::make_shared<AudioPlayback>();
    auto importer = std::make_shared<AudioImporter>();
    auto recovery = std::make_shared<SD2RecoveryService>();
    auto sections = std::make_shared<SectionAudioPreparer>();
    services_ = {engine, importer, recovery, sections};
    player_ = std::make_unique<PlayerModel>(engine, importer, recovery, sections, BPMAnalysisService::shared());
    player_->warn = [this](const QString &title, const QString &message, const QStringList &details) {
        alerts_->show(title, message, details);
    };
    player_->recoveryWarning = [this](const SD2RecoveryFailure &failure) { alerts_->showRecovery(failure); };
    player_->confirmRecoveryDepth = [this](int bitDepth) { return alerts_->confirmRecoveryDepth(bitDepth); };
    player_->filePanels = std::make_shared<DialogFilePanels>(settings_, [this]() -> QWidget * { return mainWindow(); });

    // Every window answers the platform's Close command as its close button does.
    const auto add = [this](const QString &id, std::function<QWidget *()> make) {
        windows_.add(id, [make = std::move(make)] {
            QWidget *window = make();
            TamPodCommands::addCloseCommand(window);
            return window;
        });
    };
    add(WindowId::main, [this] { return makeMainWindow(); });
    add(WindowId::settings,
        [this] { return makeSettingsWindow(preferences_, *player_, *alerts_, settings_, mainWindow()); });
    add(WindowId::about, [this] {
        QWidget *window = makeAboutWindow();
        rememberPlacement(window, WindowId::about, settings_, mainWindow());
        return window;
    });
    add(WindowId::manual, [this] {
        QWidget *window = makeManualWindow();
        rememberPlacement(window, WindowId::manual, settings_, mainWindow());
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
    MainWindowContent::install(
        *window, *player_, [this] { windows_.open(WindowId::settings); }, [this] { return preferences_.defaults(); },
        &preferences_);
    TamPodCommands::Handlers handlers;
    handlers.openWindow = [this](const QString &id) { windows_.open(id); };
    handlers.openFiles = [this] { player_->openFiles(); };
    handlers.restoreSelectedFileAccess = [this] { player_->restoreSelectedFileAccess(); };
    handlers.quit = [this] { quit(); };
    handlers.selectedTrack = [this] { return player_->selectedTrack(); };
    commands_ = new TamPodCommands(window->menuBar(), std::move(handlers), showsAdvancedSD2_.binding(), window);
    // A track's record changes (its recovery, its pair) without a new selection.
    commands_->scheduler().watch(player_.get(), &PlayerModel::selectedIDChanged);
    commands_->scheduler().watch(player_.get(), &PlayerModel::tracksChanged);
    window->bindAdvancedSD2(showsAdvancedSD2_.binding());
    window->setCloseRequestHandler([this] { requestClose(); });

    // Centred until the user has placed it.
    window->adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    WindowPositionReader::attach(window, WindowId::main, settings_);

    connect(window, &MainWindow::windowReady, this, [this](MainWindow *ready) {
        QPointer<PlayerModel> player(player_.get());
        delegate_.windowReady(player_.get(), ready, [player](const QList<QUrl> &urls) {
            if (player)
                player->importFiles(urls, true);
        });
    });
    return window;
}

void Application::start(const QList<QUrl> &documents)
{
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
    if (player_)
        player_->clearAll();
    windows_.closeAll();
    player_.reset();
    return releaseWithin(std::exchange(services_, {}), shutdownBound);
}

} // namespace tampod
