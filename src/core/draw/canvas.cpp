#include "draw/canvas.h"

#include "common/limits.h"
#include "draw/kernel_table.h"
#include "draw/mask_sampler.h"
#include "draw/prefetch.h"
#include "draw/raster_walk.h"
#include "frame/settings.h"
#include "source/source_mask.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace pointillo {
namespace {

using raster::canvas_ok;
using raster::Footprint;
using raster::footprint_span;
using raster::Span;

// Particles are composited a band of rows at a time: one band per piece.
constexpr int32_t kParticleBandRows = 64;

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

// The canvas's pixels as the conversion reads them; none for a canvas that
// was never drawn.
struct CanvasRows {
    const PremultipliedPixel* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

// Writes rows of the output world: the canvas's pixels through
// `convert_row(in, out, count)`, and transparent pixels (all-zero bits in
// every depth) where the output reaches beyond the canvas. One loop on the
// calling thread: a cancel answered at a row's poll leaves exactly the rows
// before it written.
template <class ConvertRow>
void convert_rows(const CanvasRows& canvas, const PixelView& output, const CancelCheck& cancel,
                  ptrdiff_t pixel_bytes, ConvertRow convert_row) {
    const int32_t shared_cols = canvas.width < output.width ? canvas.width : output.width;
    for (int32_t i = 0; i < output.height; ++i) {
        if (i % 64 == 0) {
            cancel.poll();
        }
        std::byte* row_bytes = output.data + static_cast<ptrdiff_t>(i) * output.rowbytes;
        int32_t j = 0;
        if (i < canvas.height) {
            convert_row(canvas.pixels + static_cast<ptrdiff_t>(i) * canvas.width, row_bytes,
                        shared_cols);
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

void draw_masked_dot(Canvas& canvas, const DotStyle& style, const DotPlace& place,
                     const SourceMask& mask, const DrawKernels& kernels) {
    Footprint fp;
    raster::RowGeometry g;
    if (place_dot(canvas, effective_softness(style.softness), place.x, place.y, place.radius,
                  place.inner_radius, fp, g)) {
        kernels.masked_dot(raster::whole_canvas(canvas), fp, style.shape, g, place.y,
                           make_mask_sampler(mask), style.match_source_colors, style.dot_color);
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
                    float edge_softness, Canvas& canvas, ParallelFor parallel,
                    const DrawKernels& kernels) {
    if (!canvas_ok(canvas)) {
        return;
    }
    // The caller's size is the canvas's; never reach beyond either.
    const int32_t cols = width < canvas.width ? width : canvas.width;
    const int32_t rows = height < canvas.height ? height : canvas.height;
    const float s = effective_softness(edge_softness);
    // The footprint of a particle that is drawn at all; empty for one that is
    // skipped (too small, invisible, not finite, or wholly outside).
    const auto footprint_of = [s, rows, cols](const Particle& p) {
        // Written so that a NaN radius or opacity is skipped too.
        if (!(p.radius > 0.01f) || !(p.opacity > 0.0f) || !std::isfinite(p.radius) ||
            !std::isfinite(p.opacity) || !std::isfinite(p.x) || !std::isfinite(p.y)) {
            return Footprint{{0, -1}, {0, -1}};
        }
        const float reach = p.radius + s;
        return Footprint{footprint_span(p.y, reach, rows), footprint_span(p.x, reach, cols)};
    };

    // The particles binned by band of rows, list order kept within a band:
    // a pixel meets the same particles in the same order, so bands may be
    // drawn in any order.
    const int32_t bands = (rows + kParticleBandRows - 1) / kParticleBandRows;
    PooledVector<Footprint> footprints(particles.size());
    std::vector<uint32_t> starts(static_cast<size_t>(bands) + 1, 0);
    for (size_t k = 0; k < particles.size(); ++k) {
        footprints[k] = footprint_of(particles[k]);
        if (!footprints[k].empty()) {
            for (int32_t b = footprints[k].rows.first / kParticleBandRows;
                 b <= footprints[k].rows.last / kParticleBandRows; ++b) {
                ++starts[static_cast<size_t>(b) + 1];
            }
        }
    }
    for (size_t b = 0; b < static_cast<size_t>(bands); ++b) {
        starts[b + 1] += starts[b];
    }
    PooledVector<uint32_t> order(starts.back());
    {
        std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
        for (size_t k = 0; k < particles.size(); ++k) {
            if (!footprints[k].empty()) {
                for (int32_t b = footprints[k].rows.first / kParticleBandRows;
                     b <= footprints[k].rows.last / kParticleBandRows; ++b) {
                    order[next[static_cast<size_t>(b)]++] = static_cast<uint32_t>(k);
                }
            }
        }
    }

    const raster::Surface surface = raster::whole_canvas(canvas);
    parallel(bands, [&](int32_t band) {
        const Footprint window{
            {band * kParticleBandRows, std::min(rows, (band + 1) * kParticleBandRows) - 1},
            {0, cols - 1}};
        const uint32_t begin = starts[static_cast<size_t>(band)];
        const uint32_t end = starts[static_cast<size_t>(band) + 1];
        // Particles land anywhere: ask for the pixels of the one two places
        // ahead while this one is drawn.
        constexpr uint32_t kLookahead = 2;
        for (uint32_t e = begin; e < end; ++e) {
            if (e + kLookahead < end) {
                prefetch_footprint(canvas, raster::clip(footprints[order[e + kLookahead]], window));
            }
            const Particle& particle = particles[order[e]];
            const Footprint fp = raster::clip(footprints[order[e]], window);
            prefetch_footprint(canvas, fp);
            raster::RowGeometry g;
            g.x = particle.x;
            g.radius = particle.radius;
            g.s = s;
            kernels.particle(surface, fp, g, particle.y, particle.opacity, particle.color);
        }
    });
}

void convert_canvas(const Canvas& canvas, const PixelView& output, const CancelCheck& cancel,
                    const DrawKernels& kernels) {
    if (output.data == nullptr || output.width <= 0 || output.height <= 0) {
        return;
    }
    const CanvasRows rows = canvas_ok(canvas)
                                ? CanvasRows{canvas.pixels.data(), canvas.width, canvas.height}
                                : CanvasRows{};
    switch (output.depth) {
    case PixelDepth::k32:
        // Stored unchanged: over-range colours survive in float output.
        convert_rows(rows, output, cancel, 16,
                     [](const PremultipliedPixel* in, std::byte* out, int32_t count) {
                         std::memcpy(out, in, static_cast<size_t>(count) * sizeof(*in));
                     });
        break;
    case PixelDepth::k16:
        convert_rows(rows, output, cancel, 8, kernels.convert_row_16);
        break;
    default:
        convert_rows(rows, output, cancel, 4, kernels.convert_row_8);
        break;
    }
}

} // namespace pointillo
