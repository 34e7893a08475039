#pragma once

#include "core/file_handle.h"
#include "tags/tempo_model.h"

#include <QString>

#include <optional>

// The tempo of an MPEG-4 audio file in moov/udta/meta/ilst: the standard "tmpo" item and a
// freeform "----" item (our mean, the name "BPM") holding the precise text.
namespace tampod::M4ATempoMetadata {

// The first usable precise value of our freeform item and the first "tmpo" value above 0;
// none when the boxes on the way break the size rules. Throws only Cancelled, when the current
// task is cancelled.
std::optional<StoredTempo> values(const FileHandle &file);

// The precise value when it agrees with "tmpo" or stands alone, else the "tmpo" value.
std::optional<double> inForce(const StoredTempo &values);

// values, then inForce. Every failure is no tempo; only Cancelled is thrown. The file is read
// with positioned reads only.
std::optional<double> read(const FileHandle &file);
std::optional<double> read(const QString &path);

// Adds the freeform item and, for whole numbers 1...65,535, a "tmpo" item at the end of the
// ilst, creating missing boxes. The media data never moves: the rewritten moov is appended and
// the old one becomes a "free" box of the same length. Does nothing without a usable tempo.
// Throws TempoWriteError(tempoMetadata) for boxes that break the size rules or a moov that
// would pass 16 MiB, Cancelled, both before the file is changed, and SystemError for I/O (a
// link at path is refused with ELOOP, anything but a regular file with NotARegularFile).
void write(std::optional<double> bpm, const QString &path);

} // namespace tampod::M4ATempoMetadata
