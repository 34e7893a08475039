#pragma once

#include "core/file_handle.h"

#include <QString>

#include <optional>

// The WAV-native tempo places: the "acid" chunk and the "IBPM" entry of a LIST/INFO chunk.
// Chunk headers are visited with seeks; audio data is never read. Every failure is no tempo;
// only Cancelled is thrown, when the current task is cancelled. Only usable tempos are returned.
namespace tampod::WAVTempoReader {

// Most chunks and INFO entries visited in one call, together.
inline constexpr int maximumVisits = 65'536;

// infoOnly false: the tempo of the first "acid" chunk of at least 24 bytes (an unusable one
// ends the read). infoOnly true: the first usable "IBPM" text of a LIST of type "INFO".
// The file is read with positioned reads only.
std::optional<double> read(const FileHandle &file, bool infoOnly);
std::optional<double> read(const QString &path, bool infoOnly);

} // namespace tampod::WAVTempoReader
