#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace tampod {

// A single-producer, single-consumer ring of interleaved float frames between a decoder
// thread and the real-time output callback. Neither side locks or allocates. reset() is only
// for moments when neither side runs (the owner guarantees that).
class SampleRingBuffer {
public:
    // The capacity is rounded up to a power of two frames.
    SampleRingBuffer(int channels, std::int64_t capacityFrames);

    int channels() const noexcept { return channels_; }
    std::int64_t capacity() const noexcept { return static_cast<std::int64_t>(mask_ + 1); }

    std::int64_t readable() const noexcept;
    std::int64_t writable() const noexcept;

    // Producer side: copies up to count frames in; returns how many fitted.
    std::int64_t write(const float *frames, std::int64_t count) noexcept;
    // Consumer side: copies up to count frames out; returns how many there were.
    std::int64_t read(float *frames, std::int64_t count) noexcept;

    void reset() noexcept;

private:
    int channels_;
    std::uint64_t mask_;
    std::unique_ptr<float[]> data_;
    alignas(64) std::atomic<std::uint64_t> written_{0}; // thread: producer stores, consumer loads
    alignas(64) std::atomic<std::uint64_t> read_{0};    // thread: consumer stores, producer loads
};

} // namespace tampod
