#pragma once

#include "core/strict_json.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace tampod {

// Which file or folder a split-pair journal means: volume, inode, birth time and generation,
// JSON {"volume", "inode", "birthSeconds", "birthNanoseconds", "generation"}. The volume is the
// file system's id (statfs f_fsid) as upper-case hex "XXXXXXXX-XXXXXXXX"; generation is 0 here,
// since it is only readable through a file-system-specific call.
struct JournalFileIdentity {
    QString volume;
    std::uint64_t inode = 0;
    std::int64_t birthSeconds = 0;
    std::int64_t birthNanoseconds = 0;
    std::uint32_t generation = 0;

    bool operator==(const JournalFileIdentity &) const = default;

    // The identity of an open descriptor, or none when the file system keeps no birth time or
    // has no volume id (an identity must never match a different file by accident).
    static std::optional<JournalFileIdentity> of(int fd);

    StrictJson::Json toJson() const;
    static JournalFileIdentity fromJson(const StrictJson::Json &json);
};

} // namespace tampod
