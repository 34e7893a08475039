#include "app/bounded_release.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tampod;

TEST(BoundedRelease, WaitsForQuickOwnersAndGivesUpOnSlowOnes)
{
    std::atomic<int> released{0};
    const auto owner = [&](std::chrono::milliseconds takes) {
        return std::shared_ptr<void>(new int(0), [&, takes](void *p) {
            std::this_thread::sleep_for(takes);
            delete static_cast<int *>(p);
            ++released;
        });
    };
    // Moved in, so that the release thread holds the last references.
    std::vector<std::shared_ptr<void>> quick{owner(std::chrono::milliseconds(0)), owner(std::chrono::milliseconds(20))};
    EXPECT_TRUE(releaseWithin(std::move(quick), std::chrono::seconds(10)));
    EXPECT_EQ(released, 2);
    std::vector<std::shared_ptr<void>> slow{owner(std::chrono::milliseconds(300))};
    EXPECT_FALSE(releaseWithin(std::move(slow), std::chrono::milliseconds(10)));
    EXPECT_LT(released, 3);
    while (released < 3) // the detached release still ends
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
