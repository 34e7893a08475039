#pragma once

#include "core/strict_json.h"

#include <QByteArray>
#include <QUrl>

#include <cstdint>

namespace tampod::TemporaryAudioSafety {

// A folder's or file's place on disk: device and inode. JSON {"device": n, "inode": n}.
struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool operator==(const Identity &) const = default;

    StrictJson::Json toJson() const;
    static Identity fromJson(const StrictJson::Json &json);
};

// Records larger than this are refused unread.
inline constexpr std::int64_t maximumRecordBytes = 65536;

// The identity of a real folder of the current user that neither group nor others may write;
// anything else throws EACCES. Taken through a no-follow descriptor.
Identity directoryIdentity(const QUrl &url);

// Deletes a folder tree that still has `identity`, relative to no-follow descriptors. Stops with
// EACCES at a link, a special file, another user's entry or a changed identity. Split-pair
// markers, then ownership files, then a session's lock go last, so an interrupted removal
// leaves a folder still marked ours, or one holding nothing but its lock, or an empty one.
void removeTree(const QUrl &url, const Identity &identity);

// The bytes of a small record file: a regular file of the current user with one link and
// 1 to 65,536 bytes (else EINVAL); a link or an unopenable path throws EACCES.
QByteArray readRecordBytes(const QUrl &url);

// Reads and decodes a record; decoding errors (JsonError) pass through.
template <typename Record>
Record read(const QUrl &url)
{
    return Record::fromJson(StrictJson::parse(readRecordBytes(url)));
}

} // namespace tampod::TemporaryAudioSafety
