#pragma once

#include "concurrency/cancellation.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// Writes a complete FLAC file by hand for renders too short for the encoder's fixed blocks (at
// most 4,607 frames): "fLaC", one STREAMINFO with the MD5 of the audio, and one frame holding
// every sample uncompressed (VERBATIM subframes) with its CRC-8 and CRC-16.
namespace tampod::ShortFLACWriter {

inline constexpr std::int64_t maximumFrames = 4607;

// Reads the integer WAV at source (exactly bitDepth bits, 16 or 24; 1 or 2 channels; 1 to
// 4,607 frames; one of the export sample rates) and creates destination exclusively. Any other
// input, or a sample that is not exactly on the bitDepth grid, is AudioExportError
// verificationFailed; open, read and write errors are the system's. Nothing is left at
// destination after a failure.
void write(const QString &source, const QString &destination, int bitDepth, const CancellationToken &token = {});

// x as a bitDepth-bit integer when x × 2^(bitDepth − 1) is exactly one in range; else none.
std::optional<std::int32_t> exactInteger(float x, int bitDepth);

// The file's bytes for integer samples, interleaved (frames × channels values).
QByteArray encode(const std::int32_t *samples, std::int64_t frames, int channels, int sampleRate, int bitDepth);

// A CRC of width bits over data, most significant bit first, initial value 0, no reflection,
// no final XOR.
std::uint32_t crc(const QByteArray &data, int width, std::uint32_t polynomial);

} // namespace tampod::ShortFLACWriter
