#include "library/internal/volume_identity.h"

#include <QFile>
#include <QUuid>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const int dirFd = ::open("/dev/disk/by-uuid", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return std::nullopt;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return std::nullopt;
    }
    std::optional<QString> found;
    int seen = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (++seen > byUuidEntryLimit)
            break;
        if (!isUuidName(entry->d_name))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device) {
            found = QString::fromLatin1(entry->d_name).toUpper();
            break;
        }
    }
    ::closedir(dir);
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
