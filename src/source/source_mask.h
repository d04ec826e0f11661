#pragma once

#include "common/cancel.h"
#include "common/color.h"
#include "common/pixel_view.h"

#include <cstddef>
#include <cstdint>
#include <string>
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

// What one diagnostic mask line reports.
struct MaskLogEntry {
    int32_t current_time = 0; // host time units
    uint32_t time_scale = 0;
    int32_t source_width = 0; // checked-out pixels; 0 x 0 when the host gave no world
    int32_t source_height = 0;
    int32_t ref_width = 0; // full-resolution layer size
    int32_t ref_height = 0;
    int32_t rect_left = 0; // checked-out rectangle, layer pixels
    int32_t rect_top = 0;
    int32_t rect_right = 0;
    int32_t rect_bottom = 0;
    int32_t output_width = 0;
    int32_t output_height = 0;
    float downsample_x = 1.0f;
    float downsample_y = 1.0f;
};

// "mask t=%d/%u src=%dx%d ref=%dx%d rect=%d,%d,%d,%d output=%dx%d ds=%.2f,%.2f\n",
// always with a decimal point whatever the C locale says.
std::string mask_log_line(const MaskLogEntry& entry);

// Appends `line` to the file at `path` under a lock of its own, so lines of
// concurrent renders stay whole. Does nothing when the file cannot be opened.
void append_mask_log(const char* path, const std::string& line);

} // namespace pointillo
