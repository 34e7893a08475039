#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include "core/lock_file.h"

#include <chrono>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace tampod {

// One tamPOD per user: a second launch hands its documents to the running one over a local
// socket in the user's private runtime folder and exits. Which launch runs is settled by a lock
// file beside the socket, taken before the instance listens, so two launches at the same moment
// never both run. thread: main only.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Forwarding {
        noInstance, // nobody listens: this launch is the instance
        delivered,  // the running instance took the documents
        failed,     // an instance answers the connection but did not take them
    };

    enum class Claim {
        instance,  // this launch holds the claim and listens: it runs
        delivered, // another launch holds it and took the documents
        failed,    // another holds it and did not take them in time
    };

    // The largest message a launch may send, and how long a sender may take.
    static constexpr qsizetype maximumMessage = 4 * 1024 * 1024;
    static constexpr std::chrono::milliseconds timeout{5000};
    // How long a launch that lost the claim waits for the instance to take its documents: the
    // instance answers once it has started, which a loaded machine may make slow.
    static constexpr std::chrono::milliseconds patience{60000};

    explicit SingleInstance(QString serverName = defaultServerName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultServerName();

    // Takes the claim and listens, or hands documents (possibly none: the window just comes
    // forward) to the launch that holds it, waiting for it to listen and answer. A launch that
    // holds the claim keeps it until it ends.
    Claim claim(const QList<QUrl> &documents);
    // Hands documents to a running instance.
    Forwarding forward(const QList<QUrl> &documents, std::chrono::milliseconds answerTimeout = timeout) const;
    // Starts receiving later launches' documents; false when the name cannot be taken.
    bool listen();
    // Received documents wait until the instance is ready for them; from here on they are
    // handed on as they come, the waiting ones first.
    void startDelivering();

    // The message: a header line, one encoded file URL per line, an empty line.
    static QByteArray encode(const QList<QUrl> &documents);
    // The local file URLs of a complete message, in order; none when it is incomplete or not
    // a message at all. Lines that are not absolute local file URLs are left out.
    static std::optional<QList<QUrl>> decode(const QByteArray &message);

Q_SIGNALS:
    void documentsReceived(const QList<QUrl> &documents);

private:
    enum class LockState { taken, heldElsewhere, unusable };

    LockState takeLock();
    bool answers() const;
    void accept();
    void receive(const QList<QUrl> &documents);

    QString serverName_;
    QLocalServer *server_ = nullptr;
    std::optional<LockFile> lock_;
    QList<QList<QUrl>> waiting_;
    bool delivering_ = false;
};

// The file arguments of the process as file URLs, relative paths taken from folder.
QList<QUrl> documentArguments(const QStringList &arguments, const QString &folder);

} // namespace tampod
