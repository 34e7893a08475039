#include "test_support.h"

#include "core/file_handle.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <fcntl.h>
#include <ftw.h>
#include <limits>
#include <stdexcept>
#include <stdio.h>

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

// Qt's own removal lists names as text and misses those that are not UTF-8: remove by bytes
// first, and leave what this could not remove (unwritable folders) to Qt.
TempDir::~TempDir()
{
    ::nftw(
        encodedPath(dir_.path()).constData(),
        [](const char *path, const struct stat *, int, struct FTW *) {
            ::remove(path);
            return 0;
        },
        32,
        FTW_DEPTH | FTW_PHYS);
}

// Through the file layer, so names that are not UTF-8 are reached by their bytes.
QByteArray readAll(const QString &path)
{
    try {
        return FileHandle::open(path, O_RDONLY).readUpTo(std::numeric_limits<qint32>::max());
    } catch (const SystemError &) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    try {
        FileHandle::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666).writeAll(bytes);
    } catch (const SystemError &) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}

} // namespace tampod::test
