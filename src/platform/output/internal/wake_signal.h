#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tampod {

// Wakes one waiting thread from any thread, the real-time callback included: signal() is an
// atomic exchange plus, at most, one futex wake; it never locks or allocates.
class WakeSignal {
public:
    void signal() noexcept;
    // Returns when signalled (true) or when the timeout passed (false); consumes the signal.
    bool waitFor(std::chrono::milliseconds timeout) noexcept;

private:
    std::atomic<std::uint32_t> raised_{0}; // thread: any
};

} // namespace tampod
