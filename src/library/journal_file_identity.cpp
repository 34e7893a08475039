#include "library/journal_file_identity.h"

#include "library/temporary_audio_safety.h"

#include <limits>
#include <sys/statfs.h>

namespace tampod {

std::optional<JournalFileIdentity> JournalFileIdentity::of(int fd)
{
    TemporaryAudioSafety::Status status;
    try {
        status = TemporaryAudioSafety::Status::of(fd);
    } catch (const Error &) {
        return std::nullopt;
    }
    struct statfs fs {};
    if (!status.hasBirth || ::fstatfs(fd, &fs) != 0)
        return std::nullopt;
    const auto high = static_cast<std::uint32_t>(fs.f_fsid.__val[0]);
    const auto low = static_cast<std::uint32_t>(fs.f_fsid.__val[1]);
    if (high == 0 && low == 0)
        return std::nullopt;
    JournalFileIdentity identity;
    identity.volume = QStringLiteral("%1-%2")
                          .arg(high, 8, 16, QLatin1Char('0'))
                          .arg(low, 8, 16, QLatin1Char('0'))
                          .toUpper();
    identity.inode = status.inode;
    identity.birthSeconds = status.birthSeconds;
    identity.birthNanoseconds = status.birthNanoseconds;
    identity.generation = 0;
    return identity;
}

StrictJson::Json JournalFileIdentity::toJson() const
{
    return StrictJson::Json{{"volume", volume.toStdString()},
                            {"inode", inode},
                            {"birthSeconds", birthSeconds},
                            {"birthNanoseconds", birthNanoseconds},
                            {"generation", generation}};
}

JournalFileIdentity JournalFileIdentity::fromJson(const StrictJson::Json &json)
{
    JournalFileIdentity identity;
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
