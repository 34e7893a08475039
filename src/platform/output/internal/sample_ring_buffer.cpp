#include "platform/output/internal/sample_ring_buffer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace tampod {

SampleRingBuffer::SampleRingBuffer(int channels, std::int64_t capacityFrames)
    : channels_(channels)
{
    if (channels < 1 || capacityFrames < 1 || capacityFrames > (std::int64_t(1) << 30))
        throw std::invalid_argument("ring buffer size out of range");
    const auto frames = std::bit_ceil(static_cast<std::uint64_t>(capacityFrames));
    mask_ = frames - 1;
    data_ = std::make_unique<float[]>(frames * static_cast<std::uint64_t>(channels));
}

std::int64_t SampleRingBuffer::readable() const noexcept
{
    return static_cast<std::int64_t>(written_.load(std::memory_order_acquire)
                                     - read_.load(std::memory_order_acquire));
}

std::int64_t SampleRingBuffer::writable() const noexcept
{
    return capacity() - readable();
}

std::int64_t SampleRingBuffer::write(const float *frames, std::int64_t count) noexcept
{
    const auto head = written_.load(std::memory_order_relaxed);
    const auto tail = read_.load(std::memory_order_acquire);
    const auto free = static_cast<std::int64_t>(mask_ + 1 - (head - tail));
    const auto n = std::min(count, free);
    if (n <= 0)
        return 0;
    const auto start = head & mask_;
    const auto first = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), mask_ + 1 - start);
    std::memcpy(data_.get() + start * channels_, frames, first * channels_ * sizeof(float));
    if (first < static_cast<std::uint64_t>(n))
        std::memcpy(data_.get(), frames + first * channels_, (n - first) * channels_ * sizeof(float));
    written_.store(head + n, std::memory_order_release);
    return n;
}

std::int64_t SampleRingBuffer::read(float *frames, std::int64_t count) noexcept
{
    const auto tail = read_.load(std::memory_order_relaxed);
    const auto head = written_.load(std::memory_order_acquire);
    const auto n = std::min(count, static_cast<std::int64_t>(head - tail));
    if (n <= 0)
        return 0;
    const auto start = tail & mask_;
    const auto first = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), mask_ + 1 - start);
    std::memcpy(frames, data_.get() + start * channels_, first * channels_ * sizeof(float));
    if (first < static_cast<std::uint64_t>(n))
        std::memcpy(frames + first * channels_, data_.get(), (n - first) * channels_ * sizeof(float));
    read_.store(tail + n, std::memory_order_release);
    return n;
}

void SampleRingBuffer::reset() noexcept
{
    written_.store(0, std::memory_order_release);
    read_.store(0, std::memory_order_release);
}

} // namespace tampod
