#include "files/internal/volume_identity.h"

#include "files/internal/file_location.h"

#include <QUuid>

#include <sys/stat.h>

#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace tampod::VolumeIdentity {

namespace {

constexpr int byUuidEntryLimit = 1024;

bool isUuidName(const char *name)
{
    if (!*name)
        return false;
    for (const char *c = name; *c; ++c) {
        const bool hex = (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f') || (*c >= 'A' && *c <= 'F');
        if (!hex && *c != '-')
            return false;
    }
    return true;
}

// The by-uuid link whose block device is the file's device, when udev provides the folder.
std::optional<QString> filesystemUuid(dev_t device)
{
    std::optional<QString> found;
    FileLocation::visitFolder(QStringLiteral("/dev/disk/by-uuid"), byUuidEntryLimit,
                              [&](int dirFd, const char *name, std::uint64_t) {
                                  struct stat st {};
                                  if (!isUuidName(name) || ::fstatat(dirFd, name, &st, 0) != 0 ||
                                      !S_ISBLK(st.st_mode) || st.st_rdev != device)
                                      return false;
                                  found = QString::fromLatin1(name).toUpper();
                                  return true;
                              });
    return found;
}

} // namespace

std::optional<QString> text(dev_t device, fsid_t fsid)
{
    unsigned char raw[8] = {};
    static_assert(sizeof fsid == sizeof raw);
    std::memcpy(raw, &fsid, sizeof raw);
    bool zero = true;
    for (unsigned char b : raw)
        zero = zero && b == 0;
    if (zero)
        return std::nullopt;

    static std::mutex mutex;
    static std::map<std::pair<dev_t, QByteArray>, QString> known; // thread: guarded by mutex
    const auto key = std::make_pair(device, QByteArray(reinterpret_cast<const char *>(raw), sizeof raw));
    std::lock_guard lock(mutex);
    if (const auto it = known.find(key); it != known.end())
        return it->second;

    QString volume;
    if (const auto uuid = filesystemUuid(device)) {
        volume = *uuid;
    } else {
        const QUuid laidOut(0, 0, 0, raw[0], raw[1], raw[2], raw[3], raw[4], raw[5], raw[6], raw[7]);
        volume = laidOut.toString(QUuid::WithoutBraces).toUpper();
    }
    known.emplace(key, volume);
    return volume;
}

} // namespace tampod::VolumeIdentity
