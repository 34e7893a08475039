#pragma once

#include <optional>

namespace tampod {

// The parameters of an SD2 file's headerless PCM and its stored tempos.
struct SD2Metadata {
    static constexpr int minimumSampleRate = 8000;
    static constexpr int maximumSampleRate = 192000;

    int sampleBytes = 0; // bytes per sample, 1...4
    int sampleRate = 0;  // Hz, a whole number from minimumSampleRate to maximumSampleRate
    int channels = 0;    // 1 or 2
    std::optional<double> bpm;       // the tempo in force: the precise or the native one
    std::optional<double> nativeBPM; // the tempo of the 16.16 document record

    bool operator==(const SD2Metadata &) const = default;
};

} // namespace tampod
