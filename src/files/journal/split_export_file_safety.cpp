#include "files/journal/split_export_file_safety.h"

#include "core/file_system_call.h"
#include "files/internal/file_location.h"
#include "files/internal/file_status.h"
#include "files/journal/audio_export_error.h"
#include "files/journal/internal/split_export_ownership.h"
#include "files/store/internal/temporary_audio_status.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tampod::SplitExportFileSafety {

namespace {

bool isSameFile(const FileStatus &status, const SourceFileIdentity &identity)
{
    return status.inode == identity.inode && status.birthSeconds == identity.birthSeconds
        && status.birthNanoseconds == identity.birthNanoseconds && status.generation == identity.generation;
}

} // namespace

Folder openDirectory(const QUrl &url, const std::optional<SourceFileIdentity> &identity)
{
    Folder folder;
    try {
        folder = Folder::open(FileLocation::localPath(url), LinkPolicy::NoFollow);
    } catch (const SystemError &) {
        throw SystemError(EACCES, QStringLiteral("open folder"));
    }
    const FileStatus atPath = TemporaryAudioSafety::info(url);
    FileStatus opened;
    try {
        opened = FileStatus::of(folder.fd());
    } catch (const SystemError &) {
        throw SystemError(EACCES, QStringLiteral("fstat folder"));
    }
    if (opened.owner != ::getuid() || opened.device != atPath.device || opened.inode != atPath.inode)
        throw SystemError(EACCES, QStringLiteral("folder check"));
    if (identity && !isSameFile(opened, *identity))
        throw SystemError(EACCES, QStringLiteral("folder identity"));
    return folder;
}

bool isOwned(const FileStatus &status, const SplitExportTransaction::File &file, std::uint64_t device)
{
    if (!status.isRegularFile() || status.device != device || !isSameFile(status, file.identity))
        return false;
    if (status.owner != ::getuid() || status.size != file.bytes || status.modifiedSeconds != file.modifiedSeconds
        || status.modifiedNanoseconds != file.modifiedNanoseconds)
        throw SystemError(EACCES, QStringLiteral("journaled file changed"));
    return true;
}

int linkThenUnlink(int fromFd, const QByteArray &from, int toFd, const QByteArray &to)
{
    if (FileSystemCall::attempt("link", [&] { return ::linkat(fromFd, from.constData(), toFd, to.constData(), 0); })
        != 0)
        return errno;
    if (FileSystemCall::attempt("unlink", [&] { return ::unlinkat(fromFd, from.constData(), 0); }) != 0) {
        const int code = errno;
        // Leave things as they were rather than with the file under two names.
        FileSystemCall::attempt("unlink", [&] { return ::unlinkat(toFd, to.constData(), 0); });
        return code;
    }
    return 0;
}

int renameExclusively(int fromFd, const QByteArray &from, int toFd, const QByteArray &to)
{
    if (FileSystemCall::attempt("rename", [&] {
            return ::renameat2(fromFd, from.constData(), toFd, to.constData(), RENAME_NOREPLACE);
        })
        == 0)
        return 0;
    const int code = errno;
    // EINVAL: this file system has no exclusive rename (ENOSYS: nor has the kernel). A hard
    // link also fails on an existing name, so the fallback never replaces either.
    if (code == EINVAL || code == ENOSYS)
        return linkThenUnlink(fromFd, from, toFd, to);
    return code;
}

void publish(const QUrl &source, const QUrl &destination, bool flushSource)
{
    const QString sourcePath = FileLocation::localPath(source);
    const QString destinationPath = FileLocation::localPath(destination);
    const Folder sourceFolder = openDirectory(QUrl::fromLocalFile(FileLocation::parentPath(sourcePath)));
    const Folder destinationFolder = openDirectory(QUrl::fromLocalFile(FileLocation::parentPath(destinationPath)));
    const int code = renameExclusively(sourceFolder.fd(), encodedPath(FileLocation::lastComponent(sourcePath)),
                                       destinationFolder.fd(),
                                       encodedPath(FileLocation::lastComponent(destinationPath)));
    if (code == EEXIST)
        throw AudioExportError(AudioExportError::Case::destinationExists);
    if (code != 0)
        throw SystemError(code, QStringLiteral("rename"));
    // The journal's next step must not reach the disk before this rename does.
    destinationFolder.sync();
    if (flushSource)
        sourceFolder.sync();
}

} // namespace tampod::SplitExportFileSafety
