// The pool of large buffers: what it hands out again, what it keeps idle and
// when it lets go. The pool is process-wide, so every test starts it empty.

#include "memory/buffer_pool.h"

#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pointillo {
namespace {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

class BufferPool : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_buffer_pool();
        ASSERT_EQ(buffer_pool_stats().lent_blocks, 0u);
    }
    void TearDown() override {
        EXPECT_EQ(buffer_pool_stats().lent_blocks, 0u) << "a test left a block out";
        clear_buffer_pool();
    }
};

TEST_F(BufferPool, GivesAnIdleBlockBackOnlyWhenItFits) {
    struct Row {
        std::size_t first;  // taken and given back
        std::size_t second; // taken next
        bool same_block;
    };
    const Row rows[] = {
        {1 * kMiB, 1 * kMiB, true},
        {1 * kMiB, 1 * kMiB - 100, true},
        {1 * kMiB + kKiB, 1 * kMiB + 100 * kKiB, true}, // one size class: up to 1.125 MiB
        {1 * kMiB, 600 * kKiB, true},                   // at most twice the request
        {1 * kMiB, 400 * kKiB, false},                  // would waste more than the request
        {1 * kMiB, 1 * kMiB + kKiB, false},             // too small
        {64 * kKiB, 64 * kKiB, true},                   // the smallest pooled block
    };
    for (const Row& row : rows) {
        clear_buffer_pool();
        const std::string label = std::to_string(row.first) + " then " + std::to_string(row.second);
        void* first = pool_take(row.first);
        std::memset(first, 1, row.first); // the whole request is usable
        pool_give(first);
        EXPECT_EQ(buffer_pool_stats().idle_blocks, 1u) << label;
        void* second = pool_take(row.second);
        std::memset(second, 2, row.second);
        EXPECT_EQ(second == first, row.same_block) << label;
        pool_give(second);
    }
}

TEST_F(BufferPool, TakesTheSmallestBlockThatFits) {
    void* large = pool_take(1500 * kKiB);
    void* small = pool_take(1 * kMiB);
    pool_give(large);
    pool_give(small);
    void* again = pool_take(900 * kKiB);
    EXPECT_EQ(again, small);
    pool_give(again);
}

TEST_F(BufferPool, KeepsNoMoreIdleThanWasLentAtOnce) {
    // Three frames' worth at once, then one frame at a time: all three stay,
    // so the next three frames at once find their buffers.
    std::vector<void*> blocks;
    for (int i = 0; i < 3; ++i) {
        blocks.push_back(pool_take(8 * kMiB));
    }
    const std::size_t peak = buffer_pool_stats().lent_bytes;
    for (void* block : blocks) {
        pool_give(block);
    }
    BufferPoolStats stats = buffer_pool_stats();
    EXPECT_EQ(stats.idle_blocks, 3u);
    EXPECT_EQ(stats.idle_bytes, peak);
    EXPECT_EQ(stats.peak_lent_bytes, peak);

    // A lone frame of another size: its block stays too only as long as the
    // idle total is within the peak, the oldest going first.
    void* other = pool_take(3 * kMiB);
    pool_give(other);
    stats = buffer_pool_stats();
    EXPECT_LE(stats.idle_bytes, stats.peak_lent_bytes);
    EXPECT_EQ(stats.idle_blocks, 3u) << "the oldest 8 MiB block makes room";
}

TEST_F(BufferPool, KeepsAtMostTheBlockCap) {
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < kPoolIdleBlocksCap + 10; ++i) {
        blocks.push_back(pool_take(64 * kKiB));
    }
    for (void* block : blocks) {
        pool_give(block);
    }
    EXPECT_EQ(buffer_pool_stats().idle_blocks, kPoolIdleBlocksCap);
}

TEST_F(BufferPool, FreesBlocksNoTakeWants) {
    // Buffers of an earlier output size: nothing takes them, and after
    // kPoolStaleTakes takes of the new size they are gone.
    void* old_size = pool_take(4 * kMiB);
    pool_give(old_size);
    for (uint64_t i = 0; i <= kPoolStaleTakes; ++i) {
        pool_give(pool_take(128 * kKiB));
    }
    const BufferPoolStats stats = buffer_pool_stats();
    EXPECT_EQ(stats.idle_blocks, 1u);
    EXPECT_LT(stats.idle_bytes, 4 * kMiB);
}

TEST_F(BufferPool, ClearFreesTheIdleAndForgetsThePeak) {
    void* kept = pool_take(2 * kMiB);
    pool_give(pool_take(8 * kMiB));
    clear_buffer_pool();
    BufferPoolStats stats = buffer_pool_stats();
    EXPECT_EQ(stats.idle_blocks, 0u);
    EXPECT_EQ(stats.idle_bytes, 0u);
    EXPECT_EQ(stats.peak_lent_bytes, stats.lent_bytes) << "only what is still out counts";
    // A block lent across the clear comes back as usual.
    pool_give(kept);
    stats = buffer_pool_stats();
    EXPECT_EQ(stats.lent_blocks, 0u);
    EXPECT_EQ(stats.idle_blocks, 1u);
}

TEST_F(BufferPool, PooledVectorsPoolOnlyLargeStorage) {
    {
        PooledVector<float> small(1000);
        EXPECT_EQ(buffer_pool_stats().lent_blocks, 0u) << "4000 bytes come from the heap";
        PooledVector<float> large(kPooledBlockBytes / sizeof(float));
        EXPECT_EQ(buffer_pool_stats().lent_blocks, 1u);
        large[large.size() - 1] = 1.0f;
    }
    EXPECT_EQ(buffer_pool_stats().idle_blocks, 1u);
    // Value-initialised even in a reused block.
    const PooledVector<float> again(kPooledBlockBytes / sizeof(float));
    EXPECT_EQ(again.back(), 0.0f);
}

TEST_F(BufferPool, RefusesASizeNoBlockCanHold) {
    EXPECT_THROW(pool_take(~std::size_t{0} - 8), std::bad_alloc);
    EXPECT_EQ(buffer_pool_stats().lent_blocks, 0u);
}

} // namespace
} // namespace pointillo
