#pragma once

#include <QByteArray>

#include <optional>

// The precise tempo of an SD2 file, kept as the text resource 'sBPM' 128 beside the native
// 16.16 document record.
namespace tampod::SD2TempoMetadata {

inline constexpr char prefix[] = "tamPOD_BPM=";

// The tempo of an 'sBPM' payload: ASCII "tamPOD_BPM=" and a finite number above 0.
std::optional<double> decode(const QByteArray &payload);

} // namespace tampod::SD2TempoMetadata
