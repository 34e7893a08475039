#pragma once

#include "app/app_delegate.h"
#include "app/settings_file.h"

#include "views/kit/binding.h"
#include "views/main/warning_presenter.h"
#include "windows/tampod_commands.h"
#include "windows/window_registry.h"

#include "export/export_preferences.h"
#include "player/player_model.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QUrl>

#include <chrono>
#include <memory>
#include <vector>


namespace tampod {

class MainWindow;

// The composition root: builds the services and the models in start-up order, declares the
// four windows, and takes the application down again. thread: main only.
class Application : public QObject {
    Q_OBJECT

public:
    // How long shutdown waits for the workers to finish their current step.
    static constexpr std::chrono::milliseconds shutdownBound{3000};

    // alerts: where questions and warnings go (the application's own alerts unless given).
    explicit Application(std::unique_ptr<AlertPresenting> alerts = nullptr, QObject *parent = nullptr);
    ~Application() override;

    // Opens the main window with the documents of the command line, then finishes launching
    // on the first turn of the event loop.
    void start(const QList<QUrl> &documents);
    // A later open request (a second launch's documents).
    void openDocuments(const QList<QUrl> &documents);
    // Ends the application without asking: stops the work and leaves the event loop.
    void quit();
    // After the event loop: cancels and joins the workers within shutdownBound. False when
    // some did not finish in time.
    bool shutdown();

    WindowRegistry &windows() { return windows_; }
    AppDelegate &delegate() { return delegate_; }
    ExportPreferences &preferences() { return preferences_; }
    PlayerModel &player() { return *player_; }
    ObservableFlag &showsAdvancedSD2() { return showsAdvancedSD2_; }
    MainWindow *mainWindow() const;
    TamPodCommands *commands() const { return commands_; }

private:
    QWidget *makeMainWindow();
    void requestClose();

    SettingsFile settingsFile_;
    QSettings &settings_;
    std::unique_ptr<AlertPresenting> alerts_;
    AppDelegate delegate_;
    ExportPreferences preferences_;
    // The actors behind the model; the last references are dropped at shutdown, within a bound.
    std::vector<std::shared_ptr<void>> services_;
    std::unique_ptr<PlayerModel> player_;
    ObservableFlag showsAdvancedSD2_;
    WindowRegistry windows_;
    QPointer<TamPodCommands> commands_;
    bool quitting_ = false; // thread: main
};

} // namespace tampod
