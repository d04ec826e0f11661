// Several renders take and give back pool blocks at once: every block is
// lent to one thread at a time, and the pool's counts add up afterwards.

#include "memory/buffer_pool.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace pointillo {
namespace {

TEST(BufferPoolConcurrency, ThreadsNeverShareABlock) {
    clear_buffer_pool();
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::vector<int> bad(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &bad] {
            for (int round = 0; round < kRounds; ++round) {
                // Sizes of a few frames' buffers, varied by thread and round.
                const std::size_t bytes = (64 + static_cast<std::size_t>((t * 7 + round) % 5) * 40)
                                          << 10;
                auto* block = static_cast<unsigned char*>(pool_take(bytes));
                const auto mark = static_cast<unsigned char>(t + 1);
                std::memset(block, mark, bytes);
                std::this_thread::yield();
                for (std::size_t i = 0; i < bytes; i += 4096) {
                    bad[static_cast<std::size_t>(t)] += block[i] != mark ? 1 : 0;
                }
                pool_give(block);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(bad[static_cast<std::size_t>(t)], 0) << "thread " << t;
    }
    const BufferPoolStats stats = buffer_pool_stats();
    EXPECT_EQ(stats.lent_blocks, 0u);
    EXPECT_EQ(stats.lent_bytes, 0u);
    EXPECT_LE(stats.idle_bytes, stats.peak_lent_bytes);
    clear_buffer_pool();
}

} // namespace
} // namespace pointillo
