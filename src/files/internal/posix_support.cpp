#include "files/internal/posix_support.h"

#include "core/error.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod::PosixSupport {

void fail(int code, const char *operation)
{
    throw SystemError(code, QString::fromLatin1(operation));
}

QString localPath(const QUrl &url)
{
    if (!url.isLocalFile())
        fail(EACCES, "not a file location");
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!path.startsWith(QLatin1Char('/')))
        fail(EACCES, "not an absolute path");
    return path;
}

QByteArray nativePath(const QUrl &url)
{
    return QFile::encodeName(localPath(url));
}

QString parentPath(const QString &path)
{
    lastComponent(path);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString lastComponent(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    const QString name = clean.mid(slash + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        fail(EINVAL, "file name");
    return name;
}

int openAt(int dirFd, const QByteArray &name, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::openat(dirFd, name.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void syncDescriptor(int fd)
{
    if (::fsync(fd) != 0)
        fail(errno ? errno : EIO, "fsync");
}

FileHandle openDirectoryNoFollow(int dirFd, const QByteArray &name)
{
    const int fd = openAt(dirFd, name, O_RDONLY | O_NOFOLLOW | O_DIRECTORY);
    if (fd < 0)
        fail(errno, "open folder");
    return FileHandle(fd);
}

void makePrivateDirectory(int dirFd, const QByteArray &name, mode_t mode)
{
    if (::mkdirat(dirFd, name.constData(), mode) != 0)
        fail(errno, "mkdir");
    FileHandle folder = openDirectoryNoFollow(dirFd, name);
    struct stat status {};
    if (::fstat(folder.fd(), &status) != 0)
        fail(errno, "fstat");
    // The umask may have taken bits away; set the mode we promised explicitly.
    if ((status.st_mode & 07777) != mode && ::fchmod(folder.fd(), mode) != 0)
        fail(errno, "fchmod");
}

namespace {

constexpr char temporaryInfix[] = ".tmp-";

QByteArray temporaryName(const QByteArray &name)
{
    return "." + name + temporaryInfix
        + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
}

} // namespace

bool isAtomicWriteLeftover(const QByteArray &name, const QByteArray &finalName)
{
    const qsizetype infix = name.lastIndexOf(temporaryInfix);
    if (!name.startsWith('.') || infix < 2)
        return false;
    const QByteArray suffix = name.mid(infix + qsizetype(sizeof temporaryInfix - 1));
    if (suffix.isEmpty())
        return false;
    for (const char c : suffix) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    }
    const QByteArray base = name.mid(1, infix - 1);
    return finalName.isEmpty() ? !base.isEmpty() : base == finalName;
}

void writeAtomically(int dirFd, const QByteArray &name, const QByteArray &bytes)
{
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryName(name);
        fd = openAt(dirFd, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST)
            fail(errno, "create temporary file");
    }
    if (fd < 0)
        fail(EEXIST, "create temporary file");
    FileHandle file(fd);
    try {
        file.writeAll(bytes);
        syncDescriptor(file.fd());
        file.close();
        if (::renameat(dirFd, temporary.constData(), dirFd, name.constData()) != 0)
            fail(errno, "rename");
    } catch (...) {
        ::unlinkat(dirFd, temporary.constData(), 0);
        throw;
    }
    syncDescriptor(dirFd);
}

void writeExclusively(int dirFd, const QByteArray &name, const QByteArray &bytes)
{
    const int fd = openAt(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0)
        fail(errno, "create file");
    FileHandle file(fd);
    file.writeAll(bytes);
    syncDescriptor(file.fd());
    file.close();
    syncDescriptor(dirFd);
}

} // namespace tampod::PosixSupport
