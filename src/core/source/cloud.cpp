#include "source/cloud.h"

#include "common/bit_cast.h"
#include "common/float_ops.h"
#include "common/hash.h"
#include "source/grouping.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace pointillo {
namespace {

// Coverage above this is opaque: a dot may sit on it.
constexpr uint16_t kOpaqueCoverage = 512;

// About this many dots at most, however small the spacing.
constexpr float kMaxDotsPerCloud = 24000.0f;

// Truncation of a non-negative float to an index, NaN and overflow clamped,
// so the conversion is always defined.
int32_t to_index(float v) {
    return !(v > 0.0f) ? 0 : (v < 2147483520.0f ? static_cast<int32_t>(v) : 2147483520);
}

// Cell size: the spacing, at least 2 pixels, grown for large boxes so the
// cloud stays near the dot bound. A NaN spacing counts as 2 and an infinite
// one as the largest float, so cell arithmetic never meets inf x 0.
float cell_size(int32_t box_width, int32_t box_height, float spacing) {
    const float area = static_cast<float>(int64_t{box_width} * int64_t{box_height});
    const float bound = static_cast<float>(std::sqrt(static_cast<double>(area / kMaxDotsPerCloud)));
    const float wanted = !(spacing >= 2.0f) ? 2.0f : (spacing <= FLT_MAX ? spacing : FLT_MAX);
    return std::max(bound, wanted);
}

// How far a cell's point may stray from the cell centre, as a fraction of
// the cell.
float jitter_amount(const DotSettings& settings) {
    switch (settings.distribution) {
    case Distribution::kGrid:
        return 0.0f;
    case Distribution::kRandomized:
        return 1.0f;
    case Distribution::kJitteredGrid:
        break;
    }
    return clamp01(settings.grid_jitter);
}

struct OpaqueBox {
    int32_t min_x = 0;
    int32_t max_x = -1;
    int32_t min_y = 0;
    int32_t max_y = -1;
};

} // namespace

Cloud build_cloud(const SourceMask& mask, const DotSettings& settings) {
    Cloud cloud;
    const int32_t width = mask.width;
    const int32_t height = mask.height;
    if (width <= 0 || height <= 0 || mask.coverage.empty()) {
        return cloud;
    }
    if (mask.coverage.size() !=
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("source mask coverage does not match its size");
    }
    const uint16_t* coverage = mask.coverage.data();
    auto at = [&](int32_t x, int32_t y) {
        return coverage[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(x)];
    };

    // Opaque pixels per column, and the rows that hold any.
    std::vector<int32_t> per_column(static_cast<std::size_t>(width), 0);
    OpaqueBox box;
    box.min_y = height;
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* row =
            coverage + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        int32_t in_row = 0;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t opaque = row[x] > kOpaqueCoverage ? 1 : 0;
            per_column[static_cast<std::size_t>(x)] += opaque;
            in_row |= opaque;
        }
        if (in_row != 0) {
            box.min_y = std::min(box.min_y, y);
            box.max_y = y;
        }
    }
    if (box.max_y < 0) {
        return cloud;
    }
    box.min_x = static_cast<int32_t>(
        std::find_if(per_column.begin(), per_column.end(), [](int32_t n) { return n > 0; }) -
        per_column.begin());
    box.max_x = static_cast<int32_t>(
        per_column.rend() -
        std::find_if(per_column.rbegin(), per_column.rend(), [](int32_t n) { return n > 0; }) - 1);

    const ColumnGroups groups = group_columns(per_column, box.min_x, box.max_x, width);
    cloud.letter_count = groups.letter_count;
    cloud.word_count = groups.word_count;

    const int32_t box_width = box.max_x - box.min_x + 1;
    const int32_t box_height = box.max_y - box.min_y + 1;
    const float n = cell_size(box_width, box_height, settings.spacing);
    cloud.spacing = n;
    const int32_t columns = std::max(to_index(std::ceil(static_cast<float>(box_width) / n)), 1);
    const int32_t rows = std::max(to_index(std::ceil(static_cast<float>(box_height) / n)), 1);
    const float g = jitter_amount(settings);
    const uint32_t seed = static_cast<uint32_t>(settings.random_seed);

    const float min_x = static_cast<float>(box.min_x);
    const float min_y = static_cast<float>(box.min_y);
    const float letter_den = static_cast<float>(std::max(groups.letter_count, 2) - 1);
    const float word_den = static_cast<float>(std::max(groups.word_count, 2) - 1);
    const float x_den = static_cast<float>(std::max(1, box.max_x - box.min_x));
    const float y_den = static_cast<float>(std::max(1, box.max_y - box.min_y));

    cloud.dots.reserve(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    for (int32_t i = 0; i < rows; ++i) {
        const float cell_y = static_cast<float>(i) * n + min_y;
        const int32_t r_lo = to_index(cell_y);
        const int32_t r_hi = std::min(to_index(std::ceil(cell_y + n)), height);
        if (r_lo >= r_hi) {
            continue;
        }
        for (int32_t j = 0; j < columns; ++j) {
            const float cell_x = static_cast<float>(j) * n + min_x;
            const int32_t c_lo = to_index(cell_x);
            const int32_t c_hi = std::min(to_index(std::ceil(cell_x + n)), width);
            if (c_lo >= c_hi) {
                continue;
            }
            const uint32_t h =
                hash32(seed + static_cast<uint32_t>(j) + static_cast<uint32_t>(i) * 65537u);
            // Channel 1 of the cell hash moves x, channel 2 moves y.
            const float px = ((rand01(h + 0x9E3779B9u) - 0.5f) * g + 0.5f) * n + cell_x;
            const float py = ((rand01(h + 0x3C6EF372u) - 0.5f) * g + 0.5f) * n + cell_y;

            // Nearest opaque pixel centre; a strictly smaller distance is
            // needed to replace the best, so the first in scan order wins ties.
            float best = 1e30f;
            int32_t best_x = -1;
            int32_t best_y = -1;
            for (int32_t r = r_lo; r < r_hi; ++r) {
                const uint16_t* row =
                    coverage + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
                const float ddy = (static_cast<float>(r) + 0.5f) - py;
                const float ddy2 = ddy * ddy;
                for (int32_t c = c_lo; c < c_hi; ++c) {
                    if (row[c] <= kOpaqueCoverage) {
                        continue;
                    }
                    const float ddx = (static_cast<float>(c) + 0.5f) - px;
                    const float d = ddx * ddx + ddy2;
                    if (d < best) {
                        best = d;
                        best_x = c;
                        best_y = r;
                    }
                }
            }
            if (best_x < 0) {
                continue;
            }

            // The jittered point stands where the source is solid enough
            // under it; on thin edges the dot snaps onto the shape.
            Dot dot;
            dot.x = static_cast<float>(best_x) + 0.5f;
            dot.y = static_cast<float>(best_y) + 0.5f;
            if (px > -1.0f && px < static_cast<float>(width) && py > -1.0f &&
                py < static_cast<float>(height)) {
                const float under =
                    static_cast<float>(at(static_cast<int32_t>(px), static_cast<int32_t>(py)));
                if (under / 65535.0f >= 0.1f) {
                    dot.x = px;
                    dot.y = py;
                }
            }

            const int32_t column = std::clamp(to_index(dot.x), box.min_x, box.max_x);
            const std::size_t owner = static_cast<std::size_t>(column - box.min_x);
            dot.letter_pos = static_cast<float>(groups.letter_index[owner]) / letter_den;
            dot.word_pos = static_cast<float>(groups.word_index[owner]) / word_den;
            dot.x_norm = (dot.x - min_x) / x_den;
            dot.y_norm = (dot.y - min_y) / y_den;
            dot.random = h;
            cloud.dots.push_back(dot);
        }
    }

    // Stable, so dots on the same spot keep the order their cells made them
    // in: one order on every compiler.
    std::stable_sort(cloud.dots.begin(), cloud.dots.end(), [](const Dot& a, const Dot& b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });

    const float centre_x = static_cast<float>(box.min_x + box.max_x + 1) * 0.5f;
    const float centre_y = static_cast<float>(box.min_y + box.max_y + 1) * 0.5f;
    float largest = 1.0f; // never stretch a tiny cloud out to radial 1
    for (Dot& dot : cloud.dots) {
        dot.dx = dot.x - centre_x;
        dot.dy = dot.y - centre_y;
        dot.radial = static_cast<float>(
            std::hypot(static_cast<double>(dot.dx), static_cast<double>(dot.dy)));
        largest = std::max(largest, dot.radial);
    }
    for (Dot& dot : cloud.dots) {
        dot.radial = dot.radial / largest;
    }
    return cloud;
}

namespace {

// What identifies a cloud. Spacing and jitter are kept as their exact bit
// patterns: any coarser key would let two nearby values share whichever
// cloud was built first, and a frame would depend on render order.
struct CloudKey {
    uint64_t coverage_hash = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t spacing_bits = 0;
    uint32_t jitter_bits = 0;
    Distribution distribution = Distribution::kJitteredGrid;
    int32_t random_seed = 0;

    friend bool operator==(const CloudKey&, const CloudKey&) = default;
};

CloudKey make_key(const SourceMask& mask, const DotSettings& settings) {
    return CloudKey{mask.coverage_hash,
                    mask.width,
                    mask.height,
                    bit_cast<uint32_t>(settings.spacing),
                    bit_cast<uint32_t>(settings.grid_jitter),
                    settings.distribution,
                    settings.random_seed};
}

struct CacheEntry {
    CloudKey key;
    std::shared_ptr<const Cloud> cloud;
};

// The process-wide cache, most recently used first. The mutex guards the
// list only; clouds are built outside it.
struct CloudCache {
    std::mutex mutex;
    std::vector<CacheEntry> entries;

    // Module unload: nothing else runs then, so no lock.
    ~CloudCache() { entries.clear(); }
};

CloudCache the_cache;

std::vector<CacheEntry>::iterator find_entry(std::vector<CacheEntry>& entries,
                                             const CloudKey& key) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const CacheEntry& e) { return e.key == key; });
}

} // namespace

std::shared_ptr<const Cloud> get_cloud(const SourceMask& mask, const DotSettings& settings) {
    const CloudKey key = make_key(mask, settings);
    {
        const std::lock_guard<std::mutex> lock(the_cache.mutex);
        auto& entries = the_cache.entries;
        const auto it = find_entry(entries, key);
        if (it != entries.end()) {
            std::rotate(entries.begin(), it, it + 1);
            return entries.front().cloud;
        }
    }

    auto built = std::make_shared<const Cloud>(build_cloud(mask, settings));

    // Declared before the lock so an evicted cloud is released after it.
    std::shared_ptr<const Cloud> evicted;
    const std::lock_guard<std::mutex> lock(the_cache.mutex);
    auto& entries = the_cache.entries;
    // Another render may have built the same cloud meanwhile: hand out that
    // one, so every holder shares one object.
    const auto it = find_entry(entries, key);
    if (it != entries.end()) {
        return it->cloud;
    }
    entries.insert(entries.begin(), CacheEntry{key, built});
    while (entries.size() > kCloudCacheCapacity) {
        evicted = std::move(entries.back().cloud);
        entries.pop_back();
    }
    return built;
}

void clear_cloud_cache() {
    std::vector<CacheEntry> dropped; // released after the lock
    const std::lock_guard<std::mutex> lock(the_cache.mutex);
    dropped.swap(the_cache.entries);
}

std::size_t cloud_cache_size() {
    const std::lock_guard<std::mutex> lock(the_cache.mutex);
    return the_cache.entries.size();
}

} // namespace pointillo
