#include "app/single_instance.h"

#include "app/app_texts.h"

#include "concurrency/thread_role.h"
#include "core/native_path.h"
#include "core/outside_file_url.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace tampod {

namespace {

const QByteArray header = QByteArrayLiteral("tamPOD open 2\n");
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");
const QByteArray confirmation = QByteArrayLiteral("go\n");
constexpr qsizetype longestAnswer = 16;
const QByteArray socketName = QByteArrayLiteral("tampod-instance");
const QByteArray lockName = QByteArrayLiteral("tampod-instance.lock");

// A file on this machine: other hosts' file URLs name nothing we could open.
bool isLocalFile(const QUrl &url)
{
    return url.isLocalFile() && (url.host().isEmpty() || url.host() == QStringLiteral("localhost"));
}

} // namespace

SingleInstance::SingleInstance(std::optional<PrivateFolder> folder, std::chrono::milliseconds patienceLimit,
                               Say say, QObject *parent)
    : QObject(parent)
    , folder_(std::move(folder))
    , socketPath_(folder_ ? folder_->pathOf(socketName) : QString())
    , patience_(patienceLimit)
    , say_(say ? std::move(say) : Say([](const QString &line) {
        std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }))
{
}

std::optional<PrivateFolder> SingleInstance::meetingFolder()
{
    // Qt answers empty for a runtime folder that is not the user's; ours is checked again on
    // its descriptor.
    if (const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation); !runtime.isEmpty()) {
        if (auto folder = PrivateFolder::open(runtime))
            return folder;
    }
    return PrivateFolder::open(PrivateFolder::pathForUser(QDir::tempPath(), QStringLiteral("tampod")), true);
}

SingleInstance::~SingleInstance()
{
    // The name goes before the claim: a launch that takes the claim next finds nobody listening.
    // Both go before the folder, through whose descriptor they are reached.
    delete server_;
    lock_.reset();
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

// A connection's state on the instance's side: the bytes so far, and the documents of a whole
// message, held until the launch confirms.
struct SingleInstance::Incoming {
    QByteArray bytes;
    std::optional<QList<QUrl>> held;
};

SingleInstance::LockState SingleInstance::takeLock()
{
    try {
        lock_ = LockFile::take(folder_->folder(), lockName);
        return lock_ ? LockState::taken : LockState::heldElsewhere;
    } catch (const SystemError &) {
        return LockState::unusable;
    }
}

bool SingleInstance::answers() const
{
    QLocalSocket probe;
    probe.connectToServer(socketPath_);
    return probe.waitForConnected(500);
}

SingleInstance::Claim SingleInstance::claim(const QList<QUrl> &documents)
{
    if (!folder_)
        return Claim::instance; // nowhere private to meet: run alone, hand nothing to anyone
    noticeAt_.setRemainingTime(noticeDelay);
    noticed_ = false;
    const Claim claimed = settle(documents);
    noticeAt_ = QDeadlineTimer(QDeadlineTimer::Forever);
    if (claimed == Claim::failed)
        say_(LaunchText::notHandedOver);
    else if (claimed == Claim::delivered && noticed_)
        say_(LaunchText::handedOver);
    return claimed;
}

SingleInstance::Claim SingleInstance::settle(const QList<QUrl> &documents)
{
    const QDeadlineTimer deadline(patience_);
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
            // Without a lock the name alone decides, as well as it can; the folder is the
            // user's own, so whoever answers is one of the user's launches.
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
        sayIfWaitingLong();
        if (deadline.hasExpired())
            return Claim::failed;
        QThread::msleep(10);
    }
}

SingleInstance::Forwarding SingleInstance::forward(const QList<QUrl> &documents, std::chrono::milliseconds answerTimeout)
{
    if (socketPath_.isEmpty())
        return Forwarding::noInstance;
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    const QDeadlineTimer connecting(timeout);
    while (socket.state() == QLocalSocket::ConnectingState && !connecting.hasExpired())
        socket.waitForConnected(waitSlice(connecting));
    if (socket.state() != QLocalSocket::ConnectedState)
        return Forwarding::noInstance;
    socket.write(encode(documents));
    // Leaving without the confirmation tells the instance to drop the documents.
    if (awaitLine(socket, QDeadlineTimer(std::max(answerTimeout, std::chrono::milliseconds(1)))) != acknowledgement)
        return Forwarding::failed;
    // Once the confirmation is in the instance's queue the documents are its; an instance that
    // has ended meanwhile refuses the write.
    socket.write(confirmation);
    if (!socket.waitForBytesWritten(int(timeout.count())) || socket.bytesToWrite() > 0)
        return Forwarding::failed;
    return Forwarding::delivered;
}

QByteArray SingleInstance::awaitLine(QLocalSocket &socket, const QDeadlineTimer &deadline)
{
    QByteArray line;
    while (!line.endsWith('\n') && line.size() < longestAnswer) {
        if (socket.bytesAvailable() > 0) {
            line += socket.read(1);
            continue;
        }
        if (socket.state() != QLocalSocket::ConnectedState || deadline.hasExpired())
            break;
        const int wait = waitSlice(deadline);
        if (socket.bytesToWrite() > 0)
            socket.waitForBytesWritten(wait);
        else
            socket.waitForReadyRead(wait);
    }
    return line;
}

int SingleInstance::waitSlice(const QDeadlineTimer &deadline)
{
    sayIfWaitingLong();
    qint64 wait = deadline.remainingTime(); // -1: no deadline
    if (!noticed_ && !noticeAt_.isForever()) {
        const qint64 untilNotice = noticeAt_.remainingTime();
        wait = wait < 0 ? untilNotice : std::min(wait, untilNotice);
    }
    return int(std::clamp<qint64>(wait < 0 ? timeout.count() : wait, 1, timeout.count()));
}

void SingleInstance::sayIfWaitingLong()
{
    if (noticed_ || !noticeAt_.hasExpired())
        return;
    noticed_ = true;
    say_(LaunchText::waiting);
}

bool SingleInstance::listen()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (socketPath_.isEmpty())
        return false;
    if (!server_) {
        // No socket options: with them Qt binds elsewhere and renames over the name, which
        // would silently take it from a running instance. The folder is the user's own.
        server_ = new QLocalServer(this);
        connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
    }
    if (server_->listen(socketPath_))
        return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // A socket nobody answers is what a crashed instance leaves behind.
    if (answers())
        return false;
    QLocalServer::removeServer(socketPath_);
    return server_->listen(socketPath_);
}

void SingleInstance::startDelivering()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    delivering_ = true;
    deliverWaiting();
}

void SingleInstance::receive(const QList<QUrl> &documents)
{
    waiting_.append(documents);
    deliverWaiting();
}

void SingleInstance::deliverWaiting()
{
    if (!delivering_ || waiting_.isEmpty())
        return;
    // The window they bring forward would cover the alert, and their own alerts would pile on it.
    if (QWidget *modal = QApplication::activeModalWidget(); modal && modal->windowModality() == Qt::ApplicationModal) {
        if (heldBy_ != modal) {
            heldBy_ = modal;
            modal->installEventFilter(this);
            connect(modal, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, &SingleInstance::deliverWaiting); });
        }
        return;
    }
    for (const QList<QUrl> &documents : std::exchange(waiting_, {}))
        Q_EMIT documentsReceived(documents);
}

bool SingleInstance::eventFilter(QObject *watched, QEvent *event)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (watched == heldBy_ && event->type() == QEvent::Hide) {
        watched->removeEventFilter(this);
        heldBy_ = nullptr;
        // Once its modal loop has returned.
        QTimer::singleShot(0, this, &SingleInstance::deliverWaiting);
    }
    return QObject::eventFilter(watched, event);
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        auto incoming = std::make_shared<Incoming>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, incoming] { read(*socket, *incoming); });
        connect(socket, &QObject::destroyed, this, [this, incoming] { held_ -= incoming->held.has_value(); });
        // A launch that does not finish its message in time is dropped. Once answered, the
        // documents wait for the launch's word, confirmation or leaving, however long it
        // takes: only the launch knows what it has reported.
        QTimer::singleShot(timeout, socket, [socket, incoming] {
            if (!incoming->held)
                socket->abort();
        });
    }
}

void SingleInstance::read(QLocalSocket &socket, Incoming &incoming)
{
    incoming.bytes += socket.read(maximumMessage + 1 - incoming.bytes.size());
    if (incoming.bytes.size() > maximumMessage) {
        socket.abort();
        return;
    }
    if (!incoming.held) {
        if (!incoming.bytes.endsWith("\n\n"))
            return;
        auto documents = decode(std::exchange(incoming.bytes, {}));
        if (!documents || held_ >= maximumHeld) {
            socket.abort();
            return;
        }
        incoming.held = std::move(documents);
        ++held_;
        socket.write(acknowledgement);
        socket.flush();
        return;
    }
    if (!confirmation.startsWith(incoming.bytes)) {
        socket.abort();
        return;
    }
    if (incoming.bytes != confirmation)
        return;
    const QList<QUrl> documents = *std::exchange(incoming.held, std::nullopt);
    --held_;
    socket.disconnectFromServer();
    receive(documents);
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
