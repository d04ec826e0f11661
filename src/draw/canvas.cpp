#include "draw/canvas.h"

#include "common/limits.h"
#include "draw/float_math.h"
#include "draw/mask_sampler.h"
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
using draw_math::hypot_fast;

// Inclusive pixel range along one axis; empty when first > last.
struct Span {
    int32_t first = 0;
    int32_t last = -1;
};

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

// Distance measure of each shape; Ring is a circle with a hole.
template <int32_t Shape> inline float shape_distance(float dx, float dy, double dy2) {
    if constexpr (Shape == dot_shape::kDiamond) {
        return dx + dy;
    } else if constexpr (Shape == dot_shape::kSquare) {
        return dx > dy ? dx : dy;
    } else {
        return hypot_fast(dx, dy, dy2);
    }
}

// The shared per-pixel walk of a dot: for every pixel of the footprint the
// edge-ramped coverage (and the ring hole, when asked for) is handed to
// `paint(pixel, coverage, column, row)`.
template <int32_t Shape, bool Hole, class Paint>
void walk_dot(Canvas& canvas, const Footprint& fp, float s, float x, float y, float radius,
              float inner_radius, Paint paint) {
    for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
        const float dy = std::fabs(centre_of(i) - y);
        const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
        PremultipliedPixel* row = canvas.pixels.data() + static_cast<ptrdiff_t>(i) * canvas.width;
        for (int32_t j = fp.cols.first; j <= fp.cols.last; ++j) {
            const float dx = std::fabs(centre_of(j) - x);
            const float d = shape_distance<Shape>(dx, dy, dy2);
            float c = clamp01((radius - d) / s + 0.5f);
            if constexpr (Hole) {
                c = c * clamp01((d - inner_radius) / s + 0.5f);
            }
            paint(row[j], c, j, i);
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
    const bool hole = inner_radius > 0.0f;
    switch (shape) {
    case dot_shape::kSquare:
        hole
            ? walk_dot<dot_shape::kSquare, true>(canvas, fp, s, x, y, radius, inner_radius, paint)
            : walk_dot<dot_shape::kSquare, false>(canvas, fp, s, x, y, radius, inner_radius, paint);
        break;
    case dot_shape::kDiamond:
        hole ? walk_dot<dot_shape::kDiamond, true>(canvas, fp, s, x, y, radius, inner_radius, paint)
             : walk_dot<dot_shape::kDiamond, false>(canvas, fp, s, x, y, radius, inner_radius,
                                                    paint);
        break;
    default:
        // Circle, Ring, and any unknown shape: the circle's distance.
        hole
            ? walk_dot<dot_shape::kCircle, true>(canvas, fp, s, x, y, radius, inner_radius, paint)
            : walk_dot<dot_shape::kCircle, false>(canvas, fp, s, x, y, radius, inner_radius, paint);
        break;
    }
}

// Combine by maximum: only a strictly larger coverage repaints a pixel, so on
// a tie the dot drawn first stays. Written as selects so the compiler may
// vectorise it; a pixel that is not repainted gets its own bits back.
inline void combine_max(PremultipliedPixel& p, float c, Rgb color) {
    const bool over = c > p.alpha;
    const float r = c * color.red;
    const float g = c * color.green;
    const float b = c * color.blue;
    p.alpha = over ? c : p.alpha;
    p.red = over ? r : p.red;
    p.green = over ? g : p.green;
    p.blue = over ? b : p.blue;
}

// Pixel layouts of the output world, channel order alpha, red, green, blue.
template <class T> struct OutPixel {
    T alpha;
    T red;
    T green;
    T blue;
};

inline uint8_t to_8(float v) {
    return static_cast<uint8_t>(clamp01(v) * 255.0f + 0.5f);
}
inline uint16_t to_16(float v) {
    return static_cast<uint16_t>(clamp01(v) * 32768.0f + 0.5f);
}

template <class T, class Convert>
void convert_rows(const PremultipliedPixel* source, int32_t source_width, int32_t source_height,
                  const PixelView& output, const CancelCheck& cancel, Convert convert) {
    const int32_t shared_cols = source_width < output.width ? source_width : output.width;
    for (int32_t i = 0; i < output.height; ++i) {
        if (i % 64 == 0) {
            cancel.poll();
        }
        std::byte* row_bytes = output.data + static_cast<ptrdiff_t>(i) * output.rowbytes;
        int32_t j = 0;
        if (i < source_height) {
            const PremultipliedPixel* in = source + static_cast<ptrdiff_t>(i) * source_width;
            for (; j < shared_cols; ++j) {
                const OutPixel<T> px{convert(in[j].alpha), convert(in[j].red), convert(in[j].green),
                                     convert(in[j].blue)};
                std::memcpy(row_bytes + static_cast<ptrdiff_t>(j) * sizeof(px), &px, sizeof(px));
            }
        }
        if (j < output.width) {
            // Outside the canvas the output is transparent; all-zero bits are
            // zero in every depth.
            std::memset(row_bytes + static_cast<ptrdiff_t>(j) * sizeof(OutPixel<T>), 0,
                        static_cast<size_t>(output.width - j) * sizeof(OutPixel<T>));
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

void draw_dot(Canvas& canvas, int32_t shape, float softness, float x, float y, float radius,
              float inner_radius, float opacity, Rgb color) {
    if (!std::isfinite(opacity)) {
        return;
    }
    const float s = effective_softness(softness);
    dispatch_dot(canvas, shape, s, x, y, radius, inner_radius,
                 [opacity, color](PremultipliedPixel& p, float c, int32_t, int32_t) {
                     combine_max(p, c * opacity, color);
                 });
}

void draw_masked_dot(Canvas& canvas, int32_t shape, float softness, float x, float y, float radius,
                     float inner_radius, const SourceMask& mask, bool match_source_colors,
                     Rgb dot_color) {
    const MaskSampler sampler = make_mask_sampler(mask);
    const float s = effective_softness(softness);
    dispatch_dot(canvas, shape, s, x, y, radius, inner_radius,
                 [&sampler, match_source_colors, dot_color](PremultipliedPixel& p, float c,
                                                            int32_t j, int32_t i) {
                     // Canvas and mask share origin and pixel grid.
                     const int64_t index = (j < sampler.width && i < sampler.height)
                                               ? static_cast<int64_t>(i) * sampler.width + j
                                               : -1;
                     const Rgb color = match_source_colors ? mask_color(sampler, index) : dot_color;
                     combine_max(p, c * mask_coverage(sampler, index), color);
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
        const uint16_t* coverage = sampler.coverage + mask_row;
        for (int32_t j = 0; j < cols; ++j) {
            const float a = static_cast<float>(coverage[j]) / 65535.0f;
            Rgb color = dot_color;
            if (match_source_colors) {
                color = sampler.colors != nullptr ? sampler.colors[mask_row + j]
                                                  : Rgb{1.0f, 1.0f, 1.0f};
            }
            out[j] = {a, a * color.red, a * color.green, a * color.blue};
        }
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
    for (const Particle& particle : particles) {
        // Written so that a NaN radius or opacity is skipped too.
        if (!(particle.radius > 0.01f) || !(particle.opacity > 0.0f) ||
            !std::isfinite(particle.radius) || !std::isfinite(particle.opacity) ||
            !std::isfinite(particle.x) || !std::isfinite(particle.y)) {
            continue;
        }
        const float reach = particle.radius + s;
        const Footprint fp{footprint_span(particle.y, reach, rows),
                           footprint_span(particle.x, reach, cols)};
        for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
            const float dy = std::fabs(centre_of(i) - particle.y);
            const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
            PremultipliedPixel* row =
                canvas.pixels.data() + static_cast<ptrdiff_t>(i) * canvas.width;
            for (int32_t j = fp.cols.first; j <= fp.cols.last; ++j) {
                const float dx = std::fabs(centre_of(j) - particle.x);
                const float d = hypot_fast(dx, dy, dy2);
                const float u =
                    clamp01(clamp01((particle.radius - d) / s + 0.5f) * particle.opacity);
                // Over operator on premultiplied pixels: particles accumulate.
                const float keep = 1.0f - u;
                PremultipliedPixel& p = row[j];
                p.alpha = u + p.alpha * keep;
                p.red = p.red * keep + u * particle.red;
                p.green = p.green * keep + u * particle.green;
                p.blue = p.blue * keep + u * particle.blue;
            }
        }
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
        convert_rows<float>(source, width, height, output, cancel, [](float v) { return v; });
        break;
    case PixelDepth::k16:
        // The host's 16-bit white is 32768.
        convert_rows<uint16_t>(source, width, height, output, cancel, to_16);
        break;
    default:
        convert_rows<uint8_t>(source, width, height, output, cancel, to_8);
        break;
    }
}

} // namespace pointillo
