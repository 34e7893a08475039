#pragma once

#include "concurrency/cancellation.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// Encodes an integer PCM file into a new FLAC file with libFLAC at its default level, spans of
// whole blocks on several threads at once. FLAC blocks are encoded independently, so each span's
// frames are those one encoder would make; they are renumbered into one stream (frame numbers,
// CRC-8 and CRC-16 redone) and written in order behind one STREAMINFO that carries the MD5 of
// all the audio. Memory stays bounded: only a few spans are in flight at a time.
namespace tampod::FlacFileEncoder {

inline constexpr int blockFrames = 4096;
inline constexpr std::int64_t spanFrames = 32 * blockFrames;

// source: integer PCM of exactly bitsPerSample (16 or 24) bits, 1 to 8 channels. destination
// is created exclusively and removed again on any failure; when encode returns it is whole but
// not yet flushed: whoever publishes it flushes it first. metadata: whole metadata blocks to
// follow STREAMINFO, the last one marked as the last, or nothing. progress gets the fraction of
// the audio written, on the calling thread, 0 first, once the source is open.
// Throws AudioFileError (the source is not such a file, or libFLAC refused), SourceReadError
// (an AudioFileError: reading the source failed or it ended early), SystemError for the files,
// Cancelled.
void encode(const QString &source, const QString &destination, int bitsPerSample,
            const std::function<void(double)> &progress, const CancellationToken &token = {},
            const QByteArray &metadata = {});

} // namespace tampod::FlacFileEncoder
