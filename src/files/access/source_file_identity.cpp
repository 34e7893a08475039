#include "files/access/source_file_identity.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "files/internal/file_status.h"
#include "files/internal/volume_identity.h"

#include <fcntl.h>
#include <sys/statfs.h>

#include <limits>

namespace tampod {

std::optional<SourceFileIdentity> SourceFileIdentity::of(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    return ofPath(url.toLocalFile());
}

std::optional<SourceFileIdentity> SourceFileIdentity::ofPath(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    try {
        return of(FileHandle::open(path, O_PATH).fd());
    } catch (const SystemError &) {
        return std::nullopt;
    }
}

std::optional<SourceFileIdentity> SourceFileIdentity::of(int fd)
{
    // One descriptor for both questions, so the volume and the birth time belong to one file.
    FileStatus status;
    struct statfs sf {};
    try {
        status = FileStatus::of(fd);
    } catch (const SystemError &) {
        return std::nullopt;
    }
    if (::fstatfs(fd, &sf) != 0)
        return std::nullopt;
    SourceFileIdentity identity;
    identity.volume = VolumeIdentity::text(static_cast<dev_t>(status.device), sf.f_fsid);
    identity.inode = status.inode;
    identity.birthSeconds = status.birthSeconds;
    identity.birthNanoseconds = status.birthNanoseconds;
    identity.generation = status.generation;
    return identity;
}

StrictJson::Json SourceFileIdentity::toJson() const
{
    return StrictJson::Json{
        {"volume", volume.toStdString()},
        {"inode", inode},
        {"birthSeconds", birthSeconds},
        {"birthNanoseconds", birthNanoseconds},
        {"generation", generation},
    };
}

SourceFileIdentity SourceFileIdentity::fromJson(const StrictJson::Json &json)
{
    SourceFileIdentity identity;
    identity.volume = StrictJson::requireString(json, "volume");
    identity.inode = StrictJson::requireUInt64(json, "inode");
    identity.birthSeconds = StrictJson::requireInt64(json, "birthSeconds");
    identity.birthNanoseconds = StrictJson::requireInt64(json, "birthNanoseconds");
    const std::uint64_t generation = StrictJson::requireUInt64(json, "generation");
    if (generation > std::numeric_limits<std::uint32_t>::max())
        throw JsonError(QStringLiteral("generation is out of range"));
    identity.generation = static_cast<std::uint32_t>(generation);
    return identity;
}

} // namespace tampod
