#pragma once

#include "files/internal/file_status.h"
#include "files/journal/split_export_transaction.h"

#include <cstdint>

namespace tampod::SplitExportFileSafety {

// Whether an entry is still exactly the journaled file: false for another file (other type,
// device, inode, birth time or generation); EACCES when it is that file but changed (size,
// modification time) or no longer the user's.
bool isOwned(const FileStatus &status, const SplitExportTransaction::File &file, std::uint64_t device);

} // namespace tampod::SplitExportFileSafety
