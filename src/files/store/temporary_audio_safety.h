#pragma once

#include "core/strict_json.h"

#include <QByteArray>
#include <QUrl>

#include <cstdint>
#include <sys/types.h>

namespace tampod::TemporaryAudioSafety {

// A folder's or file's place on disk: device and inode. JSON {"device": n, "inode": n}.
struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool operator==(const Identity &) const = default;

    StrictJson::Json toJson() const;
    static Identity fromJson(const StrictJson::Json &json);
};

// The fields of a file's status that the checks read. Birth time only where the file system
// keeps one (hasBirth).
struct Status {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    std::uint64_t links = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool hasBirth = false;
    std::int64_t birthSeconds = 0;
    std::int64_t birthNanoseconds = 0;

    bool isRegularFile() const;
    bool isDirectory() const;
    Identity identity() const { return {device, inode}; }

    // The status of an open descriptor, and of dirFd/name without following a final link.
    // Failures throw the call's errno.
    static Status of(int fd);
    static Status at(int dirFd, const QByteArray &name);
};

// Records larger than this are refused unread.
inline constexpr std::int64_t maximumRecordBytes = 65536;

// The status of the path itself (a link is described, not followed). Any failure, a missing
// path included, or another user's entry throws EACCES.
Status info(const QUrl &url);

// The identity of a real folder of the current user that neither group nor others may write;
// anything else throws EACCES. Taken through a no-follow descriptor.
Identity directoryIdentity(const QUrl &url);

// Deletes a folder tree that still has `identity`, relative to no-follow descriptors. Stops with
// EACCES at a link, a special file, another user's entry or a changed identity; ownership files
// and split-pair markers go last, so an interrupted removal leaves a folder still marked ours.
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
