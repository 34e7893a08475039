#include "core/private_folder.h"

#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod {

namespace {

QString descriptorPath(int fd)
{
    return QStringLiteral("/proc/self/fd/") + QString::number(fd);
}

} // namespace

std::optional<PrivateFolder> PrivateFolder::open(const QString &path, bool makeMissing)
{
    try {
        Folder folder;
        if (makeMissing) {
            const QFileInfo place(path);
            try {
                folder = Folder::open(place.path()).makePrivateFolder(encodedPath(place.fileName()));
            } catch (const SystemError &error) {
                if (error.errnoValue() != EEXIST)
                    throw;
            }
        }
        if (!folder.isOpen())
            folder = Folder::open(path, LinkPolicy::NoFollow);
        if (!isPrivate(folder))
            return std::nullopt;
        return PrivateFolder(std::move(folder));
    } catch (const SystemError &) {
        return std::nullopt;
    }
}

QString PrivateFolder::pathForUser(const QString &parent, const QString &stem)
{
    return parent + QLatin1Char('/') + stem + QLatin1Char('-') + QString::number(::geteuid());
}

bool PrivateFolder::isPrivate(const Folder &folder)
{
    struct stat own {}, reached {};
    if (::fstat(folder.fd(), &own) != 0 || !S_ISDIR(own.st_mode) || own.st_uid != ::geteuid()
        || (own.st_mode & 07777) != 0700)
        return false;
    // The descriptor's path must lead to this very folder, or its names could not be reached.
    return ::stat(encodedPath(descriptorPath(folder.fd())).constData(), &reached) == 0
        && reached.st_dev == own.st_dev && reached.st_ino == own.st_ino;
}

QString PrivateFolder::pathOf(const QByteArray &name) const
{
    return descriptorPath(folder_.fd()) + QLatin1Char('/') + decodedPath(name);
}

} // namespace tampod
