#include "draw/canvas.h"

#include "common/limits.h"
#include "draw/kernel_table.h"
#include "draw/mask_sampler.h"
#include "draw/prefetch.h"
#include "draw/raster_walk.h"
#include "frame/settings.h"
#include "source/source_mask.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace pointillo {
namespace {

using raster::canvas_ok;
using raster::Footprint;
using raster::footprint_span;
using raster::Span;

// Pixels of a solid fill whose straight colours are formed at once.
constexpr int32_t kFillStretch = 256;

Footprint footprint(const Canvas& canvas, float x, float y, float reach) {
    return {footprint_span(y, reach, canvas.height), footprint_span(x, reach, canvas.width)};
}

// Asks for every cache line of the footprint at once: a dot's rows lie a
// whole canvas row apart, so otherwise their misses come one after another.
void prefetch_footprint(const Canvas& canvas, const Footprint& fp) {
    // Large footprints: the row walk itself streams well enough.
    if (fp.rows.last - fp.rows.first >= 64 || fp.cols.last - fp.cols.first >= 256) {
        return;
    }
    // Four pixels are one 64-byte line; stepping by four meets every line of
    // the row, the last one included.
    for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
        const PremultipliedPixel* row =
            canvas.pixels.data() + static_cast<ptrdiff_t>(i) * canvas.width;
        for (int32_t j = fp.cols.first; j <= fp.cols.last; j += 4) {
            raster::prefetch_for_write(row + j);
        }
        raster::prefetch_for_write(row + fp.cols.last);
    }
}

// The footprint and geometry of a dot on the canvas, or false when it draws
// nothing: a dot whose numbers are not finite (its footprint would not be
// defined), or one wholly outside.
bool place_dot(const Canvas& canvas, float s, float x, float y, float radius, float inner_radius,
               Footprint& fp, raster::RowGeometry& g) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(radius) ||
        !std::isfinite(inner_radius) || !raster::canvas_ok(canvas)) {
        return false;
    }
    fp = footprint(canvas, x, y, radius + s);
    g.x = x;
    g.radius = radius;
    g.inner = inner_radius;
    g.s = s;
    return !fp.empty();
}

// Writes rows of the output world: the canvas's pixels through
// `convert_row(in, out, count)`, and transparent pixels (all-zero bits in
// every depth) where the output reaches beyond the canvas.
template <class ConvertRow>
void convert_rows(const PremultipliedPixel* pixels, int32_t canvas_width, int32_t canvas_height,
                  const PixelView& output, const CancelCheck& cancel, ptrdiff_t pixel_bytes,
                  ConvertRow convert_row) {
    const int32_t shared_cols = canvas_width < output.width ? canvas_width : output.width;
    for (int32_t i = 0; i < output.height; ++i) {
        if (i % 64 == 0) {
            cancel.poll();
        }
        std::byte* row_bytes = output.data + static_cast<ptrdiff_t>(i) * output.rowbytes;
        int32_t j = 0;
        if (i < canvas_height) {
            convert_row(pixels + static_cast<ptrdiff_t>(i) * canvas_width, row_bytes, shared_cols);
            j = shared_cols;
        }
        if (j < output.width) {
            std::memset(row_bytes + j * pixel_bytes, 0,
                        static_cast<size_t>((output.width - j) * pixel_bytes));
        }
    }
}

} // namespace

void reset_canvas(Canvas& canvas, int32_t width, int32_t height) {
    if (!pixel_count_ok(width, height)) {
        throw std::runtime_error("Unsupported output dimensions");
    }
    canvas.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height),
                         PremultipliedPixel{});
    canvas.width = width;
    canvas.height = height;
}

float effective_softness(float edge_softness) {
    // Not std::max: a NaN softness would pass through it.
    return edge_softness > 0.75f ? edge_softness : 0.75f;
}

void draw_dot(Canvas& canvas, DotShape shape, float softness, float x, float y, float radius,
              float inner_radius, float opacity, Rgb color, const DrawKernels& kernels) {
    // Without a positive opacity no pixel can be raised: every coverage it
    // gives is at most 0, and alpha is never below 0.
    if (!(opacity > 0.0f) || !std::isfinite(opacity)) {
        return;
    }
    Footprint fp;
    raster::RowGeometry g;
    if (place_dot(canvas, effective_softness(softness), x, y, radius, inner_radius, fp, g)) {
        kernels.dot(raster::whole_canvas(canvas), fp, shape, g, y, opacity, color);
    }
}

void draw_masked_dot(Canvas& canvas, DotShape shape, float softness, float x, float y, float radius,
                     float inner_radius, const SourceMask& mask, bool match_source_colors,
                     Rgb dot_color, const DrawKernels& kernels) {
    Footprint fp;
    raster::RowGeometry g;
    if (place_dot(canvas, effective_softness(softness), x, y, radius, inner_radius, fp, g)) {
        kernels.masked_dot(raster::whole_canvas(canvas), fp, shape, g, y, make_mask_sampler(mask),
                           match_source_colors, dot_color);
    }
}

void fill_solid_source(Canvas& canvas, const SourceMask& mask, bool match_source_colors,
                       Rgb dot_color, const CancelCheck& cancel, const DrawKernels& kernels) {
    if (!canvas_ok(canvas)) {
        return;
    }
    const MaskSampler sampler = make_mask_sampler(mask);
    const int32_t rows = sampler.height < canvas.height ? sampler.height : canvas.height;
    const int32_t cols = sampler.width < canvas.width ? sampler.width : canvas.width;
    for (int32_t i = 0; i < rows; ++i) {
        if (i % 64 == 0) {
            cancel.poll();
        }
        PremultipliedPixel* out = canvas.pixels.data() + static_cast<ptrdiff_t>(i) * canvas.width;
        const ptrdiff_t mask_row = static_cast<ptrdiff_t>(i) * sampler.width;
        // Matching colours without a colour plane paints white.
        const bool per_pixel = match_source_colors && sampler.colors != nullptr;
        const Rgb uniform = match_source_colors ? Rgb{1.0f, 1.0f, 1.0f} : dot_color;
        if (!per_pixel) {
            kernels.fill_row(out, sampler.coverage + mask_row, nullptr, uniform, cols);
            continue;
        }
        // The mask keeps its colours in the source's form: straight colours
        // are formed a stretch at a time.
        Rgb straight[kFillStretch];
        for (int32_t j = 0; j < cols; j += kFillStretch) {
            const int32_t count = cols - j < kFillStretch ? cols - j : kFillStretch;
            decode_colors(sampler.color_form,
                          sampler.colors + static_cast<std::size_t>(mask_row + j) *
                                               color_bytes(sampler.color_form),
                          static_cast<std::size_t>(count), straight);
            kernels.fill_row(out + j, sampler.coverage + mask_row + j, straight, uniform, count);
        }
    }
}

void draw_particles(std::span<const Particle> particles, int32_t width, int32_t height,
                    float edge_softness, Canvas& canvas, const DrawKernels& kernels) {
    if (!canvas_ok(canvas)) {
        return;
    }
    // The caller's size is the canvas's; never reach beyond either.
    const int32_t cols = width < canvas.width ? width : canvas.width;
    const int32_t rows = height < canvas.height ? height : canvas.height;
    const float s = effective_softness(edge_softness);
    // The footprint of a particle that is drawn at all; false for one that is
    // skipped (too small, invisible, not finite, or wholly outside).
    const auto footprint_of = [s, rows, cols](const Particle& p, Footprint& fp) {
        // Written so that a NaN radius or opacity is skipped too.
        if (!(p.radius > 0.01f) || !(p.opacity > 0.0f) || !std::isfinite(p.radius) ||
            !std::isfinite(p.opacity) || !std::isfinite(p.x) || !std::isfinite(p.y)) {
            return false;
        }
        const float reach = p.radius + s;
        fp = {footprint_span(p.y, reach, rows), footprint_span(p.x, reach, cols)};
        return !fp.empty();
    };
    // Particles land anywhere: ask for the pixels of the one two places ahead
    // while this one is drawn.
    constexpr size_t kLookahead = 2;
    for (size_t k = 0; k < particles.size(); ++k) {
        Footprint ahead;
        if (k + kLookahead < particles.size() && footprint_of(particles[k + kLookahead], ahead)) {
            prefetch_footprint(canvas, ahead);
        }
        const Particle& particle = particles[k];
        Footprint fp;
        if (!footprint_of(particle, fp)) {
            continue;
        }
        prefetch_footprint(canvas, fp);
        raster::RowGeometry g;
        g.x = particle.x;
        g.radius = particle.radius;
        g.s = s;
        kernels.particle(raster::whole_canvas(canvas), fp, g, particle.y, particle.opacity,
                         particle.color);
    }
}

void convert_canvas(const Canvas& canvas, const PixelView& output, const CancelCheck& cancel,
                    const DrawKernels& kernels) {
    if (output.data == nullptr || output.width <= 0 || output.height <= 0) {
        return;
    }
    const bool have_canvas = canvas_ok(canvas);
    const PremultipliedPixel* pixels = have_canvas ? canvas.pixels.data() : nullptr;
    const int32_t width = have_canvas ? canvas.width : 0;
    const int32_t height = have_canvas ? canvas.height : 0;
    switch (output.depth) {
    case PixelDepth::k32:
        // Stored unchanged: over-range colours survive in float output.
        convert_rows(pixels, width, height, output, cancel, 16,
                     [](const PremultipliedPixel* in, std::byte* out, int32_t count) {
                         std::memcpy(out, in, static_cast<size_t>(count) * sizeof(*in));
                     });
        break;
    case PixelDepth::k16:
        convert_rows(pixels, width, height, output, cancel, 8, kernels.convert_row_16);
        break;
    default:
        convert_rows(pixels, width, height, output, cancel, 4, kernels.convert_row_8);
        break;
    }
}

} // namespace pointillo
