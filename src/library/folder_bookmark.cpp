#include "library/folder_bookmark.h"

#include "core/file_handle.h"
#include "library/internal/posix_support.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>

namespace tampod {

QByteArray FolderBookmark::make(const QUrl &folder)
{
    const QString path = PosixSupport::localPath(folder);
    const int fd = PosixSupport::openAt(AT_FDCWD, QFile::encodeName(path), O_PATH | O_NOFOLLOW | O_DIRECTORY);
    if (fd < 0)
        PosixSupport::fail(errno, "open folder");
    FileHandle handle(fd);
    const auto status = TemporaryAudioSafety::Status::of(handle.fd());
    return StrictJson::dump(StrictJson::Json{{"path", path.toStdString()},
                                             {"identity", status.identity().toJson()}});
}

FolderBookmark FolderBookmark::decode(const QByteArray &bytes)
{
    const StrictJson::Json json = StrictJson::parse(bytes);
    FolderBookmark bookmark;
    bookmark.path = StrictJson::requireString(json, "path");
    if (!bookmark.path.startsWith(QLatin1Char('/')))
        throw JsonError(QStringLiteral("bookmark path is not absolute"));
    bookmark.identity = TemporaryAudioSafety::Identity::fromJson(StrictJson::requireObject(json, "identity"));
    return bookmark;
}

FolderBookmark::Resolved FolderBookmark::resolve() const
{
    Resolved resolved{QUrl::fromLocalFile(path), true};
    try {
        const auto status = TemporaryAudioSafety::Status::at(AT_FDCWD, QFile::encodeName(path));
        resolved.stale = !status.isDirectory() || status.identity() != identity;
    } catch (const Error &) {
    }
    return resolved;
}

} // namespace tampod
