#pragma once

// Walking a dot's footprint row by row, internal to the drawing code. The
// walks are written once and instantiated by each drawing form with its own
// row kernels: `Form::RowKernel<M, Hole>`, `Form::paint_max_row` and
// `Form::paint_over_row` (see kernel_table.h). Each form is a type local to
// its file, so the instantiations of different forms never meet.

#include "draw/canvas.h"
#include "draw/mask_sampler.h"
#include "draw/raster_rows.h"
#include "frame/settings.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace pointillo::raster {

// Pixels from floor(centre - reach) to ceil(centre + reach), clamped to
// [0, size - 1]. Compared as floats (in double, exact) before converting, so
// huge or infinite bounds clamp instead of overflowing the int.
inline Span footprint_span(float centre, float reach, int32_t size) {
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

inline Footprint clip(const Footprint& fp, const Footprint& window) {
    return {{fp.rows.first > window.rows.first ? fp.rows.first : window.rows.first,
             fp.rows.last < window.rows.last ? fp.rows.last : window.rows.last},
            {fp.cols.first > window.cols.first ? fp.cols.first : window.cols.first,
             fp.cols.last < window.cols.last ? fp.cols.last : window.cols.last}};
}

// Where a walk paints: a window of the canvas, `stride` pixels per row.
// Canvas pixel (i, j) of the window is at(i, j).
struct Surface {
    PremultipliedPixel* pixels = nullptr;
    int32_t row0 = 0;
    int32_t col0 = 0;
    int32_t stride = 0;
    int32_t col_end = 0; // one past the window's last column

    PremultipliedPixel* at(int32_t i, int32_t j) const {
        return pixels + static_cast<ptrdiff_t>(i - row0) * stride + (j - col0);
    }
};

// A canvas whose pixel vector disagrees with its size is treated as empty.
inline bool canvas_ok(const Canvas& canvas) {
    return canvas.width > 0 && canvas.height > 0 &&
           canvas.pixels.size() ==
               static_cast<uint64_t>(canvas.width) * static_cast<uint64_t>(canvas.height);
}

inline Surface whole_canvas(Canvas& canvas) {
    return {canvas.pixels.data(), 0, 0, canvas.width, canvas.width};
}

// Sample point of column or row `index`: its pixel centre.
inline float centre_of(int32_t index) {
    return static_cast<float>(index) + 0.5f;
}

// Sets out[k] to the coverage of column c0 + k for columns c0 .. c1: computed
// on the live columns outside the solid ones, 1 on the solid ones, 0 on the
// rest. The computed runs go first, since the kernel may write a few entries
// past a run's end; the constant runs then overwrite any such spill.
template <class Kernel>
void fill_coverage(float* out, int32_t c0, int32_t c1, const RowSpans& spans, const Kernel& kernel,
                   float dy, double dy2) {
    const auto clip_run = [c0, c1](int32_t a, int32_t b) {
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
        set(clip_run(c0, c1), 0.0f);
        return;
    }
    if (solid.empty()) {
        compute(clip_run(live.first, live.last));
    } else {
        compute(clip_run(live.first, solid.first - 1));
        compute(clip_run(solid.last + 1, live.last));
        set(clip_run(solid.first, solid.last), 1.0f);
    }
    set(clip_run(c0, live.first - 1), 0.0f);
    set(clip_run(live.last + 1, c1), 0.0f);
}

// Footprints at most this wide take the short walk.
constexpr int32_t kSmallWidth = 32;

// Walks the footprint `fp` (within the surface's window) row by row, handing
// each run of a row's coverage to `paint(pixels, coverage, count, j, i)` with
// the first pixel's column j and the row i. With SkipZero, pixels of coverage
// 0 need not be painted: that is right for combining by maximum, where
// coverage 0 never beats a pixel (every canvas these functions produce has
// alpha >= 0).
//
// Small footprints (most dots and particles) compute every pixel, with the
// kernel's constants set once per dot; with SkipZero, rows wholly beyond the
// ramp are skipped, and rows are painted to a multiple of four columns when
// the window allows, since the columns past the footprint have coverage 0.
// Wider footprints split each row into columns known to be 0, known to be 1
// and the ramp between, and compute only the ramp.
template <class Form, Measure M, bool Hole, bool SkipZero, class Paint>
void walk_footprint(const Surface& surface, const Footprint& fp, const RowGeometry& g, float y,
                    Paint paint) {
    const typename Form::template RowKernel<M, Hole> kernel(g);
    const Bounds bounds = dot_bounds<Hole>(g, fp.cols.last);
    const int32_t width = fp.cols.last - fp.cols.first + 1;
    if (width <= kSmallWidth) {
        int32_t count = width;
        if (SkipZero && bounds.usable && std::fabs(g.radius) + g.s < 65536.0f) {
            const int32_t padded = (width + 3) & ~3;
            count = fp.cols.first + padded <= surface.col_end ? padded : width;
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
            paint(surface.at(i, fp.cols.first), coverage, count, fp.cols.first, i);
        }
        return;
    }
    // Room for the kernel's writes past the end of a run.
    alignas(16) float coverage[kChunk + 4];
    RowGeometry row_g = g;
    for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
        row_g.dy = std::fabs(centre_of(i) - y);
        row_g.dy2 = static_cast<double>(row_g.dy) * static_cast<double>(row_g.dy);
        const RowSpans spans = row_spans<M>(row_g, bounds, fp.cols);
        const Span range = SkipZero ? spans.live : fp.cols;
        for (int32_t c0 = range.first; c0 <= range.last; c0 += kChunk) {
            const int32_t left = range.last - c0 + 1;
            const int32_t count = left < kChunk ? left : kChunk;
            fill_coverage(coverage, c0, c0 + count - 1, spans, kernel, row_g.dy, row_g.dy2);
            paint(surface.at(i, c0), coverage, count, c0, i);
        }
    }
}

// Walks one dot of the given shape (by maximum: zero coverage skipped).
template <class Form, class Paint>
void walk_dot(const Surface& surface, const Footprint& fp, DotShape shape, const RowGeometry& g,
              float y, Paint paint) {
    const bool hole = g.inner > 0.0f;
    switch (measure_of(shape)) {
    case Measure::kSquare:
        hole ? walk_footprint<Form, Measure::kSquare, true, true>(surface, fp, g, y, paint)
             : walk_footprint<Form, Measure::kSquare, false, true>(surface, fp, g, y, paint);
        break;
    case Measure::kDiamond:
        hole ? walk_footprint<Form, Measure::kDiamond, true, true>(surface, fp, g, y, paint)
             : walk_footprint<Form, Measure::kDiamond, false, true>(surface, fp, g, y, paint);
        break;
    case Measure::kCircle:
        hole ? walk_footprint<Form, Measure::kCircle, true, true>(surface, fp, g, y, paint)
             : walk_footprint<Form, Measure::kCircle, false, true>(surface, fp, g, y, paint);
        break;
    }
}

// Paints by maximum with one opacity and colour for the whole dot.
template <class Form> struct MaxPaint {
    float opacity;
    Rgb color;
    void operator()(PremultipliedPixel* pixels, const float* coverage, int32_t count, int32_t,
                    int32_t) const {
        Form::paint_max_row(pixels, coverage, count, opacity, color);
    }
};

// Composites by the over operator with one opacity and colour (particles).
template <class Form> struct OverPaint {
    float opacity;
    Rgb color;
    void operator()(PremultipliedPixel* pixels, const float* coverage, int32_t count, int32_t,
                    int32_t) const {
        Form::paint_over_row(pixels, coverage, count, opacity, color);
    }
};

// Paints a solid-phase dot by maximum: each pixel's opacity is the mask's
// coverage there, its colour the mask's colour (or `dot_color` when not
// matching). Canvas and mask share origin and pixel grid.
struct MaskedMaxPaint {
    const MaskSampler& sampler;
    bool match_source_colors;
    Rgb dot_color;
    void operator()(PremultipliedPixel* pixels, const float* coverage, int32_t count, int32_t j0,
                    int32_t i) const {
        for (int32_t k = 0; k < count; ++k) {
            const int32_t j = j0 + k;
            const int64_t index = (j < sampler.width && i < sampler.height)
                                      ? static_cast<int64_t>(i) * sampler.width + j
                                      : -1;
            const Rgb color = match_source_colors ? mask_color(sampler, index) : dot_color;
            combine_max(pixels[k], coverage[k] * mask_coverage(sampler, index), color);
        }
    }
};

} // namespace pointillo::raster
