#include "core/file_system_call.h"

#include <atomic>

namespace tampod::FileSystemCall {

namespace {
std::atomic<Observer> observer{nullptr};
}

void setObserver(Observer newObserver) noexcept
{
    observer.store(newObserver);
}

void notify(const char *operation) noexcept
{
    if (const Observer current = observer.load(std::memory_order_relaxed))
        current(operation);
}

} // namespace tampod::FileSystemCall
