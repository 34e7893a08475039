#include "test_support.h"

#include "core/file_handle.h"
#include "core/file_system_call.h"
#include "support/run_program.h"

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

BadStretch::BadStretch(const QString &path, qint64 from, qint64 to)
{
    FileSystemCall::failReads(FileHandle::open(path, O_RDONLY).fd(), from, to);
}

BadStretch::~BadStretch()
{
    FileSystemCall::failReads(-1, 0, 0);
}

QStringList makeNoiseSources(const QString &folder, double seconds)
{
    const std::pair<const char *, QStringList> kinds[] = {
        {"tone.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}}, {"tone.m4a", {"-c:a", "aac", "-b:a", "192k"}},
        {"tone.flac", {"-c:a", "flac"}},
        {"tone.ogg", {"-c:a", "libvorbis", "-q:a", "10"}},
        {"tone.wav", {"-c:a", "pcm_s16le"}},
    };
    QStringList paths;
    for (const auto &[name, codec] : kinds) {
        paths.append(folder + QLatin1Char('/') + QLatin1String(name));
        runChecked(QStringLiteral("ffmpeg"),
                   QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                               QStringLiteral("anoisesrc=r=44100:a=0.3:d=%1").arg(seconds), "-ac", "2"}
                       + codec + QStringList{paths.last()});
    }
    return paths;
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
