#include "draw/canvas.h"

#include "common/limits.h"
#include "draw/float_math.h"
#include "draw/mask_sampler.h"
#include "draw/raster_rows.h"
#include "frame/settings.h"
#include "source/source_mask.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace pointillo {
namespace {

using draw_math::clamp01;

using raster::Span;

// Pixels from floor(centre - reach) to ceil(centre + reach), clamped to
// [0, size - 1]. Compared as floats (in double, exact) before converting, so
// huge or infinite bounds clamp instead of overflowing the int.
Span footprint_span(float centre, float reach, int32_t size) {
    const float lo = std::floor(centre - reach);
    const float hi = std::ceil(centre + reach);
    Span span;
    span.first =
        !(lo > 0.0f) ? 0 : (static_cast<double>(lo) < size ? static_cast<int32_t>(lo) : size);
    span.last = !(hi >= 0.0f)
                    ? -1
                    : (static_cast<double>(hi) < size - 1 ? static_cast<int32_t>(hi) : size - 1);
    return span;
}

struct Footprint {
    Span rows;
    Span cols;
    bool empty() const { return rows.first > rows.last || cols.first > cols.last; }
};

Footprint footprint(const Canvas& canvas, float x, float y, float reach) {
    return {footprint_span(y, reach, canvas.height), footprint_span(x, reach, canvas.width)};
}

// A canvas whose pixel vector disagrees with its size is treated as empty.
bool canvas_ok(const Canvas& canvas) {
    return canvas.width > 0 && canvas.height > 0 &&
           canvas.pixels.size() ==
               static_cast<uint64_t>(canvas.width) * static_cast<uint64_t>(canvas.height);
}

// Sample point of column or row `index`: its pixel centre.
inline float centre_of(int32_t index) {
    return static_cast<float>(index) + 0.5f;
}

// Asks for every cache line of the footprint at once: a dot's rows lie a
// whole canvas row apart, so otherwise their misses come one after another.
void prefetch_footprint(const Canvas& canvas, const Footprint& fp) {
    // Large dots: the row walk itself streams well enough.
    if (fp.rows.last - fp.rows.first >= 64 || fp.cols.last - fp.cols.first >= 256) {
        return;
    }
    // Four pixels are one 64-byte line; stepping by four meets every line of
    // the row, the last one included.
    for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
        const PremultipliedPixel* row =
            canvas.pixels.data() + static_cast<ptrdiff_t>(i) * canvas.width;
        for (int32_t j = fp.cols.first; j <= fp.cols.last; j += 4) {
            __builtin_prefetch(row + j, 1);
        }
        __builtin_prefetch(row + fp.cols.last, 1);
    }
}

// The part of a dot's footprint that drawing by maximum can change: beyond
// r + s/2 (plus a pixel) the coverage is 0. Only a hint for prefetching.
Footprint hot_box(const Canvas& canvas, float x, float y, float radius, float s) {
    return footprint(canvas, x, y, radius + 0.5f * s + 1.0f);
}

// Sets out[k] to the coverage of column c0 + k for columns c0 .. c1: computed
// on the live columns outside the solid ones, 1 on the solid ones, 0 on the
// rest. The computed runs go first, since the kernel may write a few entries
// past a run's end; the constant runs then overwrite any such spill.
template <raster::Measure M, bool Hole>
void fill_coverage(float* out, int32_t c0, int32_t c1, const raster::RowSpans& spans,
                   const raster::RowKernel<M, Hole>& kernel, float dy, double dy2) {
    const auto clip = [c0, c1](int32_t a, int32_t b) {
        return Span{a > c0 ? a : c0, b < c1 ? b : c1};
    };
    const auto compute = [&](Span run) {
        if (!run.empty()) {
            kernel(out + (run.first - c0), run.first, run.last - run.first + 1, dy, dy2);
        }
    };
    const auto set = [out, c0](Span run, float value) {
        for (int32_t j = run.first; j <= run.last; ++j) {
            out[j - c0] = value;
        }
    };
    const Span& live = spans.live;
    const Span& solid = spans.solid;
    if (live.empty()) {
        set(clip(c0, c1), 0.0f);
        return;
    }
    if (solid.empty()) {
        compute(clip(live.first, live.last));
    } else {
        compute(clip(live.first, solid.first - 1));
        compute(clip(solid.last + 1, live.last));
        set(clip(solid.first, solid.last), 1.0f);
    }
    set(clip(c0, live.first - 1), 0.0f);
    set(clip(live.last + 1, c1), 0.0f);
}

// Footprints at most this wide take the short walk.
constexpr int32_t kSmallWidth = 32;

// Walks the footprint row by row, handing each run of a row's coverage to
// `paint(pixels, coverage, count, j, i)` with the first pixel's column j and
// the row i. With SkipZero, pixels of coverage 0 need not be painted: that is
// right for combining by maximum, where coverage 0 never beats a pixel (every
// canvas these functions produce has alpha >= 0).
//
// Small footprints (most dots and particles) compute every pixel, with the
// kernel's constants set once per dot; with SkipZero, rows wholly beyond the
// ramp are skipped, and rows are painted to a multiple of four columns when
// the canvas allows, since the columns past the footprint have coverage 0.
// Wider footprints split each row into columns known to be 0, known to be 1
// and the ramp between, and compute only the ramp.
template <raster::Measure M, bool Hole, bool SkipZero, class Paint>
void walk_footprint(Canvas& canvas, const Footprint& fp, const raster::RowGeometry& g, float y,
                    Paint paint) {
    const raster::RowKernel<M, Hole> kernel(g);
    const raster::Bounds bounds = raster::dot_bounds<Hole>(g, fp.cols.last);
    const int32_t width = fp.cols.last - fp.cols.first + 1;
    if (width <= kSmallWidth) {
        int32_t count = width;
        if (SkipZero && bounds.usable && std::fabs(g.radius) + g.s < 65536.0f) {
            const int32_t padded = (width + 3) & ~3;
            count = fp.cols.first + padded <= canvas.width ? padded : width;
        }
        alignas(16) float coverage[kSmallWidth + 4];
        for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
            const float dy = std::fabs(centre_of(i) - y);
            // Every measure is at least dy.
            if (SkipZero && bounds.usable && !(static_cast<double>(dy) <= bounds.zero_beyond)) {
                continue;
            }
            const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
            kernel(coverage, fp.cols.first, count, dy, dy2);
            paint(canvas.pixels.data() + static_cast<ptrdiff_t>(i) * canvas.width + fp.cols.first,
                  coverage, count, fp.cols.first, i);
        }
        return;
    }
    // Room for the kernel's writes past the end of a run.
    alignas(16) float coverage[raster::kChunk + 4];
    raster::RowGeometry row_g = g;
    for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
        row_g.dy = std::fabs(centre_of(i) - y);
        row_g.dy2 = static_cast<double>(row_g.dy) * static_cast<double>(row_g.dy);
        const raster::RowSpans spans = raster::row_spans<M>(row_g, bounds, fp.cols);
        const Span range = SkipZero ? spans.live : fp.cols;
        PremultipliedPixel* row = canvas.pixels.data() + static_cast<ptrdiff_t>(i) * canvas.width;
        for (int32_t c0 = range.first; c0 <= range.last; c0 += raster::kChunk) {
            const int32_t left = range.last - c0 + 1;
            const int32_t count = left < raster::kChunk ? left : raster::kChunk;
            fill_coverage<M, Hole>(coverage, c0, c0 + count - 1, spans, kernel, row_g.dy,
                                   row_g.dy2);
            paint(row + c0, coverage, count, c0, i);
        }
    }
}

template <class Paint>
void dispatch_dot(Canvas& canvas, int32_t shape, float s, float x, float y, float radius,
                  float inner_radius, Paint paint) {
    // A dot whose numbers are not finite draws nothing: its footprint would
    // not be defined.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(radius) ||
        !std::isfinite(inner_radius) || !canvas_ok(canvas)) {
        return;
    }
    const Footprint fp = footprint(canvas, x, y, radius + s);
    if (fp.empty()) {
        return;
    }
    prefetch_footprint(canvas, hot_box(canvas, x, y, radius, s));
    raster::RowGeometry g;
    g.x = x;
    g.radius = radius;
    g.inner = inner_radius;
    g.s = s;
    using raster::Measure;
    const bool hole = inner_radius > 0.0f;
    switch (shape) {
    case dot_shape::kSquare:
        hole ? walk_footprint<Measure::kSquare, true, true>(canvas, fp, g, y, paint)
             : walk_footprint<Measure::kSquare, false, true>(canvas, fp, g, y, paint);
        break;
    case dot_shape::kDiamond:
        hole ? walk_footprint<Measure::kDiamond, true, true>(canvas, fp, g, y, paint)
             : walk_footprint<Measure::kDiamond, false, true>(canvas, fp, g, y, paint);
        break;
    default:
        // Circle, Ring, and any unknown shape: the circle's distance.
        hole ? walk_footprint<Measure::kCircle, true, true>(canvas, fp, g, y, paint)
             : walk_footprint<Measure::kCircle, false, true>(canvas, fp, g, y, paint);
        break;
    }
}

// Writes rows of the output world: the canvas's pixels through
// `convert_row(in, out, count)`, and transparent pixels (all-zero bits in
// every depth) where the output reaches beyond the canvas.
template <class ConvertRow>
void convert_rows(const PremultipliedPixel* source, int32_t source_width, int32_t source_height,
                  const PixelView& output, const CancelCheck& cancel, ptrdiff_t pixel_bytes,
                  ConvertRow convert_row) {
    const int32_t shared_cols = source_width < output.width ? source_width : output.width;
    for (int32_t i = 0; i < output.height; ++i) {
        if (i % 64 == 0) {
            cancel.poll();
        }
        std::byte* row_bytes = output.data + static_cast<ptrdiff_t>(i) * output.rowbytes;
        int32_t j = 0;
        if (i < source_height) {
            convert_row(source + static_cast<ptrdiff_t>(i) * source_width, row_bytes, shared_cols);
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

void prefetch_dot(const Canvas& canvas, float x, float y, float radius, float softness) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(radius) || !canvas_ok(canvas)) {
        return;
    }
    prefetch_footprint(canvas, hot_box(canvas, x, y, radius, effective_softness(softness)));
}

void draw_dot(Canvas& canvas, int32_t shape, float softness, float x, float y, float radius,
              float inner_radius, float opacity, Rgb color) {
    // Without a positive opacity no pixel can be raised: every coverage it
    // gives is at most 0, and alpha is never below 0.
    if (!(opacity > 0.0f) || !std::isfinite(opacity)) {
        return;
    }
    const float s = effective_softness(softness);
    dispatch_dot(canvas, shape, s, x, y, radius, inner_radius,
                 [opacity, color](PremultipliedPixel* pixels, const float* coverage, int32_t count,
                                  int32_t, int32_t) {
                     raster::paint_max_row(pixels, coverage, count, opacity, color);
                 });
}

void draw_masked_dot(Canvas& canvas, int32_t shape, float softness, float x, float y, float radius,
                     float inner_radius, const SourceMask& mask, bool match_source_colors,
                     Rgb dot_color) {
    const MaskSampler sampler = make_mask_sampler(mask);
    const float s = effective_softness(softness);
    dispatch_dot(
        canvas, shape, s, x, y, radius, inner_radius,
        [&sampler, match_source_colors, dot_color](PremultipliedPixel* pixels,
                                                   const float* coverage, int32_t count, int32_t j0,
                                                   int32_t i) {
            for (int32_t k = 0; k < count; ++k) {
                // Canvas and mask share origin and pixel grid.
                const int32_t j = j0 + k;
                const int64_t index = (j < sampler.width && i < sampler.height)
                                          ? static_cast<int64_t>(i) * sampler.width + j
                                          : -1;
                const Rgb color = match_source_colors ? mask_color(sampler, index) : dot_color;
                raster::combine_max(pixels[k], coverage[k] * mask_coverage(sampler, index), color);
            }
        });
}

void fill_solid_source(Canvas& canvas, const SourceMask& mask, bool match_source_colors,
                       Rgb dot_color, const CancelCheck& cancel) {
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
        raster::fill_row(out, sampler.coverage + mask_row,
                         per_pixel ? sampler.colors + mask_row : nullptr, uniform, cols);
    }
}

void draw_particles(std::span<const Particle> particles, int32_t width, int32_t height,
                    float edge_softness, Canvas& canvas) {
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
        const Rgb color{particle.red, particle.green, particle.blue};
        const float opacity = particle.opacity;
        // Particles are always circles; they accumulate by the over operator.
        walk_footprint<raster::Measure::kCircle, false, false>(
            canvas, fp, g, particle.y,
            [opacity, color](PremultipliedPixel* pixels, const float* coverage, int32_t count,
                             int32_t, int32_t) {
                raster::paint_over_row(pixels, coverage, count, opacity, color);
            });
    }
}

void convert_canvas(const Canvas& canvas, const PixelView& output, const CancelCheck& cancel) {
    if (output.data == nullptr || output.width <= 0 || output.height <= 0) {
        return;
    }
    const bool have_canvas = canvas_ok(canvas);
    const PremultipliedPixel* source = have_canvas ? canvas.pixels.data() : nullptr;
    const int32_t width = have_canvas ? canvas.width : 0;
    const int32_t height = have_canvas ? canvas.height : 0;
    switch (output.depth) {
    case PixelDepth::k32:
        // Stored unchanged: over-range colours survive in float output.
        convert_rows(source, width, height, output, cancel, 16,
                     [](const PremultipliedPixel* in, std::byte* out, int32_t count) {
                         std::memcpy(out, in, static_cast<size_t>(count) * sizeof(*in));
                     });
        break;
    case PixelDepth::k16:
        convert_rows(source, width, height, output, cancel, 8, raster::convert_row_16);
        break;
    default:
        convert_rows(source, width, height, output, cancel, 4, raster::convert_row_8);
        break;
    }
}

} // namespace pointillo
