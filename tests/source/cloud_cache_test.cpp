#include "source/cloud.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace pointillo {
namespace {

// A small blob with a fractional edge, so every setting changes the dots.
SourceMask blob_mask() {
    SourceMask mask;
    mask.width = 48;
    mask.height = 40;
    mask.coverage.assign(48u * 40u, 0);
    mask.colors = straight_colors(48u * 40u, Rgb{});
    for (int32_t y = 3; y < 37; ++y) {
        for (int32_t x = 5; x < 44; ++x) {
            const int32_t dx = x - 24;
            const int32_t dy = y - 20;
            if (dx * dx + dy * dy < 18 * 18) {
                mask.coverage[static_cast<std::size_t>(y * 48 + x)] = 65535;
            }
        }
    }
    mask.coverage_hash = coverage_hash(mask.coverage.data(), mask.coverage.size());
    return mask;
}

bool same_dots(const Cloud& a, const Cloud& b) {
    return a.spacing == b.spacing && a.letter_count == b.letter_count &&
           a.word_count == b.word_count && a.dots.size() == b.dots.size() &&
           std::memcmp(a.dots.data(), b.dots.data(), a.dots.size() * sizeof(Dot)) == 0;
}

class CloudCache : public ::testing::Test {
  protected:
    void SetUp() override { clear_cloud_cache(); }
    void TearDown() override { clear_cloud_cache(); }
};

TEST_F(CloudCache, SameMaskAndSettingsGiveTheSameObject) {
    const SourceMask mask = blob_mask();
    const auto a = get_cloud(mask, DotSettings{});
    const auto b = get_cloud(mask, DotSettings{});
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(cloud_cache_size(), 1u);
    EXPECT_TRUE(same_dots(*a, build_cloud(mask, DotSettings{})));
}

TEST_F(CloudCache, SettingsOutsideTheKeyReuseTheCloud) {
    const SourceMask mask = blob_mask();
    const auto base = get_cloud(mask, DotSettings{});
    DotSettings s;
    s.order = Order::kRandom;
    s.transition_by = TransitionBy::kWords;
    s.motion_style = MotionStyle::kSwirl;
    s.dot_size = 30.0f;
    s.match_source_colors = false;
    EXPECT_EQ(get_cloud(mask, s).get(), base.get());
    EXPECT_EQ(cloud_cache_size(), 1u);
}

TEST_F(CloudCache, EachKeyFieldMakesANewCloud) {
    const SourceMask mask = blob_mask();
    const auto base = get_cloud(mask, DotSettings{});
    struct Change {
        const char* name;
        void (*apply)(DotSettings&, SourceMask&);
    };
    const Change changes[] = {
        {"Random Seed", [](DotSettings& s, SourceMask&) { s.random_seed = 43; }},
        {"Spacing", [](DotSettings& s, SourceMask&) { s.spacing = 9.0f; }},
        {"Grid Jitter", [](DotSettings& s, SourceMask&) { s.grid_jitter = 0.5f; }},
        {"Distribution",
         [](DotSettings& s, SourceMask&) { s.distribution = Distribution::kRandomized; }},
        {"coverage hash", [](DotSettings&, SourceMask& m) { m.coverage_hash ^= 1; }},
        {"mask size",
         [](DotSettings&, SourceMask& m) {
             m.width = 40;
             m.height = 48;
         }},
    };
    std::vector<std::shared_ptr<const Cloud>> held{base};
    for (const Change& c : changes) {
        DotSettings s;
        SourceMask m = blob_mask();
        c.apply(s, m);
        const auto cloud = get_cloud(m, s);
        for (const auto& other : held) {
            EXPECT_NE(cloud.get(), other.get()) << c.name;
        }
        held.push_back(cloud);
    }
    EXPECT_EQ(cloud_cache_size(), 1u + std::size(changes));
}

TEST_F(CloudCache, GridJitterCountsEvenUnderGrid) {
    const SourceMask mask = blob_mask();
    DotSettings s;
    s.distribution = Distribution::kGrid;
    const auto a = get_cloud(mask, s);
    s.grid_jitter = 0.1f;
    const auto b = get_cloud(mask, s);
    EXPECT_NE(a.get(), b.get());
    EXPECT_TRUE(same_dots(*a, *b)); // the dots agree; only the cache key differs
}

TEST_F(CloudCache, NearbySpacingsNeverShareACloud) {
    // 8.0 and 8.0005 agree in trunc(spacing x 1024); a key built that way
    // would hand the second frame the first frame's cloud.
    const SourceMask mask = blob_mask();
    DotSettings s8;
    s8.spacing = 8.0f;
    DotSettings s8b;
    s8b.spacing = 8.0005f;
    ASSERT_FALSE(same_dots(build_cloud(mask, s8), build_cloud(mask, s8b)))
        << "the fixture must tell the two spacings apart";
    for (int first = 0; first < 2; ++first) {
        clear_cloud_cache();
        const DotSettings& a = first == 0 ? s8 : s8b;
        const DotSettings& b = first == 0 ? s8b : s8;
        const auto ca = get_cloud(mask, a);
        const auto cb = get_cloud(mask, b);
        EXPECT_TRUE(same_dots(*ca, build_cloud(mask, a))) << "order " << first;
        EXPECT_TRUE(same_dots(*cb, build_cloud(mask, b))) << "order " << first;
    }
    DotSettings jitter_a;
    jitter_a.grid_jitter = 0.5f;
    DotSettings jitter_b;
    jitter_b.grid_jitter = 0.5002f;
    const auto ja = get_cloud(mask, jitter_a);
    const auto jb = get_cloud(mask, jitter_b);
    EXPECT_NE(ja.get(), jb.get());
    EXPECT_TRUE(same_dots(*jb, build_cloud(mask, jitter_b)));
}

TEST_F(CloudCache, TheTwentyFifthCloudEvictsTheLeastRecentlyUsed) {
    const SourceMask mask = blob_mask();
    auto with_seed = [](int32_t seed) {
        DotSettings s;
        s.random_seed = seed;
        return s;
    };
    std::vector<std::shared_ptr<const Cloud>> held;
    for (int32_t seed = 0; seed < 24; ++seed) {
        held.push_back(get_cloud(mask, with_seed(seed)));
    }
    EXPECT_EQ(cloud_cache_size(), 24u);
    // Touch seed 0, so seed 1 is now the least recently used.
    EXPECT_EQ(get_cloud(mask, with_seed(0)).get(), held[0].get());
    held.push_back(get_cloud(mask, with_seed(24)));
    EXPECT_EQ(cloud_cache_size(), 24u);
    for (int32_t seed : {0, 2, 23, 24}) {
        EXPECT_EQ(get_cloud(mask, with_seed(seed)).get(),
                  held[static_cast<std::size_t>(seed)].get())
            << "seed " << seed << " should still be cached";
    }
    const auto rebuilt = get_cloud(mask, with_seed(1));
    EXPECT_NE(rebuilt.get(), held[1].get()) << "seed 1 should have been evicted";
    EXPECT_TRUE(same_dots(*rebuilt, *held[1]));
    EXPECT_EQ(cloud_cache_size(), 24u);
}

TEST_F(CloudCache, ClearedCloudsStayValidWhileHeld) {
    const SourceMask mask = blob_mask();
    const auto held = get_cloud(mask, DotSettings{});
    const Cloud fresh = build_cloud(mask, DotSettings{});
    clear_cloud_cache();
    EXPECT_EQ(cloud_cache_size(), 0u);
    EXPECT_TRUE(same_dots(*held, fresh));
    const auto again = get_cloud(mask, DotSettings{});
    EXPECT_NE(again.get(), held.get());
    EXPECT_TRUE(same_dots(*again, fresh));
}

TEST_F(CloudCache, EmptyCloudsAreCachedToo) {
    SourceMask empty;
    const auto a = get_cloud(empty, DotSettings{});
    const auto b = get_cloud(empty, DotSettings{});
    EXPECT_EQ(a.get(), b.get());
    EXPECT_TRUE(a->dots.empty());
    EXPECT_EQ(a->spacing, 8.0f);
    EXPECT_EQ(cloud_cache_size(), 1u);
}

TEST_F(CloudCache, AFailedBuildLeavesTheCacheAsItWas) {
    const SourceMask mask = blob_mask();
    const auto kept = get_cloud(mask, DotSettings{});
    SourceMask broken = blob_mask();
    broken.coverage.pop_back();
    broken.coverage_hash ^= 1;
    EXPECT_THROW((void)get_cloud(broken, DotSettings{}), std::invalid_argument);
    EXPECT_EQ(cloud_cache_size(), 1u);
    EXPECT_EQ(get_cloud(mask, DotSettings{}).get(), kept.get());
}

} // namespace
} // namespace pointillo
