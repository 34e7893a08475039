#include "core/folder.h"

#include "core/error.h"
#include "core/file_system_call.h"

#include <QRandomGenerator>

#include <cerrno>
#include <memory>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tampod {

namespace {

constexpr char temporaryInfix[] = ".tmp-";

QByteArray temporaryName(const QByteArray &name)
{
    return "." + name + temporaryInfix
        + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
}

} // namespace

Folder Folder::open(const QString &path, LinkPolicy links)
{
    const int noFollow = links == LinkPolicy::NoFollow ? O_NOFOLLOW : 0;
    return Folder(FileHandle::open(path, O_RDONLY | O_DIRECTORY | noFollow), path);
}

Folder Folder::openSubfolder(const QByteArray &name) const
{
    return Folder(openFile(name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW), pathOf(name));
}

QString Folder::pathOf(const QByteArray &name) const
{
    const QString child = decodedPath(name);
    return path_.endsWith(QLatin1Char('/')) ? path_ + child : path_ + QLatin1Char('/') + child;
}

FileHandle Folder::openFile(const QByteArray &name, int flags, mode_t mode) const
{
    return FileHandle(FileSystemCall::run(
        "open", [&] { return ::openat(fd(), name.constData(), flags | O_CLOEXEC, mode); }));
}

FileHandle Folder::openOutside(const QByteArray &name, LinkPolicy links) const
{
    return FileHandle::openOutsideAt(fd(), decodedPath(name), links);
}

FileHandle Folder::createExclusive(const QByteArray &name, int accessFlags, mode_t mode) const
{
    return openFile(name, accessFlags | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
}

bool Folder::isAtomicWriteLeftover(const QByteArray &name, const QByteArray &finalName)
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

void Folder::writeAtomically(const QByteArray &name, const QByteArray &bytes) const
{
    QByteArray temporary;
    FileHandle file;
    for (int attempt = 0; attempt < 16 && !file.isOpen(); ++attempt) {
        temporary = temporaryName(name);
        try {
            file = createExclusive(temporary);
        } catch (const SystemError &error) {
            if (error.errnoValue() != EEXIST)
                throw;
        }
    }
    if (!file.isOpen())
        throw SystemError(EEXIST, QStringLiteral("create temporary file"));
    try {
        file.writeAll(bytes);
        file.sync();
        file.close();
        FileSystemCall::run("rename", [&] {
            return ::renameat(fd(), temporary.constData(), fd(), name.constData());
        });
    } catch (...) {
        FileSystemCall::attempt("unlink", [&] { return ::unlinkat(fd(), temporary.constData(), 0); });
        throw;
    }
    sync();
}

void Folder::writeExclusively(const QByteArray &name, const QByteArray &bytes) const
{
    FileHandle file = createExclusive(name);
    file.writeAll(bytes);
    file.sync();
    file.close();
    sync();
}

Folder Folder::makePrivateFolder(const QByteArray &name, mode_t mode) const
{
    FileSystemCall::run("mkdir", [&] { return ::mkdirat(fd(), name.constData(), mode); });
    Folder folder = openSubfolder(name);
    // The umask may have taken bits away; set the mode we promised on the descriptor, so a
    // name swapped meanwhile is never changed.
    if ((folder.handle_.status().st_mode & 07777) != mode)
        FileSystemCall::run("chmod", [&] { return ::fchmod(folder.fd(), mode); });
    return folder;
}

std::optional<struct stat> Folder::status(const QByteArray &name, LinkPolicy links) const
{
    struct stat st {};
    const int flags = links == LinkPolicy::NoFollow ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(fd(), name.constData(), &st, flags) == 0)
        return st;
    if (errno == ENOENT)
        return std::nullopt;
    throw SystemError(errno, QStringLiteral("stat"));
}

void Folder::sync() const
{
    FileSystemCall::run("fsync", [&] { return ::fsync(fd()); });
}

mode_t Folder::Entry::listedType() const
{
    return type == DT_UNKNOWN ? 0 : DTTOIF(type);
}

bool Folder::visitEntries(int limit, const std::function<bool(const Entry &)> &visit) const
{
    // A second descriptor: fdopendir takes ownership and moves the read position.
    FileHandle listing = openFile(".", O_RDONLY | O_DIRECTORY);
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(listing.fd()), ::closedir);
    if (!dir)
        throw SystemError(errno, QStringLiteral("opendir"));
    listing.release();
    int seen = 0;
    while (seen < limit) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throw SystemError(errno, QStringLiteral("readdir"));
            break;
        }
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        ++seen;
        if (visit(Entry{name, entry->d_ino, entry->d_type}))
            return true;
    }
    return false;
}

} // namespace tampod
