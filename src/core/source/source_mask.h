#pragma once

#include "common/cancel.h"
#include "common/color.h"
#include "common/pixel_view.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pointillo {

// One source sampled into the output's pixel grid (row-major, y down).
// Owned by its caller; moved, never shared.
struct SourceMask {
    int32_t width = 0;              // output pixels
    int32_t height = 0;             // output pixels
    std::vector<uint16_t> coverage; // 0..65535, width x height
    std::vector<Rgb> colors;        // straight colour, width x height, or empty (no colour plane)
    uint64_t coverage_hash = 0;     // identifies the shape for the cloud cache
};

// Where the layer's pixel (0, 0) lands in the output grid.
struct MaskOrigin {
    int32_t x = 0;
    int32_t y = 0;
};

// The downsampled layer (ref size times the downsample, ceiled in float) is
// centred in the W x H output with a halving that truncates toward zero, and
// the checked-out rectangle sits at its own offset inside the layer.
MaskOrigin mask_origin(int32_t output_width, int32_t output_height, float downsample_x,
                       float downsample_y, int32_t ref_width, int32_t ref_height, int32_t rect_left,
                       int32_t rect_top);

// FNV-style hash of the coverage plane, four samples per 64-bit word.
uint64_t coverage_hash(const uint16_t* coverage, std::size_t count);

// Samples `pixels` (may have no data) into a W x H mask at `origin`, polling
// `cancel` before every 64th layer row. Throws std::bad_alloc, or whatever the
// cancel check throws.
SourceMask sample_source_mask(int32_t output_width, int32_t output_height,
                              const ConstPixelView& pixels, MaskOrigin origin,
                              const CancelCheck& cancel);

} // namespace pointillo
