#pragma once

#include "tags/tempo_model.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

// The native tempo of an SD2 file: the 420-byte 'sdDD' document record, whose tempo field is a
// 16.16 fixed-point number of beats per second. The word cannot hold every decimal tempo, so a
// precise text tempo is stored beside it and trusted only while it rounds to the same word.
namespace tampod::SD2DocumentTempo {

inline constexpr int recordLength = 420;
inline constexpr int tempoOffset = 288;

// The BPM of a record: exactly 420 bytes, starting 00 01, with a tempo word of 1...2^31-1.
std::optional<double> read(const QByteArray &record);

// The 16.16 beats-per-second word of a tempo, rounded half away from zero; none when the tempo
// is not finite, not above 0, or falls outside 1...2^31-1 once converted.
std::optional<std::uint32_t> fixedWord(double bpm);

// A minimal record carrying the tempo; none when the tempo has no word.
std::optional<QByteArray> record(double bpm);

// The tempo in force, the record's tempo being the standard value: the precise one while both
// round to the same word, else the native one.
std::optional<double> inForce(const StoredTempo &values);

} // namespace tampod::SD2DocumentTempo
