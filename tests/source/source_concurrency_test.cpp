#include "source/cloud.h"
#include "source/source_mask.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pointillo {
namespace {

// Three different shapes, so workers ask for overlapping and distinct keys.
SourceMask shape_mask(int32_t kind) {
    SourceMask mask;
    mask.width = 40;
    mask.height = 32;
    mask.coverage.assign(40u * 32u, 0);
    mask.colors = straight_colors(40u * 32u, Rgb{});
    for (int32_t y = 0; y < 32; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            const bool on = kind == 0   ? (x > 4 && x < 30 && y > 3 && y < 28)
                            : kind == 1 ? ((x / 6) % 2 == 0 && y > 8)
                                        : ((x - 20) * (x - 20) + (y - 16) * (y - 16) < 150);
            if (on) {
                mask.coverage[static_cast<std::size_t>(y * 40 + x)] = 65535;
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

constexpr int32_t kShapes = 3;
constexpr int32_t kSeeds = 12; // 36 keys: more than the cache holds, so it evicts

TEST(CloudCacheConcurrency, HeldCloudsStayValidWhileOthersEvictAndClear) {
    clear_cloud_cache();
    std::vector<SourceMask> masks;
    for (int32_t k = 0; k < kShapes; ++k) {
        masks.push_back(shape_mask(k));
    }
    std::vector<Cloud> expected; // fresh builds, indexed shape x kSeeds + seed
    for (int32_t k = 0; k < kShapes; ++k) {
        for (int32_t seed = 0; seed < kSeeds; ++seed) {
            DotSettings s;
            s.random_seed = seed;
            s.spacing = 3.0f;
            expected.push_back(build_cloud(masks[static_cast<std::size_t>(k)], s));
        }
    }

    std::atomic<bool> stop{false};
    std::atomic<int> mismatches{0};
    auto worker = [&](uint32_t id) {
        // Each worker holds its last few clouds across other threads' evictions
        // and clears, and checks them again before letting go.
        struct Held {
            std::shared_ptr<const Cloud> cloud;
            std::size_t index;
        };
        std::vector<Held> held;
        uint32_t state = id * 2654435761u + 1u;
        for (int i = 0; i < 400; ++i) {
            state = state * 1664525u + 1013904223u;
            const std::size_t index = (state >> 8) % expected.size();
            DotSettings s;
            s.random_seed = static_cast<int32_t>(index % kSeeds);
            s.spacing = 3.0f;
            s.order =
                order_from_popup(static_cast<int32_t>(1 + (state >> 4) % 6)); // not in the key
            auto cloud = get_cloud(masks[index / kSeeds], s);
            if (!same_dots(*cloud, expected[index])) {
                ++mismatches;
            }
            held.push_back(Held{std::move(cloud), index});
            if (held.size() > 6) {
                if (!same_dots(*held.front().cloud, expected[held.front().index])) {
                    ++mismatches;
                }
                held.erase(held.begin());
            }
        }
        for (const Held& h : held) {
            if (!same_dots(*h.cloud, expected[h.index])) {
                ++mismatches;
            }
        }
    };
    auto clearer = [&] {
        while (!stop.load()) {
            clear_cloud_cache();
            if (cloud_cache_size() > kCloudCacheCapacity) {
                ++mismatches;
            }
            std::this_thread::yield();
        }
    };

    std::vector<std::thread> threads;
    std::thread clearing(clearer);
    for (uint32_t id = 0; id < 4; ++id) {
        threads.emplace_back(worker, id);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    stop = true;
    clearing.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_LE(cloud_cache_size(), kCloudCacheCapacity);
    clear_cloud_cache();
}

TEST(CloudCacheConcurrency, SimultaneousMissesAllGetTheCachedCloud) {
    // With no eviction and no clearing, whoever inserts first wins and every
    // other thread, hit or late builder, is handed that same object.
    for (int round = 0; round < 20; ++round) {
        clear_cloud_cache();
        const SourceMask mask = shape_mask(round % kShapes);
        DotSettings s;
        s.random_seed = round;
        std::atomic<int> waiting{6};
        std::vector<std::shared_ptr<const Cloud>> got(6);
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < got.size(); ++t) {
            threads.emplace_back([&, t] {
                --waiting;
                while (waiting.load() > 0) {
                    std::this_thread::yield();
                }
                got[t] = get_cloud(mask, s);
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        for (std::size_t t = 1; t < got.size(); ++t) {
            EXPECT_EQ(got[t].get(), got[0].get()) << "round " << round << ", thread " << t;
        }
        EXPECT_EQ(cloud_cache_size(), 1u);
    }
    clear_cloud_cache();
}

} // namespace
} // namespace pointillo
