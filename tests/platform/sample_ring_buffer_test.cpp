#include "platform/output/internal/sample_ring_buffer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace tampod;

TEST(SampleRingBuffer, KeepsOrderAcrossTheWrapAndBetweenThreads)
{
    SampleRingBuffer ring(2, 1000);
    EXPECT_EQ(ring.capacity(), 1024);
    std::vector<float> block(2 * 2000);
    EXPECT_EQ(ring.write(block.data(), 700), 700);
    EXPECT_EQ(ring.write(block.data(), 700), 324); // only what fits
    EXPECT_EQ(ring.writable(), 0);
    EXPECT_EQ(ring.read(block.data(), 2000), 1024);
    EXPECT_EQ(ring.read(block.data(), 1), 0);

    // A producer and a consumer running freely see every frame once, in order.
    const std::int64_t total = 2'000'000;
    std::thread producer([&] {
        std::vector<float> frames(2 * 333);
        std::int64_t next = 0;
        while (next < total) {
            const auto n = std::min<std::int64_t>(333, total - next);
            for (std::int64_t i = 0; i < n; ++i)
                frames[2 * i] = frames[2 * i + 1] = static_cast<float>((next + i) % 65536);
            std::int64_t done = 0;
            while (done < n)
                done += ring.write(frames.data() + 2 * done, n - done);
            next += n;
        }
    });
    std::vector<float> frames(2 * 257);
    std::int64_t expected = 0;
    std::int64_t firstWrong = -1;
    while (expected < total) {
        const auto n = ring.read(frames.data(), 257);
        for (std::int64_t i = 0; i < n; ++i, ++expected) {
            const bool right = frames[2 * i] == static_cast<float>(expected % 65536)
                               && frames[2 * i + 1] == frames[2 * i];
            if (!right && firstWrong < 0)
                firstWrong = expected;
        }
    }
    producer.join();
    EXPECT_EQ(firstWrong, -1);
    EXPECT_EQ(ring.readable(), 0);
}
