#pragma once

#include "common/cancel.h"
#include "common/color.h"
#include "common/pixel_view.h"
#include "source/mask_colors.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pointillo {

// One source sampled into the output's pixel grid (row-major, y down).
// Owned by its caller; moved, never shared.
struct SourceMask {
    int32_t width = 0;               // output pixels
    int32_t height = 0;              // output pixels
    PooledVector<uint16_t> coverage; // 0..65535, width x height
    MaskColors colors;               // width x height, or none (every colour white)
    uint64_t coverage_hash = 0;      // identifies the shape for the cloud cache
};

// Where the layer's pixel (0, 0) lands in the output grid.
struct MaskOrigin {
    int32_t x = 0;
    int32_t y = 0;

    friend bool operator==(const MaskOrigin&, const MaskOrigin&) = default;
};

// The grid masks are sampled into: the output's size and the host's
// downsample (fractions, 1 at full resolution).
struct OutputGrid {
    int32_t width = 0; // output pixels
    int32_t height = 0;
    float downsample_x = 1.0f;
    float downsample_y = 1.0f;
};

// The part of a layer the host handed over: the layer's full-resolution size
// and the part's top-left corner in it.
struct LayerPart {
    int32_t ref_width = 0; // layer pixels
    int32_t ref_height = 0;
    int32_t left = 0;
    int32_t top = 0;
};

// The downsampled layer (ref size times the downsample, ceiled in float) is
// centred in the output with a halving that truncates toward zero, and the
// handed-over part sits at its own offset inside the layer.
MaskOrigin mask_origin(const OutputGrid& output, const LayerPart& part);

// FNV-style hash of the coverage plane, four samples per 64-bit word.
uint64_t coverage_hash(const uint16_t* coverage, std::size_t count);

// Samples `pixels` (may have no data) into a W x H mask at `origin`, polling
// `cancel` before every 64th layer row. Throws std::bad_alloc, or whatever the
// cancel check throws.
SourceMask sample_source_mask(int32_t output_width, int32_t output_height,
                              const ConstPixelView& pixels, MaskOrigin origin,
                              const CancelCheck& cancel);

// All that decides a mask besides the pixels themselves: sources lent at
// equal placements whose pixels that land in the mask are equal give equal
// masks. Lent pixels without data count as 0 x 0.
struct MaskPlacement {
    int32_t output_width = 0;
    int32_t output_height = 0;
    MaskOrigin origin;
    int32_t width = 0; // the lent pixels' size
    int32_t height = 0;
    PixelDepth depth = PixelDepth::k8;

    friend bool operator==(const MaskPlacement&, const MaskPlacement&) = default;
};

MaskPlacement mask_placement(int32_t output_width, int32_t output_height,
                             const ConstPixelView& pixels, MaskOrigin origin);

// As sample_source_mask, polling the same rows, but when the pixels that
// land equal, byte for byte, those one of `earlier` was sampled from (every
// one of them sampled at this placement), returns that one's position and
// leaves `out` alone; otherwise samples into `out` and returns -1.
int32_t sample_or_reuse(std::span<const SourceMask* const> earlier, int32_t output_width,
                        int32_t output_height, const ConstPixelView& pixels, MaskOrigin origin,
                        const CancelCheck& cancel, SourceMask& out);

} // namespace pointillo
