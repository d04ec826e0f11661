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

// Opaque pixels per column into `per_column`, and the box that holds every
// opaque pixel; max_y < 0 when there is none.
OpaqueBox find_opaque_box(const SourceMask& mask, std::vector<int32_t>& per_column) {
    const int32_t width = mask.width;
    per_column.assign(static_cast<std::size_t>(width), 0);
    OpaqueBox box;
    box.min_y = mask.height;
    for (int32_t y = 0; y < mask.height; ++y) {
        const uint16_t* row =
            mask.coverage.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
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
        return box;
    }
    box.min_x = static_cast<int32_t>(
        std::find_if(per_column.begin(), per_column.end(), [](int32_t n) { return n > 0; }) -
        per_column.begin());
    box.max_x = static_cast<int32_t>(
        per_column.rend() -
        std::find_if(per_column.rbegin(), per_column.rend(), [](int32_t n) { return n > 0; }) - 1);
    return box;
}

// The grid of cells over the opaque box, one dot at most per cell.
struct CellGrid {
    float n = 0.0f; // cell size
    int32_t columns = 0;
    int32_t rows = 0;
    float jitter = 0.0f;
    uint32_t seed = 0;
    float min_x = 0.0f; // the box's corner
    float min_y = 0.0f;
};

CellGrid make_grid(const OpaqueBox& box, const DotSettings& settings) {
    const int32_t box_width = box.max_x - box.min_x + 1;
    const int32_t box_height = box.max_y - box.min_y + 1;
    CellGrid grid;
    grid.n = cell_size(box_width, box_height, settings.spacing);
    grid.columns = std::max(to_index(std::ceil(static_cast<float>(box_width) / grid.n)), 1);
    grid.rows = std::max(to_index(std::ceil(static_cast<float>(box_height) / grid.n)), 1);
    grid.jitter = jitter_amount(settings);
    grid.seed = static_cast<uint32_t>(settings.random_seed);
    grid.min_x = static_cast<float>(box.min_x);
    grid.min_y = static_cast<float>(box.min_y);
    return grid;
}

// Pixels [first, last) along one axis.
struct PixelRange {
    int32_t first = 0;
    int32_t last = 0;
};

// The nearest opaque pixel centre to (px, py) among the cell's pixels; a
// strictly smaller distance is needed to replace the best, so the first in
// scan order wins ties. False when the cell holds no opaque pixel.
bool nearest_opaque(const SourceMask& mask, PixelRange rows, PixelRange cols, float px, float py,
                    int32_t& best_x, int32_t& best_y) {
    float best = 1e30f;
    best_x = -1;
    best_y = -1;
    for (int32_t r = rows.first; r < rows.last; ++r) {
        const uint16_t* row = mask.coverage.data() +
                              static_cast<std::size_t>(r) * static_cast<std::size_t>(mask.width);
        const float ddy = (static_cast<float>(r) + 0.5f) - py;
        const float ddy2 = ddy * ddy;
        for (int32_t c = cols.first; c < cols.last; ++c) {
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
    return best_x >= 0;
}

// The place of cell (i, j)'s dot, and the cell's hash in `dot.random`; false
// for a cell that makes no dot.
bool cell_dot(const SourceMask& mask, const CellGrid& grid, int32_t i, int32_t j, Dot& dot) {
    const float n = grid.n;
    const float cell_y = static_cast<float>(i) * n + grid.min_y;
    const PixelRange rows{to_index(cell_y), std::min(to_index(std::ceil(cell_y + n)), mask.height)};
    const float cell_x = static_cast<float>(j) * n + grid.min_x;
    const PixelRange cols{to_index(cell_x), std::min(to_index(std::ceil(cell_x + n)), mask.width)};
    if (rows.first >= rows.last || cols.first >= cols.last) {
        return false;
    }
    const uint32_t h =
        hash32(grid.seed + static_cast<uint32_t>(j) + static_cast<uint32_t>(i) * 65537u);
    // Channel 1 of the cell hash moves x, channel 2 moves y.
    const float g = grid.jitter;
    const float px = ((rand01(h + 0x9E3779B9u) - 0.5f) * g + 0.5f) * n + cell_x;
    const float py = ((rand01(h + 0x3C6EF372u) - 0.5f) * g + 0.5f) * n + cell_y;
    int32_t best_x = -1;
    int32_t best_y = -1;
    if (!nearest_opaque(mask, rows, cols, px, py, best_x, best_y)) {
        return false;
    }

    // The jittered point stands where the source is solid enough under it;
    // on thin edges the dot snaps onto the shape.
    dot = Dot{};
    dot.x = static_cast<float>(best_x) + 0.5f;
    dot.y = static_cast<float>(best_y) + 0.5f;
    if (px > -1.0f && px < static_cast<float>(mask.width) && py > -1.0f &&
        py < static_cast<float>(mask.height)) {
        const auto under =
            static_cast<float>(mask.coverage[static_cast<std::size_t>(static_cast<int32_t>(py)) *
                                                 static_cast<std::size_t>(mask.width) +
                                             static_cast<std::size_t>(static_cast<int32_t>(px))]);
        if (under / 65535.0f >= 0.1f) {
            dot.x = px;
            dot.y = py;
        }
    }
    dot.random = h;
    return true;
}

// Where each dot stands among the letters and words and across the box.
void place_in_box(Cloud& cloud, const OpaqueBox& box, const ColumnGroups& groups) {
    const float min_x = static_cast<float>(box.min_x);
    const float min_y = static_cast<float>(box.min_y);
    const float letter_den = static_cast<float>(std::max(groups.letter_count, 2) - 1);
    const float word_den = static_cast<float>(std::max(groups.word_count, 2) - 1);
    const float x_den = static_cast<float>(std::max(1, box.max_x - box.min_x));
    const float y_den = static_cast<float>(std::max(1, box.max_y - box.min_y));
    for (Dot& dot : cloud.dots) {
        const int32_t column = std::clamp(to_index(dot.x), box.min_x, box.max_x);
        const std::size_t owner = static_cast<std::size_t>(column - box.min_x);
        dot.letter_pos = static_cast<float>(groups.letter_index[owner]) / letter_den;
        dot.word_pos = static_cast<float>(groups.word_index[owner]) / word_den;
        dot.x_norm = (dot.x - min_x) / x_den;
        dot.y_norm = (dot.y - min_y) / y_den;
    }
}

// Each dot's offset from the box centre, and its distance over the largest.
void measure_from_centre(Cloud& cloud, const OpaqueBox& box) {
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
}

} // namespace

Cloud build_cloud(const SourceMask& mask, const DotSettings& settings) {
    Cloud cloud;
    if (mask.width <= 0 || mask.height <= 0 || mask.coverage.empty()) {
        return cloud;
    }
    if (mask.coverage.size() !=
        static_cast<std::size_t>(mask.width) * static_cast<std::size_t>(mask.height)) {
        throw std::invalid_argument("source mask coverage does not match its size");
    }
    std::vector<int32_t> per_column;
    const OpaqueBox box = find_opaque_box(mask, per_column);
    if (box.max_y < 0) {
        return cloud;
    }
    const ColumnGroups groups = group_columns(per_column, box.min_x, box.max_x, mask.width);
    cloud.letter_count = groups.letter_count;
    cloud.word_count = groups.word_count;

    const CellGrid grid = make_grid(box, settings);
    cloud.spacing = grid.n;
    cloud.dots.reserve(static_cast<std::size_t>(grid.columns) *
                       static_cast<std::size_t>(grid.rows));
    for (int32_t i = 0; i < grid.rows; ++i) {
        for (int32_t j = 0; j < grid.columns; ++j) {
            Dot dot;
            if (cell_dot(mask, grid, i, j, dot)) {
                cloud.dots.push_back(dot);
            }
        }
    }
    place_in_box(cloud, box, groups);

    // Stable, so dots on the same spot keep the order their cells made them
    // in: one order on every compiler.
    std::stable_sort(cloud.dots.begin(), cloud.dots.end(), [](const Dot& a, const Dot& b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    measure_from_centre(cloud, box);
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
