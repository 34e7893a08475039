#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Appends a tempo to a freshly written WAV or AIFF file as container chunks: an ID3v2.3 tag
// (TBPM with the whole-number text, TXXX "tamPOD_BPM" with the precise text) and, for WAV, an
// "acid" chunk; then corrects the RIFF/FORM size. Existing chunks are never searched, replaced
// or rewritten.
namespace tampod::ExportTempoWriter {

// The container being tagged. The export engine maps every other output format to
// `unsupported`, which is refused.
enum class Container { wav, aiff, unsupported };

// Does nothing when bpm is absent, not finite or not greater than 0. Throws
// TempoWriteError(tempoMetadata) for an unsupported container, a short or foreign header or a
// declared size that disagrees with the file's length; TempoWriteError(tooLarge) when the
// size field would pass 4,294,967,295; Cancelled when the current task is cancelled before
// anything is written; SystemError for failing opens, reads, writes and the final fsync. The
// file is opened for update without following a link (ELOOP) and must be a regular file.
void write(std::optional<double> bpm, const QString &path, Container container);

// The ID3v2.3 tag put into the tag chunk for a usable tempo; also a valid MP3 tag.
QByteArray id3Tag(double bpm);

} // namespace tampod::ExportTempoWriter
