#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include "core/lock_file.h"
#include "core/private_folder.h"

#include <chrono>
#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace tampod {

// One tamPOD per user: a second launch hands its documents to the running one over a local
// socket in the user's private folder and exits. Which launch runs is settled by a lock file
// beside the socket, taken before the instance listens, so two launches at the same moment
// never both run. Without a private folder there is no hand-over: every launch runs alone.
//
// A hand-over is settled by the launch alone: the instance answers "ok" to a whole message and
// holds the documents until the launch confirms or goes; a launch that gave up goes without
// confirming, so an instance that was busy meanwhile drops them and never opens what the
// launch reported as not handed over. thread: main only.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Forwarding {
        noInstance, // nobody listens: this launch is the instance
        delivered,  // the running instance took the documents
        failed,     // an instance answers the connection but did not take them
    };

    enum class Claim {
        instance,  // this launch holds the claim (or there is no private folder): it runs
        delivered, // another launch holds it and took the documents
        failed,    // another holds it and did not take them in time
    };

    // Where a launch's notices go (its error output unless a test gives another).
    using Say = std::function<void(const QString &line)>;

    // The largest message a launch may send, how long a sender may take to send it, and how
    // many answered messages may wait for their launch's confirmation at once.
    static constexpr qsizetype maximumMessage = 4 * 1024 * 1024;
    static constexpr int maximumHeld = 32;
    static constexpr std::chrono::milliseconds timeout{5000};
    // How long a launch that lost the claim waits for the instance to take its documents: the
    // instance answers once it has started, which a loaded machine may make slow. A launch
    // that has waited noticeDelay says that it waits.
    static constexpr std::chrono::milliseconds patience{60000};
    static constexpr std::chrono::milliseconds noticeDelay{500};

    explicit SingleInstance(std::optional<PrivateFolder> folder = meetingFolder(),
                            std::chrono::milliseconds patienceLimit = patience, Say say = {},
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // Where this user's launches meet: the runtime folder when Qt and the check accept it, else
    // a folder made for this user in the temporary folder, never the temporary folder itself;
    // none when neither is the user's alone (another user made it first).
    static std::optional<PrivateFolder> meetingFolder();

    // Takes the claim and listens, or hands documents (possibly none: the window just comes
    // forward) to the launch that holds it, waiting for it to listen and answer. A launch that
    // holds the claim keeps it until it ends. A launch that waits says so, and says at the end
    // whether the instance took its documents.
    Claim claim(const QList<QUrl> &documents);
    // Hands documents to a running instance.
    Forwarding forward(const QList<QUrl> &documents, std::chrono::milliseconds answerTimeout = timeout);
    // Starts receiving later launches' documents; false when the name cannot be taken.
    bool listen();
    // Received documents wait until the instance is ready for them; from here on they are
    // handed on as they come, the waiting ones first, except while a modal alert is up: they
    // wait for it to be answered, as the desktop's own open requests do.
    void startDelivering();
    // Batches received and not handed on yet.
    qsizetype waitingBatches() const { return waiting_.size(); }

    // The message: a header line, one encoded file URL per line, an empty line.
    static QByteArray encode(const QList<QUrl> &documents);
    // The local file URLs of a complete message, in order; none when it is incomplete or not
    // a message at all. Lines that are not absolute local file URLs are left out.
    static std::optional<QList<QUrl>> decode(const QByteArray &message);

Q_SIGNALS:
    void documentsReceived(const QList<QUrl> &documents);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class LockState { taken, heldElsewhere, unusable };
    struct Incoming;

    Claim settle(const QList<QUrl> &documents);
    LockState takeLock();
    bool answers() const;
    QByteArray awaitLine(QLocalSocket &socket, const QDeadlineTimer &deadline);
    int waitSlice(const QDeadlineTimer &deadline);
    void sayIfWaitingLong();
    void accept();
    void read(QLocalSocket &socket, Incoming &incoming);
    void receive(const QList<QUrl> &documents);
    void deliverWaiting();

    std::optional<PrivateFolder> folder_;
    QString socketPath_; // empty without a folder
    std::chrono::milliseconds patience_;
    Say say_;
    QDeadlineTimer noticeAt_{QDeadlineTimer::Forever};
    bool noticed_ = false;
    QLocalServer *server_ = nullptr;
    int held_ = 0; // answered messages waiting for their confirmation
    std::optional<LockFile> lock_;
    QList<QList<QUrl>> waiting_;
    bool delivering_ = false;
    QPointer<QObject> heldBy_; // the modal alert the waiting documents wait for
};

// The file arguments of the process as file URLs, relative paths taken from folder.
QList<QUrl> documentArguments(const QStringList &arguments, const QString &folder);

} // namespace tampod
