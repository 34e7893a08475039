#include "files/internal/file_location.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "core/folder.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool holds(const QString &path, const Parsed &wanted)
{
    struct stat st {};
    return ::stat(encodedPath(path).constData(), &st) == 0 && st.st_dev == wanted.device
        && st.st_ino == wanted.inode;
}

} // namespace

std::optional<QString> reference(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    struct stat st {};
    if (::stat(encodedPath(path).constData(), &st) != 0)
        return std::nullopt;
    return QString::number(static_cast<qulonglong>(st.st_dev)) + QLatin1Char(':') +
           QString::number(static_cast<qulonglong>(st.st_ino));
}

std::optional<QString> resolve(const QString &reference, const QString &hintPath)
{
    const auto wanted = parse(reference);
    if (!wanted || hintPath.isEmpty())
        return std::nullopt;
    if (holds(hintPath, *wanted))
        return hintPath;
    return findInFolder(folderOf(hintPath), wanted->inode,
                        [&](const QString &path) { return holds(path, *wanted); });
}

std::optional<QString> findInFolder(const QString &folder, std::uint64_t inode,
                                    const std::function<bool(const QString &path)> &accept)
{
    std::optional<QString> found;
    try {
        const Folder opened = Folder::open(folder);
        opened.visitEntries(folderScanLimit, [&](const Folder::Entry &entry) {
            if (entry.inode != inode)
                return false;
            const QString candidate = opened.pathOf(entry.name);
            if (!accept(candidate))
                return false;
            found = candidate;
            return true;
        });
    } catch (const SystemError &) {
    }
    return found;
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

QString localPath(const QUrl &url)
{
    if (!url.isLocalFile())
        throw SystemError(EACCES, QStringLiteral("not a file location"));
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!path.startsWith(QLatin1Char('/')))
        throw SystemError(EACCES, QStringLiteral("not an absolute path"));
    return path;
}

QByteArray nativePath(const QUrl &url)
{
    return encodedPath(localPath(url));
}

QString lastComponent(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    const QString name = clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        throw SystemError(EINVAL, QStringLiteral("file name"));
    return name;
}

QString parentPath(const QString &path)
{
    lastComponent(path);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace tampod::FileLocation
