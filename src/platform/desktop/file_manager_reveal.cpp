#include "platform/desktop/file_manager_reveal.h"

#include "core/native_path.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

namespace tampod {

void FileManagerReveal::showItems(const QList<QUrl> &urls, std::function<void()> unreached)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (urls.isEmpty() || !bus.isConnected()) {
        if (unreached)
            unreached();
        return;
    }
    QStringList uris;
    for (const QUrl &url : urls) {
        // A name that is not UTF-8 travels as its own bytes, percent-encoded.
        uris.append(url.isLocalFile() ? QString::fromLatin1(fileUrlBytes(url.toLocalFile()))
                                      : url.toString(QUrl::FullyEncoded));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // A file manager started by the call may take a moment; the reply only tells whether it came.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [unreached = std::move(unreached)](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         if (finished->isError() && unreached)
                             unreached();
                     });
}

} // namespace tampod
