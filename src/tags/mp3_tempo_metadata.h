#pragma once

#include "core/file_handle.h"

#include <QString>

#include <optional>

namespace tampod::MP3TempoMetadata {

// The tempo of the ID3v2 tag at the very start of an MP3 file, a lone standard value included.
// Appended tags are not searched. Every failure is no tempo; only Cancelled is thrown, when the
// current task is cancelled. The file is read with positioned reads only.
std::optional<double> read(const FileHandle &file);
std::optional<double> read(const QString &path);

} // namespace tampod::MP3TempoMetadata
