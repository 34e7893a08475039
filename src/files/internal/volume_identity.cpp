#include "files/internal/volume_identity.h"

#include "core/error.h"
#include "core/folder.h"

#include <QUuid>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
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
    try {
        const Folder byUuid = Folder::open(QStringLiteral("/dev/disk/by-uuid"));
        byUuid.visitEntries(byUuidEntryLimit, [&](const Folder::Entry &entry) {
            if (!isUuidName(entry.name))
                return false;
            std::optional<struct stat> status;
            try {
                status = byUuid.status(entry.name, LinkPolicy::Follow);
            } catch (const SystemError &) {
                return false; // a dangling link: not this device
            }
            if (!status || !S_ISBLK(status->st_mode) || status->st_rdev != device)
                return false;
            found = QString::fromLatin1(entry.name).toUpper();
            return true;
        });
    } catch (const SystemError &) {
    }
    return found;
}

QString laidOut(const unsigned char (&raw)[8])
{
    const QUuid uuid(0, 0, 0, raw[0], raw[1], raw[2], raw[3], raw[4], raw[5], raw[6], raw[7]);
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

QString text(dev_t device, fsid_t fsid)
{
    unsigned char raw[8] = {};
    static_assert(sizeof fsid == sizeof raw);
    std::memcpy(raw, &fsid, sizeof raw);

    static std::mutex mutex;
    static std::map<std::pair<dev_t, QByteArray>, QString> known; // thread: guarded by mutex
    const auto key = std::make_pair(device, QByteArray(reinterpret_cast<const char *>(raw), sizeof raw));
    std::lock_guard lock(mutex);
    if (const auto it = known.find(key); it != known.end())
        return it->second;

    QString volume;
    if (const auto uuid = filesystemUuid(device)) {
        volume = *uuid;
    } else if (std::any_of(std::begin(raw), std::end(raw), [](unsigned char b) { return b != 0; })) {
        volume = laidOut(raw);
    } else {
        // Some network and user-space file systems report no id: the device number stands in.
        const std::uint64_t number = device;
        for (int i = 0; i < 8; ++i)
            raw[i] = static_cast<unsigned char>(number >> (56 - 8 * i));
        volume = laidOut(raw);
    }
    known.emplace(key, volume);
    return volume;
}

} // namespace tampod::VolumeIdentity
