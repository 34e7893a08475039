#pragma once

#include <cstdint>

namespace tampod {

// Decoded audio as the player reads it: interleaved float frames at the file's own rate.
// Used by one thread at a time.
class PcmSource {
public:
    virtual ~PcmSource() = default;
    virtual int channels() const = 0;
    virtual double sampleRate() const = 0;
    // Exact length in frames: what a full decode delivers.
    virtual std::int64_t length() const = 0;
    virtual void seek(std::int64_t frame) = 0;
    // Reads up to frames frames; 0 only at the end. Throws a typed error on bad data.
    virtual std::int64_t read(float *interleaved, std::int64_t frames) = 0;
};

} // namespace tampod
