#pragma once

#include "core/file_handle.h"

#include <QString>

#include <optional>

// The tempo in a FLAC file's Vorbis comments and the format in its STREAMINFO, read from the
// metadata blocks at the head of the file; audio frames are never decoded. The tempo is
// written as "BPM" and "TAMPOD_BPM", both with the precise text, and read from "BPM",
// "TAMPOD_BPM" or "TEMPO" in that order, keys compared without regard to case.
namespace tampod::FLACTempoMetadata {

inline constexpr int maximumBlocks = 1'024;
// The sum of 4 + body length over all metadata blocks.
inline constexpr qint64 maximumMetadataBytes = 16'777'216;
inline constexpr qint64 maximumCommentBody = 16'777'215;

// What STREAMINFO says of the audio; the library turns it into its source format.
struct StreamFormat {
    int sampleRate = 0;    // Hz, 1...1,048,575
    int bitsPerSample = 0; // 1...32

    bool operator==(const StreamFormat &) const = default;
};

// The first usable tempo of the first comment block. Every failure is no tempo; only Cancelled
// is thrown, when the current task is cancelled. The file is read with positioned reads only.
std::optional<double> read(const FileHandle &file);
std::optional<double> read(const QString &path);

// The rate and bit depth of a file whose first block is a 34-byte STREAMINFO with a rate
// above 0; only the first 42 bytes are read. Never throws.
std::optional<StreamFormat> sourceFormat(const QString &path);

// The comment block a new file's tempo takes, with its header marked as the last block: what
// copyTagging adds to a file that has only STREAMINFO. Empty without a usable tempo.
QByteArray newCommentBlock(std::optional<double> bpm);

// Copies source to a new file at destination, its first comment block rewritten to carry the
// tempo with the vendor "tamPOD" (a new block is appended when there is none); other blocks and
// the audio bytes are copied unchanged. Without a usable tempo the copy is exact. The
// destination is created exclusively (never through a link), never emptied; the source is
// opened as an outside file, so a FIFO or device is refused at once. Throws
// TempoWriteError(storage) when the destination cannot be created, TempoWriteError(tempoMetadata) for a malformed head or comment block or
// one past the limits, Cancelled, and SystemError for other I/O failures.
void copyTagging(std::optional<double> bpm, const QString &source, const QString &destination);

} // namespace tampod::FLACTempoMetadata
