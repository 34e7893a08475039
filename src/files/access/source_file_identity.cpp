#include "files/access/source_file_identity.h"

#include "files/internal/volume_identity.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const auto identity = of(fd);
    ::close(fd);
    return identity;
}

std::optional<SourceFileIdentity> SourceFileIdentity::of(int fd)
{
    // One descriptor for both questions, so the volume and the birth time belong to one file.
    struct statx sx {};
    struct statfs sf {};
    const bool ok = ::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &sx) == 0 &&
                    ::fstatfs(fd, &sf) == 0;
    if (!ok || !(sx.stx_mask & STATX_INO) || !(sx.stx_mask & STATX_BTIME) || sx.stx_btime.tv_sec == 0)
        return std::nullopt;

    const auto volume = VolumeIdentity::text(makedev(sx.stx_dev_major, sx.stx_dev_minor), sf.f_fsid);
    if (!volume)
        return std::nullopt;
    SourceFileIdentity identity;
    identity.volume = *volume;
    identity.inode = sx.stx_ino;
    identity.birthSeconds = sx.stx_btime.tv_sec;
    identity.birthNanoseconds = sx.stx_btime.tv_nsec;
    identity.generation = 0;
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
