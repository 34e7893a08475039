#include "test_support.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <stdexcept>

namespace tampod::test {

bool pumpUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        if (!condition())
            QThread::usleep(200);
    }
    return true;
}

TempDir::TempDir()
    : dir_(QDir::tempPath() + QStringLiteral("/tampod-test-XXXXXX"))
{
    if (!dir_.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace tampod::test
