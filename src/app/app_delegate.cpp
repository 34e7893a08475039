#include "app/app_delegate.h"

#include "windows/main_window.h"

#include "views/about/app_identity.h"
#include "views/kit/dialogs/alert_presenting.h"

#include "files/access/file_access_lease.h"
#include "files/split_export_recovery_notice.h"

#include <QApplication>
#include <QIcon>
#include <QMenuBar>
#include <QPixmap>

namespace tampod {

AppDelegate::AppDelegate(AlertPresenting &alerts, QObject *parent)
    : QObject(parent)
    , alerts_(alerts)
    , menuPolicy_([this]() -> QMenuBar * { return mainWindow_ ? mainWindow_->menuBar() : nullptr; })
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::open(const QList<QUrl> &urls)
{
    Batch batch;
    for (const QUrl &url : urls)
        batch.append(std::make_shared<FileAccessLease>(url));
    pendingOpens_.append(std::move(batch));
    deliverPendingOpens();
}

void AppDelegate::windowReady(QObject *player, MainWindow *window, ImportDocuments importDocuments)
{
    player_ = player;
    mainWindow_ = window;
    importDocuments_ = std::move(importDocuments);
    deliverPendingOpens();
}

void AppDelegate::deliverPendingOpens()
{
    if (!player_ || !mainWindow_ || !importDocuments_ || pendingOpens_.isEmpty())
        return;
    const QList<Batch> batches = std::exchange(pendingOpens_, {});
    mainWindow_->bringForward();
    for (const Batch &batch : batches) {
        QList<QUrl> urls;
        for (const auto &lease : batch)
            urls.append(lease->url());
        // The import queue takes its own leases before this batch's go.
        if (!urls.isEmpty())
            importDocuments_(urls);
    }
}

void AppDelegate::applicationDidFinishLaunching(Cleanup cleanup)
{
    menuPolicy_.install();
    cleanUp(cleanup ? std::move(cleanup) : Cleanup(&TemporaryAudioCleanup::cleanAbandoned));
    if (const QImage &icon = AppIdentity::appIcon(); !icon.isNull())
        QApplication::setWindowIcon(QIcon(QPixmap::fromImage(icon)));
}

QCoro::Task<> AppDelegate::cleanUp(Cleanup cleanup)
{
    QPointer<AppDelegate> self(this);
    std::optional<TemporaryAudioCleanup::Report> report;
    try {
        report = co_await cleanup();
    } catch (...) {
        // A cleanup that failed as a whole has nothing to tell; the next launch tries again.
    }
    if (!self)
        co_return;
    if (report) {
        if (const auto notice = SplitExportRecoveryNotice::make(*report))
            alerts_.show(notice->title, notice->message, {});
    }
    // Events ran while the notice was up.
    if (self)
        Q_EMIT self->launchCleanupFinished();
}

void AppDelegate::applicationWillTerminate()
{
    menuPolicy_.uninstall();
}

} // namespace tampod
