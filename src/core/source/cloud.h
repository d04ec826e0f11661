#pragma once

#include "frame/settings.h"
#include "source/source_mask.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pointillo {

// One dot of a cloud, in output pixels.
struct Dot {
    float x = 0.0f;
    float y = 0.0f;
    float letter_pos = 0.0f; // letter of the dot's column, 0 first .. 1 last
    float word_pos = 0.0f;   // word of the dot's column, 0 first .. 1 last
    float x_norm = 0.0f;     // across the opaque bounding box
    float y_norm = 0.0f;
    uint32_t random = 0; // hash of the grid cell that made the dot
    float dx = 0.0f;     // offset from the box centre
    float dy = 0.0f;
    float radial = 0.0f; // distance from the box centre over the largest, 0..1
};

// The dots of one source, sorted by x then y. Immutable once built, shared
// read-only between the cache and every render holding it.
struct Cloud {
    std::vector<Dot> dots;
    float spacing = 8.0f; // grid cell size actually used
    int32_t letter_count = 0;
    int32_t word_count = 0;
};

// Builds the cloud of `mask` with the settings' spacing, jitter, distribution
// and seed. Never fails for lack of dots.
Cloud build_cloud(const SourceMask& mask, const DotSettings& settings);

// The cached cloud for this mask and these settings, built on a miss.
std::shared_ptr<const Cloud> get_cloud(const SourceMask& mask, const DotSettings& settings);

// Empties the process-wide cache; clouds still held by renders stay valid.
void clear_cloud_cache();

// How many clouds the cache holds now (at most kCloudCacheCapacity).
std::size_t cloud_cache_size();

constexpr std::size_t kCloudCacheCapacity = 24;

} // namespace pointillo
