#include "files/store/temporary_audio_safety.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "core/file_system_call.h"
#include "core/folder.h"
#include "files/internal/file_location.h"
#include "files/store/internal/temporary_audio_status.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <vector>

namespace tampod::TemporaryAudioSafety {

StrictJson::Json Identity::toJson() const
{
    return StrictJson::Json{{"device", device}, {"inode", inode}};
}

Identity Identity::fromJson(const StrictJson::Json &json)
{
    return {StrictJson::requireUInt64(json, "device"), StrictJson::requireUInt64(json, "inode")};
}

namespace {

[[noreturn]] void denied(const char *operation)
{
    throw SystemError(EACCES, QString::fromLatin1(operation));
}

void verify(const Folder &folder, const Identity &expected)
{
    FileStatus status;
    try {
        status = FileStatus::of(folder.fd());
    } catch (const SystemError &) {
        denied("fstat");
    }
    if (status.owner != ::getuid() || identityOf(status) != expected)
        denied("identity check");
}

int rank(const QByteArray &name)
{
    if (name == "tampod-pair-committed.json" || name == "tampod-pair-recovering.json")
        return 1;
    if (name == "owner.json" || name == "tampod-owner.json")
        return 2;
    if (name == "lock")
        return 3;
    return 0;
}

// Removes an entry relative to its folder; any failure is EACCES.
void unlinkEntry(const Folder &folder, const QByteArray &name, int flags)
{
    if (FileSystemCall::attempt(flags ? "rmdir" : "unlink",
                                [&] { return ::unlinkat(folder.fd(), name.constData(), flags); })
        != 0)
        denied(flags ? "rmdir" : "unlink");
}

void removeContents(const Folder &folder)
{
    std::vector<QByteArray> names;
    folder.visitEntries(std::numeric_limits<int>::max(), [&](const Folder::Entry &entry) {
        names.emplace_back(entry.name);
        return false;
    });
    std::stable_sort(names.begin(), names.end(),
                     [](const QByteArray &a, const QByteArray &b) { return rank(a) < rank(b); });
    for (const QByteArray &name : names) {
        const auto status = FileStatus::at(folder, name);
        if (!status || status->owner != ::getuid())
            denied("entry check");
        if (status->isDirectory()) {
            const Identity expected = identityOf(*status);
            const Folder inner = folder.openSubfolder(name);
            verify(inner, expected);
            removeContents(inner);
            const auto again = FileStatus::at(folder, name);
            if (!again || identityOf(*again) != expected)
                denied("identity check");
            unlinkEntry(folder, name, AT_REMOVEDIR);
        } else if (status->isRegularFile()) {
            unlinkEntry(folder, name, 0);
        } else {
            denied("entry type");
        }
    }
}

} // namespace

FileStatus info(const QUrl &url)
{
    std::optional<FileStatus> status;
    try {
        status = FileStatus::ofPath(FileLocation::localPath(url));
    } catch (const SystemError &) {
        denied("lstat");
    }
    if (!status || status->owner != ::getuid())
        denied("owner check");
    return *status;
}

Identity directoryIdentity(const QUrl &url)
{
    // Through a descriptor, so the folder checked is the one whose identity is returned even if
    // the path is swapped meanwhile; a link fails to open. O_PATH: the read and search bits do
    // not matter here.
    FileStatus status;
    try {
        const FileHandle folder =
            FileHandle::open(FileLocation::localPath(url), O_PATH | O_NOFOLLOW | O_DIRECTORY);
        status = FileStatus::of(folder.fd());
    } catch (const SystemError &) {
        denied("open folder");
    }
    if (status.owner != ::getuid() || (status.mode & 022) != 0 || !status.isDirectory())
        denied("folder check");
    return identityOf(status);
}

void removeTree(const QUrl &url, const Identity &identity)
{
    const QString path = FileLocation::localPath(url);
    const Folder folder = Folder::open(path, LinkPolicy::NoFollow);
    verify(folder, identity);
    removeContents(folder);
    if (directoryIdentity(url) != identity)
        denied("identity check");
    const QByteArray native = encodedPath(path);
    if (FileSystemCall::attempt("rmdir", [&] { return ::rmdir(native.constData()); }) != 0)
        denied("rmdir");
}

QByteArray readRecordBytes(const QUrl &url)
{
    // The outside open: a FIFO planted under the record's name never hangs the reader.
    FileHandle file;
    try {
        file = FileHandle::openOutside(FileLocation::localPath(url), LinkPolicy::NoFollow);
    } catch (const NotARegularFile &) {
        throw SystemError(EINVAL, QStringLiteral("record check"));
    } catch (const SystemError &) {
        denied("open record");
    }
    const FileStatus status = FileStatus::of(file.fd());
    if (status.owner != ::getuid() || status.links != 1 || status.size < 1 || status.size > maximumRecordBytes)
        throw SystemError(EINVAL, QStringLiteral("record check"));
    // One more byte than allowed: a file that grew after the check is refused, not cut short.
    const QByteArray bytes = file.readUpTo(maximumRecordBytes + 1);
    if (bytes.size() > maximumRecordBytes)
        throw SystemError(EINVAL, QStringLiteral("record size"));
    return bytes;
}

} // namespace tampod::TemporaryAudioSafety
