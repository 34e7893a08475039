#pragma once

#include "library/export_format.h"

#include <cstdint>

namespace tampod {

// The layout of a PCM export's file in its container: WAV (little-endian; 8-bit unsigned),
// AIFF (big-endian signed), or an SD2 data fork (headerless big-endian signed); or the 32-bit
// float intermediate of a treated export.
struct PCMOutputFormat {
    ExportFormat container = ExportFormat::wav; // wav, aiff or sd2; floatIntermediate ignores it
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
    bool floatIntermediate = false;

    // The PCM path's output of settings: WAV, SD2, and AIFF for every other format.
    static PCMOutputFormat integer(ExportFormat format, int sampleRate, int channels, int bits);
    static PCMOutputFormat intermediate(int sampleRate, int channels);
    // WAV 8-bit is the one unsigned layout.
    bool isSigned() const { return !floatIntermediate && !(container == ExportFormat::wav && bits == 8); }
    std::int64_t bytesPerFrame() const { return std::int64_t(channels) * (bits / 8); }
};

} // namespace tampod
