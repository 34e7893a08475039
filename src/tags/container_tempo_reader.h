#pragma once

#include "core/file_handle.h"
#include "tags/tempo_model.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

// Reads the tempo an ID3v2 tag carries (TBPM and the TXXX "tamPOD_BPM") in the "id3 " chunk of
// a RIFF/WAVE file or the "ID3 " chunk of a FORM/AIFF or AIFC file. Every failure is no tempo;
// only Cancelled is thrown, when the current task is cancelled. Only usable tempos are returned.
namespace tampod::ContainerTempoReader {

// Most bytes of one tag read into memory; larger tags give no tempo.
inline constexpr std::uint32_t maximumTagSize = 1'048'576;
// Most chunks examined in one walk.
inline constexpr int maximumChunks = 65'536;

// The first tempo any ID3 chunk of the file yields. With pairedOnly, a standard value without
// a matching precise value is no tempo. The file is read with positioned reads only.
std::optional<double> read(const FileHandle &file, bool pairedOnly);
std::optional<double> read(const QString &path, bool pairedOnly);

// The values of one complete tag held in memory, its 10-byte header included: the last
// TBPM read as a number of at least 0, and the last "tamPOD_BPM" TXXX (absent when unusable).
// None for a tag the parser cannot read; Cancelled when the current task is cancelled.
std::optional<StoredTempo> tagValues(std::span<const std::uint8_t> tag);

// The tempo in force: the precise value when it agrees with the standard one, else the
// standard one when above 0; with pairedOnly a standard value alone is no tempo.
std::optional<double> inForce(const StoredTempo &values, bool pairedOnly);

// tagValues, then inForce.
std::optional<double> readTag(std::span<const std::uint8_t> tag, bool pairedOnly);
std::optional<double> readTag(const QByteArray &tag, bool pairedOnly);

} // namespace tampod::ContainerTempoReader
