#pragma once

// The batch renderer's short path for small plain dots, internal to the
// drawing code: shared by its baseline form and the AVX2 form chosen at run
// time where the processor has it.

#include "draw/raster_walk.h"

#include <cstdint>

// The AVX2 form is compiled where the compiler can target it function by
// function; elsewhere only the baseline form exists.
#if defined(__GNUC__) && defined(__x86_64__)
#define POINTILLO_DRAW_AVX2 1
#else
#define POINTILLO_DRAW_AVX2 0
#endif

namespace pointillo::raster {

// Tile rows: a piece of a dot is at most this many rows tall.
constexpr int32_t kTileHeight = 32;

// The pixels of one plain dot whose coverage has to be computed (the ramp
// between the pixels known to be 0 and those known to be 1), gathered so the
// distance kernel runs on full vectors.
struct RampList {
    // A piece is at most kSmallWidth x kTileHeight pixels; pushes may write
    // seven entries past the end.
    static constexpr int32_t kCapacity = kSmallWidth * kTileHeight + 8;
    alignas(32) int32_t column[kCapacity];
    alignas(32) int32_t offset[kCapacity]; // from the tile's first pixel
    alignas(32) float dy[kCapacity];
    alignas(32) double dy2[kCapacity];
    alignas(32) float coverage[kCapacity];
};

// One plain dot (no hole) clipped to a tile: fewer than kSmallWidth columns,
// |radius| + s below 2^16 and usable bounds.
struct PlainPiece {
    Surface tile;
    Footprint fp;
    RowGeometry g; // x, radius and s
    float y = 0.0f;
    Bounds bounds;
    float opacity = 0.0f;
    Rgb color;
};

// Whether draw_plain_piece_avx2 may run here: the processor and the system
// support AVX2, and the baseline form is not forced.
bool avx2_drawing();

// Tests compare the two forms; nothing else calls this.
void force_baseline_drawing(bool on);

#if POINTILLO_DRAW_AVX2
// The AVX2 form: the same pixels as the baseline form, bit for bit.
void draw_plain_piece_avx2(Measure measure, const PlainPiece& piece, RampList& list);
#endif

} // namespace pointillo::raster
