#include "app/single_instance.h"

#include "core/native_path.h"
#include "core/outside_file_url.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace tampod {

namespace {

const QByteArray header = QByteArrayLiteral("tamPOD open 1\n");
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");

// A file on this machine: other hosts' file URLs name nothing we could open.
bool isLocalFile(const QUrl &url)
{
    return url.isLocalFile() && (url.host().isEmpty() || url.host() == QStringLiteral("localhost"));
}

} // namespace

SingleInstance::SingleInstance(QString serverName, QObject *parent)
    : QObject(parent)
    , serverName_(std::move(serverName))
{
}

SingleInstance::~SingleInstance()
{
    // The name goes before the claim: a launch that takes the claim next finds nobody listening.
    delete server_;
    lock_.reset();
}

QString SingleInstance::defaultServerName()
{
    // Qt makes the runtime folder private to the user (0700) or refuses it.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("tampod-instance"));
}

QByteArray SingleInstance::encode(const QList<QUrl> &documents)
{
    QByteArray message = header;
    // A file's path travels as its own bytes, percent-encoded, so a name that is not UTF-8
    // arrives unchanged.
    for (const QUrl &url : documents)
        message += (isLocalFile(url) ? fileUrlBytes(url.toLocalFile())
                                     : url.toEncoded(QUrl::FullyEncoded))
                 + '\n';
    return message + '\n';
}

std::optional<QList<QUrl>> SingleInstance::decode(const QByteArray &message)
{
    if (!message.startsWith(header) || message.size() > maximumMessage || !message.endsWith("\n\n"))
        return std::nullopt;
    const QByteArray body = message.sliced(header.size(), message.size() - header.size() - 1);
    QList<QUrl> documents;
    for (const QByteArray &line : body.split('\n')) {
        if (line.isEmpty())
            continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (!url.isValid() || !isLocalFile(url))
            continue;
        const QString path = localPathOf(url);
        if (QDir::isAbsolutePath(path))
            documents.append(QUrl::fromLocalFile(path));
    }
    return documents;
}

SingleInstance::LockState SingleInstance::takeLock()
{
    try {
        lock_ = LockFile::take(serverName_ + QStringLiteral(".lock"));
        return lock_ ? LockState::taken : LockState::heldElsewhere;
    } catch (const SystemError &) {
        return LockState::unusable;
    }
}

bool SingleInstance::answers() const
{
    QLocalSocket probe;
    probe.connectToServer(serverName_);
    return probe.waitForConnected(500);
}

SingleInstance::Claim SingleInstance::claim(const QList<QUrl> &documents)
{
    const QDeadlineTimer deadline(patience);
    for (bool refused = false;;) {
        switch (takeLock()) {
        case LockState::taken:
            // A name that cannot be listened on leaves this launch running alone, as it must;
            // only one that answers (an instance that takes no lock) is handed the documents.
            if (listen() || !answers())
                return Claim::instance;
            lock_.reset();
            break;
        case LockState::unusable:
            // Without a lock the name alone decides, as well as it can.
            if (const Forwarding forwarded = forward(documents); forwarded != Forwarding::noInstance)
                return forwarded == Forwarding::delivered ? Claim::delivered : Claim::failed;
            listen();
            return Claim::instance;
        case LockState::heldElsewhere:
            if (refused)
                return Claim::failed;
            break;
        }
        const auto left = std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0));
        switch (forward(documents, left)) {
        case Forwarding::delivered:
            return Claim::delivered;
        case Forwarding::failed:
            // The holder ended while answering (the lock is free again), or refused.
            refused = true;
            continue;
        case Forwarding::noInstance:
            break; // the holder does not listen yet, or has just ended
        }
        if (deadline.hasExpired())
            return Claim::failed;
        QThread::msleep(10);
    }
}

SingleInstance::Forwarding SingleInstance::forward(const QList<QUrl> &documents,
                                                    std::chrono::milliseconds answerTimeout) const
{
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(int(timeout.count())))
        return Forwarding::noInstance;
    socket.write(encode(documents));
    QByteArray answer;
    const QDeadlineTimer deadline(std::max(answerTimeout, std::chrono::milliseconds(1)));
    while (socket.state() == QLocalSocket::ConnectedState && !answer.endsWith('\n')) {
        if (socket.bytesToWrite() > 0 && !socket.waitForBytesWritten(int(timeout.count())))
            break;
        if (!socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
        answer += socket.read(16);
    }
    answer += socket.readAll();
    return answer.startsWith(acknowledgement) ? Forwarding::delivered : Forwarding::failed;
}

bool SingleInstance::listen()
{
    if (!server_) {
        // No socket options: with them Qt binds elsewhere and renames over the name, which
        // would silently take it from a running instance. The folder is the user's own.
        server_ = new QLocalServer(this);
        connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
    }
    if (server_->listen(serverName_))
        return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // A socket nobody answers is what a crashed instance leaves behind.
    if (answers())
        return false;
    QLocalServer::removeServer(serverName_);
    return server_->listen(serverName_);
}

void SingleInstance::startDelivering()
{
    delivering_ = true;
    for (const QList<QUrl> &documents : std::exchange(waiting_, {}))
        Q_EMIT documentsReceived(documents);
}

void SingleInstance::receive(const QList<QUrl> &documents)
{
    if (delivering_)
        Q_EMIT documentsReceived(documents);
    else
        waiting_.append(documents);
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        auto *buffer = new QByteArray;
        connect(socket, &QObject::destroyed, this, [buffer] { delete buffer; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (buffer->size() > maximumMessage) {
                socket->abort();
                return;
            }
            if (!buffer->endsWith("\n\n"))
                return;
            const auto documents = decode(*buffer);
            buffer->clear();
            if (!documents) {
                socket->abort();
                return;
            }
            socket->write(acknowledgement);
            socket->flush();
            socket->disconnectFromServer();
            receive(*documents);
        });
        // A launch that never finishes its message is dropped.
        QTimer::singleShot(timeout, socket, [socket] { socket->abort(); });
    }
}

QList<QUrl> documentArguments(const QStringList &arguments, const QString &folder)
{
    QList<QUrl> documents;
    const QDir base(folder);
    for (const QString &argument : arguments) {
        if (argument.isEmpty())
            continue;
        if (argument.startsWith(QStringLiteral("file:"))) {
            const QUrl url(argument);
            if (isLocalFile(url))
                documents.append(QUrl::fromLocalFile(QDir::cleanPath(localPathOf(url))));
            continue;
        }
        documents.append(QUrl::fromLocalFile(QDir::cleanPath(base.absoluteFilePath(argument))));
    }
    return documents;
}

} // namespace tampod
