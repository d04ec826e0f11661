#pragma once

// The table of one drawing form, internal to the drawing code. kernels.cpp
// fills it once per level: the portable form's functions first, then each
// level replaces those it has a faster form of (the AVX2 level starts from the
// SSE2 table). Code that draws calls through the table and never asks which
// form it holds.
//
// A form's file describes its form as a type local to it, which
// install_form() below turns into a table: the dot, masked-dot and particle
// walks of raster_walk.h and the small-piece walk of plain_piece.h built on
// its row kernels, and its row functions. The type provides:
//   RowKernel<M, Hole>(g)(out, j0, count, dy, dy2)
//       coverage of columns j0 .. j0 + count - 1 of one row; may write up to
//       three more entries (to a multiple of 4);
//   paint_max_row, paint_over_row
//       a row of coverage painted by maximum, or composited over;
//   push_run, ramp_coverage<M>, paint_pixel, paint_solid_run
//       the gathering, coverage and painting of a small piece's ramp;
//   fill_row, convert_row_8, convert_row_16, write_out, clear_out,
//   finish_writes
//       the table's row functions of the same names.
// The walks are entries of the table, not the row kernels: one indirect call
// per dot, particle or piece, and the kernels inlined into their walks.

#include "common/color.h"
#include "draw/canvas.h"
#include "draw/kernels.h"
#include "draw/mask_sampler.h"
#include "draw/plain_piece.h"
#include "draw/raster_walk.h"
#include "frame/settings.h"

#include <cstddef>
#include <cstdint>

namespace pointillo {

struct DrawKernels {
    // One dot by maximum, one opacity and colour, over its footprint (already
    // clipped to the surface's window).
    void (*dot)(const raster::Surface& surface, const raster::Footprint& fp, DotShape shape,
                const raster::RowGeometry& g, float y, float opacity, Rgb color) = nullptr;
    // One solid-phase dot: opacity and colour from the mask at each pixel.
    void (*masked_dot)(const raster::Surface& surface, const raster::Footprint& fp, DotShape shape,
                       const raster::RowGeometry& g, float y, const MaskSampler& sampler,
                       bool match_source_colors, Rgb dot_color) = nullptr;
    // One particle: a circle composited by the over operator.
    void (*particle)(const raster::Surface& surface, const raster::Footprint& fp,
                     const raster::RowGeometry& g, float y, float opacity, Rgb color) = nullptr;
    // One small plain dot clipped to a tile (plain_piece.h).
    void (*plain_piece)(raster::Measure measure, const raster::PlainPiece& piece,
                        raster::RampList& list) = nullptr;
    // One row of a solid source: each pixel overwritten with (a, a x colour),
    // a = coverage / 65535, the colour from `colors` or, when that is null,
    // `uniform`.
    void (*fill_row)(PremultipliedPixel* out, const uint16_t* coverage, const Rgb* colors,
                     Rgb uniform, int32_t count) = nullptr;
    // One row of output conversion, 8 or 16 bits per channel (raster::to_8,
    // raster::to_16 on each channel).
    void (*convert_row_8)(const PremultipliedPixel* in, std::byte* out, int32_t count) = nullptr;
    void (*convert_row_16)(const PremultipliedPixel* in, std::byte* out, int32_t count) = nullptr;
    // A tile row copied to the canvas and cleared for the next tile; a canvas
    // row cleared. Both may bypass the cache: finish_writes() makes what they
    // wrote visible, and runs before the canvas is read.
    void (*write_out)(PremultipliedPixel* tile_row, PremultipliedPixel* canvas_row,
                      int32_t count) = nullptr;
    void (*clear_out)(PremultipliedPixel* canvas_row, int32_t count) = nullptr;
    void (*finish_writes)() = nullptr;
};

namespace raster {

// The walks every form builds the same way from its row kernels.
template <class Form> struct Walks {
    static void dot(const Surface& surface, const Footprint& fp, DotShape shape,
                    const RowGeometry& g, float y, float opacity, Rgb color) {
        walk_dot<Form>(surface, fp, shape, g, y, MaxPaint<Form>{opacity, color});
    }
    static void masked_dot(const Surface& surface, const Footprint& fp, DotShape shape,
                           const RowGeometry& g, float y, const MaskSampler& sampler,
                           bool match_source_colors, Rgb dot_color) {
        walk_dot<Form>(surface, fp, shape, g, y,
                       MaskedMaxPaint{sampler, match_source_colors, dot_color});
    }
    // Particles are always circles; they accumulate by the over operator.
    static void particle(const Surface& surface, const Footprint& fp, const RowGeometry& g, float y,
                         float opacity, Rgb color) {
        walk_footprint<Form, Measure::kCircle, false, false>(surface, fp, g, y,
                                                             OverPaint<Form>{opacity, color});
    }
};

template <class Form> void install_form(DrawKernels& kernels) {
    kernels.dot = &Walks<Form>::dot;
    kernels.masked_dot = &Walks<Form>::masked_dot;
    kernels.particle = &Walks<Form>::particle;
    kernels.plain_piece = &draw_plain_piece<Form>;
    kernels.fill_row = &Form::fill_row;
    kernels.convert_row_8 = &Form::convert_row_8;
    kernels.convert_row_16 = &Form::convert_row_16;
    kernels.write_out = &Form::write_out;
    kernels.clear_out = &Form::clear_out;
    kernels.finish_writes = &Form::finish_writes;
}

// Each form's file fills in the entries it has; a build without a form has
// no definition of its function, and kernels.cpp does not call it.
void install_portable(DrawKernels& kernels);
void install_sse2(DrawKernels& kernels);
void install_avx2(DrawKernels& kernels);

} // namespace raster
} // namespace pointillo
