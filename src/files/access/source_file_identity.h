#pragma once

#include "core/strict_json.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace tampod {

// Which file a path names: its volume, inode and birth time. A file replaced by a copy under
// the same name has another identity even when the inode number is reused. Where the file
// system keeps no birth time, the inode generation stands in (birth fields 0); where it keeps
// neither, the volume and inode alone identify the file.
struct SourceFileIdentity {
    QString volume;              // upper-case hyphenated volume UUID
    std::uint64_t inode = 0;
    std::int64_t birthSeconds = 0;
    std::int64_t birthNanoseconds = 0;
    std::uint32_t generation = 0; // 0 while a birth time exists

    bool operator==(const SourceFileIdentity &) const = default;

    // nullopt for a URL that is not a file URL or a file that cannot be examined. Follows
    // symbolic links.
    static std::optional<SourceFileIdentity> of(const QUrl &url);
    static std::optional<SourceFileIdentity> ofPath(const QString &path);
    // The identity of the file an open descriptor refers to (O_PATH ones included), so a check
    // and the use that follows it are about the same file whatever happens to its path.
    static std::optional<SourceFileIdentity> of(int fd);

    // JSON: exactly "volume", "inode", "birthSeconds", "birthNanoseconds", "generation";
    // reading requires all five and throws JsonError otherwise.
    StrictJson::Json toJson() const;
    static SourceFileIdentity fromJson(const StrictJson::Json &json);
};

} // namespace tampod
