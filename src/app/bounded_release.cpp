#include "app/bounded_release.h"

#include "concurrency/thread_start.h"

#include <future>

namespace tampod {

bool releaseWithin(std::vector<std::shared_ptr<void>> owners, std::chrono::milliseconds bound)
{
    std::promise<void> released;
    std::future<void> done = released.get_future();
    std::jthread releaser = startThread([owners = std::move(owners), released = std::move(released)]() mutable {
        owners.clear();
        released.set_value();
    });
    if (done.wait_for(bound) == std::future_status::ready)
        return true;
    releaser.detach(); // still joining: the process ends without it
    return false;
}

} // namespace tampod
