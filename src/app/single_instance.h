#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace tampod {

// One tamPOD per user: a second launch hands its documents to the running one over a local
// socket in the user's private runtime folder and exits. thread: main only.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Forwarding {
        noInstance, // nobody listens: this launch is the instance
        delivered,  // the running instance took the documents
        failed,     // an instance answers the connection but did not take them
    };

    // The largest message a launch may send, and how long a sender may take.
    static constexpr qsizetype maximumMessage = 4 * 1024 * 1024;
    static constexpr std::chrono::milliseconds timeout{5000};

    explicit SingleInstance(QString serverName = defaultServerName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultServerName();

    // Hands documents (possibly none: the window just comes forward) to a running instance.
    Forwarding forward(const QList<QUrl> &documents) const;
    // Starts receiving later launches' documents; false when the name cannot be taken.
    bool listen();

    // The message: a header line, one encoded file URL per line, an empty line.
    static QByteArray encode(const QList<QUrl> &documents);
    // The local file URLs of a complete message, in order; none when it is incomplete or not
    // a message at all. Lines that are not absolute local file URLs are left out.
    static std::optional<QList<QUrl>> decode(const QByteArray &message);

Q_SIGNALS:
    void documentsReceived(const QList<QUrl> &documents);

private:
    void accept();
    void read(QLocalSocket *socket);

    QString serverName_;
    QLocalServer *server_ = nullptr;
};

// The file arguments of the process as file URLs, relative paths taken from folder.
QList<QUrl> documentArguments(const QStringList &arguments, const QString &folder);

} // namespace tampod
