#include "app/bounded_release.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace tampod;

TEST(BoundedRelease, WaitsForQuickOwnersAndGivesUpOnSlowOnes)
{
    std::atomic<int> released{0};
    // The slow owner lets go once the test has seen the release give up on it (or, should the
    // release wait for it, after half a minute).
    std::promise<void> letGo;
    const std::shared_future<void> gate = letGo.get_future().share();
    const auto owner = [&](std::chrono::milliseconds takes, std::shared_future<void> waitFor = {}) {
        return std::shared_ptr<void>(new int(0), [&, takes, waitFor](void *p) {
            std::this_thread::sleep_for(takes);
            if (waitFor.valid())
                waitFor.wait_for(std::chrono::seconds(30));
            delete static_cast<int *>(p);
            ++released;
        });
    };
    // Moved in, so that the release thread holds the last references.
    std::vector<std::shared_ptr<void>> quick{owner(std::chrono::milliseconds(0)), owner(std::chrono::milliseconds(20))};
    EXPECT_TRUE(releaseWithin(std::move(quick), std::chrono::seconds(10)));
    EXPECT_EQ(released, 2);
    std::vector<std::shared_ptr<void>> slow{owner(std::chrono::milliseconds(0), gate)};
    EXPECT_FALSE(releaseWithin(std::move(slow), std::chrono::milliseconds(10)));
    EXPECT_EQ(released, 2);
    letGo.set_value();
    while (released < 3) // the detached release still ends
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
