#include "common/hash.h"
#include "source/cloud.h"
#include "source/grouping.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace pointillo {
namespace {

// A blank W x H mask (coverage 0, white), hashed.
SourceMask blank_mask(int32_t width, int32_t height) {
    SourceMask mask;
    mask.width = width;
    mask.height = height;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    mask.coverage.assign(n, 0);
    mask.colors = straight_colors(n, Rgb{});
    return mask;
}

void set(SourceMask& mask, int32_t x, int32_t y, uint16_t coverage) {
    mask.coverage[static_cast<std::size_t>(y * mask.width + x)] = coverage;
}

void fill(SourceMask& mask, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint16_t coverage) {
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            set(mask, x, y, coverage);
        }
    }
}

void rehash(SourceMask& mask) {
    mask.coverage_hash = coverage_hash(mask.coverage.data(), mask.coverage.size());
}

DotSettings grid(float spacing) {
    DotSettings s;
    s.distribution = Distribution::kGrid;
    s.spacing = spacing;
    return s;
}

TEST(Cloud, NothingOpaqueGivesAnEmptyCloud) {
    SourceMask faint = blank_mask(30, 20);
    fill(faint, 0, 0, 30, 20, 512); // 512 is not opaque
    SourceMask none;
    SourceMask zero_height = blank_mask(30, 0);
    for (const SourceMask* mask : {&faint, &none, &zero_height}) {
        const Cloud cloud = build_cloud(*mask, DotSettings{});
        EXPECT_TRUE(cloud.dots.empty());
        EXPECT_EQ(cloud.spacing, 8.0f);
        EXPECT_EQ(cloud.letter_count, 0);
        EXPECT_EQ(cloud.word_count, 0);
    }
}

TEST(Cloud, RefusesCoverageOfTheWrongSize) {
    SourceMask mask = blank_mask(4, 4);
    mask.coverage.resize(15, 65535);
    EXPECT_THROW((void)build_cloud(mask, DotSettings{}), std::invalid_argument);
}

TEST(Cloud, OnePixelUnderGrid) {
    SourceMask mask = blank_mask(20, 10);
    set(mask, 7, 3, 65535);
    const Cloud cloud = build_cloud(mask, grid(8.0f));
    ASSERT_EQ(cloud.dots.size(), 1u);
    const Dot& dot = cloud.dots[0];
    EXPECT_EQ(dot.x, 7.5f);
    EXPECT_EQ(dot.y, 3.5f);
    EXPECT_EQ(dot.x_norm, 0.5f);
    EXPECT_EQ(dot.y_norm, 0.5f);
    EXPECT_EQ(dot.radial, 0.0f);
    EXPECT_EQ(dot.dx, 0.0f);
    EXPECT_EQ(dot.dy, 0.0f);
    EXPECT_EQ(dot.letter_pos, 0.0f);
    EXPECT_EQ(dot.word_pos, 0.0f);
    EXPECT_EQ(dot.random, hash32(42u)); // cell (0, 0) with seed 42
    EXPECT_EQ(cloud.spacing, 8.0f);
    EXPECT_EQ(cloud.letter_count, 1);
    EXPECT_EQ(cloud.word_count, 1);
}

TEST(Cloud, DotBoundGrowsTheCell) {
    // 600 x 400 opaque at spacing 2 would make 60,000 dots; the cell grows
    // to sqrt(240000 / 24000) = 3.1623 instead.
    SourceMask mask = blank_mask(620, 410);
    fill(mask, 10, 5, 610, 405, 65535);
    const Cloud cloud = build_cloud(mask, grid(2.0f));
    EXPECT_EQ(cloud.spacing, static_cast<float>(std::sqrt(10.0)));
    EXPECT_NEAR(cloud.spacing, 3.1623f, 1e-4f);
    // Every cell of ceil(600 / N) x ceil(400 / N) lies on the box: one dot each.
    EXPECT_EQ(cloud.dots.size(), 190u * 127u);
}

TEST(Cloud, SpacingBelowTwoIsTwo) {
    SourceMask mask = blank_mask(24, 24);
    fill(mask, 2, 2, 22, 22, 65535);
    const Cloud two = build_cloud(mask, grid(2.0f));
    EXPECT_EQ(two.spacing, 2.0f);
    EXPECT_EQ(two.dots.size(), 100u);
    for (float spacing : {1.0f, 0.5f, 0.0f, -3.0f, std::nanf("")}) {
        const Cloud c = build_cloud(mask, grid(spacing));
        EXPECT_EQ(c.spacing, 2.0f) << "spacing " << spacing;
        EXPECT_EQ(c.dots.size(), two.dots.size()) << "spacing " << spacing;
    }
}

TEST(Cloud, InfiniteSpacingIsTheLargestFloat) {
    // Never reached from the "Spacing" slider; the conversions stay defined
    // and the result is that of the largest finite spacing.
    SourceMask mask = blank_mask(24, 24);
    fill(mask, 2, 2, 22, 22, 65535);
    const Cloud inf = build_cloud(mask, grid(INFINITY));
    const Cloud max = build_cloud(mask, grid(FLT_MAX));
    EXPECT_EQ(inf.spacing, FLT_MAX);
    EXPECT_EQ(inf.dots.size(), max.dots.size());
}

// One 8 x 8 cell under Grid with the box from (0, 0) to (7, 7): the cell
// centre is the point (4, 4), on pixel (4, 4).
SourceMask one_cell() {
    SourceMask mask = blank_mask(16, 16);
    set(mask, 0, 0, 65535);
    set(mask, 7, 7, 65535);
    return mask;
}

TEST(Cloud, CentreOnASolidEnoughPixelKeepsTheCellCentre) {
    SourceMask mask = one_cell();
    set(mask, 4, 4, 6554); // just at 10 %
    const Cloud cloud = build_cloud(mask, grid(8.0f));
    ASSERT_EQ(cloud.dots.size(), 1u);
    EXPECT_EQ(cloud.dots[0].x, 4.0f);
    EXPECT_EQ(cloud.dots[0].y, 4.0f);
}

TEST(Cloud, CentreOnAThinEdgeSnapsToTheNearestOpaquePixel) {
    SourceMask mask = one_cell();
    set(mask, 4, 4, 6553); // opaque but under 10 %
    set(mask, 3, 3, 512);  // just as near and first in scan order, but not opaque
    const Cloud cloud = build_cloud(mask, grid(8.0f));
    ASSERT_EQ(cloud.dots.size(), 1u);
    EXPECT_EQ(cloud.dots[0].x, 4.5f);
    EXPECT_EQ(cloud.dots[0].y, 4.5f);
}

TEST(Cloud, EqualDistancesGoToTheFirstPixelInScanOrder) {
    SourceMask mask = one_cell();
    set(mask, 3, 4, 65535); // row 4
    set(mask, 4, 3, 65535); // row 3: scanned first, same distance
    const Cloud cloud = build_cloud(mask, grid(8.0f));
    ASSERT_EQ(cloud.dots.size(), 1u);
    EXPECT_EQ(cloud.dots[0].x, 4.5f);
    EXPECT_EQ(cloud.dots[0].y, 3.5f);
}

TEST(Cloud, RadialIsNotStretchedForATinyCloud) {
    // A 2 x 2 block: the one dot lies 0.71 px from the box centre, which
    // stays 0.71, not 1.
    SourceMask mask = blank_mask(10, 10);
    fill(mask, 0, 0, 2, 2, 65535);
    const Cloud cloud = build_cloud(mask, grid(8.0f));
    ASSERT_EQ(cloud.dots.size(), 1u);
    EXPECT_EQ(cloud.dots[0].x, 1.5f);
    EXPECT_EQ(cloud.dots[0].y, 1.5f);
    EXPECT_EQ(cloud.dots[0].radial, static_cast<float>(std::hypot(0.5, 0.5)));
}

TEST(Cloud, RandomizedPointUsesTheCellHashChannels) {
    // Fully opaque, so every jittered point stands; cell (0, 0) only.
    SourceMask mask = blank_mask(64, 64);
    fill(mask, 0, 0, 64, 64, 65535);
    DotSettings s;
    s.distribution = Distribution::kRandomized;
    s.random_seed = 7;
    const Cloud cloud = build_cloud(mask, s);
    const uint32_t h = hash32(7u);
    const float px = ((rand01(h + 0x9E3779B9u) - 0.5f) * 1.0f + 0.5f) * 8.0f + 0.0f;
    const float py = ((rand01(h + 0x3C6EF372u) - 0.5f) * 1.0f + 0.5f) * 8.0f + 0.0f;
    const auto it = std::find_if(cloud.dots.begin(), cloud.dots.end(),
                                 [&](const Dot& d) { return d.random == h; });
    ASSERT_NE(it, cloud.dots.end());
    EXPECT_EQ(it->x, px);
    EXPECT_EQ(it->y, py);
    EXPECT_EQ(cloud.dots.size(), 64u);
}

// Letter-like blocks 14 columns wide: three letters 3 columns apart, a wide
// gap, then two more. Median width 14 makes the word threshold 4.62.
SourceMask text_mask() {
    SourceMask mask = blank_mask(200, 60);
    const int32_t starts[] = {10, 27, 44, 90, 107};
    for (int32_t x0 : starts) {
        fill(mask, x0, 15, x0 + 14, 45, 65535);
        fill(mask, x0 + 4, 22, x0 + 10, 38, 0); // a counter, as in an "o"
    }
    rehash(mask);
    return mask;
}

TEST(Cloud, LettersAndWordsReachTheDots) {
    const Cloud cloud = build_cloud(text_mask(), DotSettings{});
    EXPECT_EQ(cloud.letter_count, 5);
    EXPECT_EQ(cloud.word_count, 2);
    ASSERT_FALSE(cloud.dots.empty());
    for (const Dot& d : cloud.dots) {
        // Each gap is split at its midpoint: columns 25, 42, 73 and 105 start
        // the letters after the first.
        const int32_t c = static_cast<int32_t>(d.x);
        const int32_t letter = c < 25 ? 0 : c < 42 ? 1 : c < 73 ? 2 : c < 105 ? 3 : 4;
        EXPECT_EQ(d.letter_pos, static_cast<float>(letter) / 4.0f) << "x " << d.x;
        EXPECT_EQ(d.word_pos, c < 73 ? 0.0f : 1.0f) << "x " << d.x;
    }
}

TEST(Cloud, DotsAreSortedAndNormalised) {
    const Cloud cloud = build_cloud(text_mask(), DotSettings{});
    ASSERT_FALSE(cloud.dots.empty());
    EXPECT_TRUE(
        std::is_sorted(cloud.dots.begin(), cloud.dots.end(), [](const Dot& a, const Dot& b) {
            return a.x < b.x || (a.x == b.x && a.y < b.y);
        }));
    float largest = 0.0f;
    for (const Dot& d : cloud.dots) {
        // Box 10..120 x 15..44, centre (65.5, 30).
        EXPECT_EQ(d.x_norm, (d.x - 10.0f) / 110.0f);
        EXPECT_EQ(d.y_norm, (d.y - 15.0f) / 29.0f);
        EXPECT_EQ(d.dx, d.x - 65.5f);
        EXPECT_EQ(d.dy, d.y - 30.0f);
        largest = std::max(largest, d.radial);
    }
    EXPECT_EQ(largest, 1.0f);
}

TEST(Cloud, SameInputSameCloud) {
    const SourceMask mask = text_mask();
    DotSettings s;
    s.spacing = 3.3f;
    const Cloud a = build_cloud(mask, s);
    const Cloud b = build_cloud(mask, s);
    ASSERT_EQ(a.dots.size(), b.dots.size());
    EXPECT_EQ(0, std::memcmp(a.dots.data(), b.dots.data(), a.dots.size() * sizeof(Dot)));
}

TEST(Cloud, ThinSourceKeysStayInTheUnitInterval) {
    // Four columns wide: jittered points reach a pixel past the last column,
    // so x_norm goes up to 4/3; the order key must still lie in [0, 1].
    SourceMask mask = blank_mask(40, 200);
    fill(mask, 18, 0, 22, 200, 65535);
    DotSettings s;
    s.distribution = Distribution::kRandomized;
    s.spacing = 2.0f;
    s.transition_by = TransitionBy::kIndividualDots;
    s.order = Order::kRightToLeft;
    const Cloud cloud = build_cloud(mask, s);
    ASSERT_FALSE(cloud.dots.empty());
    bool past_box = false;
    for (const Dot& d : cloud.dots) {
        past_box = past_box || d.x_norm > 1.0f;
        const float key = order_key(d, s);
        EXPECT_GE(key, 0.0f) << "x_norm " << d.x_norm;
        EXPECT_LE(key, 1.0f) << "x_norm " << d.x_norm;
    }
    EXPECT_TRUE(past_box) << "the fixture no longer reaches past the box";
}

} // namespace
} // namespace pointillo
