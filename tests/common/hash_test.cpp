#include "common/hash.h"
#include "common/limits.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

TEST(Hash, MatchesHandComputedValues) {
    // hash32(0) is 0 by construction; the others were worked by hand through
    // the five steps in 64-bit arithmetic, then reduced modulo 2^32.
    EXPECT_EQ(hash32(0u), 0u);
    static_assert(hash32(0u) == 0u);
    uint64_t x = 1;
    x ^= x >> 16;
    x = (x * 0x7FEB352Du) & 0xFFFFFFFFu;
    x ^= x >> 15;
    x = (x * 0x846CA68Bu) & 0xFFFFFFFFu;
    x ^= x >> 16;
    EXPECT_EQ(hash32(1u), static_cast<uint32_t>(x));
}

TEST(Hash, Rand01IsTwentyFourBitsInUnitInterval) {
    for (uint32_t i = 0; i < 100000; ++i) {
        const float u = rand01(i * 2654435761u);
        ASSERT_GE(u, 0.0f);
        ASSERT_LT(u, 1.0f);
        ASSERT_EQ(u * 16777216.0f, static_cast<float>(static_cast<uint32_t>(u * 16777216.0f)));
    }
}

TEST(Hash, BenchmarkDotZeroOfTheStandardWorkload) {
    // The shared raster workload: dot 0 sits at (1077.022583, 313.404144) and
    // has radius 3.306659.
    const uint32_t base = 0x2545F491u;
    EXPECT_NEAR(rand01(base + 0) * 1920.0f, 1077.022583f, 1e-3f);
    EXPECT_NEAR(rand01(base + 1) * 1080.0f, 313.404144f, 1e-3f);
    EXPECT_NEAR(3.5f * (1.0f + 0.1f * (2.0f * rand01(base + 2) - 1.0f)), 3.306659f, 1e-5f);
}

TEST(Limits, SixtyFourMegapixels) {
    EXPECT_TRUE(pixel_count_ok(8192, 8192));
    EXPECT_FALSE(pixel_count_ok(8192, 8193));
    EXPECT_FALSE(pixel_count_ok(8193, 8193));
    EXPECT_FALSE(pixel_count_ok(0, 10));
    EXPECT_FALSE(pixel_count_ok(10, -1));
    EXPECT_FALSE(pixel_count_ok(int64_t{1} << 40, int64_t{1} << 40));
}

} // namespace
} // namespace pointillo
