#pragma once

#include "windows/tampod_menu_policy.h"

#include "files/temporary_audio_cleanup.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace tampod {

class AlertPresenting;
class FileAccessLease;
class MainWindow;

// Receives the documents the desktop asks tamPOD to open, keeps them until the main window and
// the player are there, and then imports them batch by batch, in arrival order. At launch it
// installs the menu policy, cleans what earlier launches left behind (telling the user about
// interrupted split-channel exports) and sets the icon; at termination it uninstalls the
// policy. thread: main only.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Imports one batch into the library, selecting its first new track.
    using ImportDocuments = std::function<void(const QList<QUrl> &urls)>;
    using Cleanup = std::function<QCoro::Task<std::optional<TemporaryAudioCleanup::Report>>()>;

    explicit AppDelegate(AlertPresenting &alerts, QObject *parent = nullptr);
    ~AppDelegate() override;

    // An open request: one batch, possibly empty.
    void open(const QList<QUrl> &urls);
    // The main window is attached to its content: deliver what waited.
    void windowReady(QObject *player, MainWindow *window, ImportDocuments importDocuments);

    // cleanup: the launch cleanup (TemporaryAudioCleanup::cleanAbandoned unless a test
    // gives another). Its task is not kept and nothing waits for it.
    void applicationDidFinishLaunching(Cleanup cleanup = {});
    void applicationWillTerminate();

    TamPodMenuPolicy &menuPolicy() { return menuPolicy_; }
    int pendingBatches() const { return int(pendingOpens_.size()); }

Q_SIGNALS:
    // The launch cleanup has ended (with its report, if any); for tests and diagnostics.
    void launchCleanupFinished();

private:
    using Batch = QList<std::shared_ptr<FileAccessLease>>;

    void deliverPendingOpens();
    QCoro::Task<> cleanUp(Cleanup cleanup);

    AlertPresenting &alerts_;
    QPointer<QObject> player_;        // thread: main; weak
    QPointer<MainWindow> mainWindow_; // thread: main; weak
    ImportDocuments importDocuments_;
    QList<Batch> pendingOpens_;       // thread: main
    TamPodMenuPolicy menuPolicy_;
};

} // namespace tampod
