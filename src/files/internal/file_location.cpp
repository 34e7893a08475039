#include "files/internal/file_location.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace tampod::FileLocation {

namespace {

struct Parsed {
    dev_t device;
    ino_t inode;
};

std::optional<Parsed> parse(const QString &reference)
{
    const qsizetype colon = reference.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = reference.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = reference.mid(colon + 1).toULongLong(&inodeOk);
    if (!deviceOk || !inodeOk)
        return std::nullopt;
    return Parsed{static_cast<dev_t>(device), static_cast<ino_t>(inode)};
}

bool holds(int dirFd, const char *name, const Parsed &wanted)
{
    struct stat st {};
    return ::fstatat(dirFd, name, &st, 0) == 0 && st.st_dev == wanted.device && st.st_ino == wanted.inode;
}

QString joined(const QString &folder, const char *name)
{
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + QFile::decodeName(name);
}

} // namespace

std::optional<QString> reference(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return QString::number(static_cast<qulonglong>(st.st_dev)) + QLatin1Char(':') +
           QString::number(static_cast<qulonglong>(st.st_ino));
}

std::optional<QString> resolve(const QString &reference, const QString &hintPath)
{
    const auto wanted = parse(reference);
    if (!wanted || hintPath.isEmpty())
        return std::nullopt;
    if (holds(AT_FDCWD, QFile::encodeName(hintPath).constData(), *wanted))
        return hintPath;
    return findInFolder(folderOf(hintPath), wanted->inode, [&](const QString &path) {
        return holds(AT_FDCWD, QFile::encodeName(path).constData(), *wanted);
    });
}

std::optional<QString> findInFolder(const QString &folder, std::uint64_t inode,
                                    const std::function<bool(const QString &path)> &accept)
{
    std::optional<QString> found;
    visitFolder(folder, folderScanLimit, [&](int, const char *name, std::uint64_t entryInode) {
        if (entryInode != inode)
            return false;
        const QString candidate = joined(folder, name);
        if (!accept(candidate))
            return false;
        found = candidate;
        return true;
    });
    return found;
}

bool visitFolder(const QString &folder, int limit,
                 const std::function<bool(int dirFd, const char *name, std::uint64_t inode)> &visit)
{
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    bool stopped = false;
    int seen = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (++seen > limit)
            break;
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, ".."))
            continue;
        if (visit(dirFd, entry->d_name, entry->d_ino)) {
            stopped = true;
            break;
        }
    }
    ::closedir(dir);
    return stopped;
}

bool isReadable(const QString &path)
{
    return !path.isEmpty() && ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK, AT_EACCESS) == 0;
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(slash);
}

} // namespace tampod::FileLocation
