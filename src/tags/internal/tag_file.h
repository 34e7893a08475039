#pragma once

#include "core/file_handle.h"

#include <QString>

#include <optional>

namespace tampod::TagFile {

// Opens a regular file for reading a tag; nullopt when it cannot be opened or is no regular
// file (a FIFO or device would block or stream forever). Never throws.
std::optional<FileHandle> openForReading(const QString &path);

} // namespace tampod::TagFile
