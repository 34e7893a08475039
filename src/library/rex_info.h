#pragma once

#include <cstdint>
#include <vector>

namespace tampod {

// A REX loop's parameters as the decoder library reports them in its nine-word record.
struct REXInfo {
    // What the program accepts of a loop.
    static constexpr int minimumSampleRate = 8'000;
    static constexpr int maximumSampleRate = 192'000;
    static constexpr int minimumTempo = 20'000;  // thousandths of a beat per minute
    static constexpr int maximumTempo = 450'000; // thousandths of a beat per minute
    static constexpr double maximumDecodedBytes = 268'435'456; // 256 MiB of 32-bit samples

    int channels = 0;
    int sampleRate = 0;
    int slices = 0;
    int savedTempo = 0;    // carried unchanged, never checked
    int originalTempo = 0; // thousandths of a beat per minute
    int ppqLength = 0;     // ticks of 1/15,360 of a quarter note
    int bitDepth = 0;

    bool operator==(const REXInfo &) const = default;

    // Throws REXError::verification for a record that is not nine words and
    // REXError::limits for a loop outside what the program accepts.
    static REXInfo fromWords(const std::vector<std::int32_t> &words);

    // The loop length in frames at its own rate and tempo, halves away from zero; 0 when the
    // fields give no finite length.
    std::int64_t frames() const;
};

} // namespace tampod
