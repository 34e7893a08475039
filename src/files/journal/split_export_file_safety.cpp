#include "files/journal/split_export_file_safety.h"

#include "files/journal/audio_export_error.h"
#include "files/internal/posix_support.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tampod::SplitExportFileSafety {

using PosixSupport::fail;

FileHandle openDirectory(const QUrl &url, const std::optional<SourceFileIdentity> &identity)
{
    const QByteArray path = PosixSupport::nativePath(url);
    const int fd = PosixSupport::openAt(AT_FDCWD, path, O_RDONLY | O_NOFOLLOW | O_DIRECTORY);
    if (fd < 0)
        fail(EACCES, "open folder");
    FileHandle folder(fd);
    const TemporaryAudioSafety::Status atPath = TemporaryAudioSafety::info(url);
    TemporaryAudioSafety::Status opened;
    try {
        opened = TemporaryAudioSafety::Status::of(folder.fd());
    } catch (const SystemError &) {
        fail(EACCES, "fstat folder");
    }
    if (opened.owner != ::getuid() || opened.device != atPath.device || opened.inode != atPath.inode)
        fail(EACCES, "folder check");
    if (identity) {
        // Generation is not readable here and always 0, so a recorded non-zero one never matches.
        const bool same = opened.hasBirth && opened.inode == identity->inode
            && opened.birthSeconds == identity->birthSeconds
            && opened.birthNanoseconds == identity->birthNanoseconds && identity->generation == 0;
        if (!same)
            fail(EACCES, "folder identity");
    }
    return folder;
}

bool isOwned(const TemporaryAudioSafety::Status &status, const SplitExportTransaction::File &file,
             std::uint64_t device)
{
    const SourceFileIdentity &identity = file.identity;
    if (!status.isRegularFile() || status.device != device || status.inode != identity.inode
        || !status.hasBirth || status.birthSeconds != identity.birthSeconds
        || status.birthNanoseconds != identity.birthNanoseconds || identity.generation != 0)
        return false;
    if (status.owner != ::getuid() || status.size != file.bytes
        || status.modifiedSeconds != file.modifiedSeconds
        || status.modifiedNanoseconds != file.modifiedNanoseconds)
        fail(EACCES, "journaled file changed");
    return true;
}

int linkThenUnlink(int fromFd, const QByteArray &from, int toFd, const QByteArray &to)
{
    if (::linkat(fromFd, from.constData(), toFd, to.constData(), 0) != 0)
        return errno;
    if (::unlinkat(fromFd, from.constData(), 0) != 0) {
        const int code = errno;
        // Leave things as they were rather than with the file under two names.
        ::unlinkat(toFd, to.constData(), 0);
        return code;
    }
    return 0;
}

int renameExclusively(int fromFd, const QByteArray &from, int toFd, const QByteArray &to)
{
    if (::renameat2(fromFd, from.constData(), toFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int code = errno;
    // EINVAL: this file system has no exclusive rename (ENOSYS: nor has the kernel). A hard
    // link also fails on an existing name, so the fallback never replaces either.
    if (code == EINVAL || code == ENOSYS)
        return linkThenUnlink(fromFd, from, toFd, to);
    return code;
}

void publish(const QUrl &source, const QUrl &destination)
{
    const QString sourcePath = PosixSupport::localPath(source);
    const QString destinationPath = PosixSupport::localPath(destination);
    FileHandle sourceFolder = openDirectory(QUrl::fromLocalFile(PosixSupport::parentPath(sourcePath)));
    FileHandle destinationFolder = openDirectory(QUrl::fromLocalFile(PosixSupport::parentPath(destinationPath)));
    const int code = renameExclusively(sourceFolder.fd(), QFile::encodeName(PosixSupport::lastComponent(sourcePath)),
                                       destinationFolder.fd(),
                                       QFile::encodeName(PosixSupport::lastComponent(destinationPath)));
    if (code == EEXIST)
        throw AudioExportError(AudioExportError::Case::destinationExists);
    if (code != 0)
        fail(code, "rename");
    // The journal's next step must not reach the disk before this rename does.
    PosixSupport::syncDescriptor(destinationFolder.fd());
    PosixSupport::syncDescriptor(sourceFolder.fd());
}

} // namespace tampod::SplitExportFileSafety
