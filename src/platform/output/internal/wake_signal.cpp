#include "platform/output/internal/wake_signal.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace tampod {

namespace {

std::uint32_t *word(std::atomic<std::uint32_t> &value)
{
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    return reinterpret_cast<std::uint32_t *>(&value);
}

} // namespace

void WakeSignal::signal() noexcept
{
    if (raised_.exchange(1, std::memory_order_acq_rel) == 0)
        syscall(SYS_futex, word(raised_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

bool WakeSignal::waitFor(std::chrono::milliseconds timeout) noexcept
{
    if (raised_.exchange(0, std::memory_order_acq_rel) != 0)
        return true;
    const auto ms = timeout.count() < 0 ? 0 : timeout.count();
    timespec relative{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    // Sleeps only while the word is still 0; a signal in between makes this return at once.
    syscall(SYS_futex, word(raised_), FUTEX_WAIT_PRIVATE, 0, &relative, nullptr, 0);
    return raised_.exchange(0, std::memory_order_acq_rel) != 0;
}

} // namespace tampod
