#pragma once

// The rasterizer's per-row arithmetic, internal to the drawing code: what a
// dot's rows need, the coverage of one pixel from its definition, and the
// two ways of combining a pixel. Every drawing form (kernels_portable.cpp,
// kernels_sse2.cpp, kernels_avx2.cpp) builds its kernels on these and gives
// their bits: a division stays a division, sqrt is the correctly rounded
// double sqrt, max/min keep the NaN order of the scalar clamp.

#include "draw/canvas.h"
#include "draw/float_math.h"
#include "frame/settings.h"

#include <cmath>
#include <cstdint>

namespace pointillo::raster {

// Columns handled per kernel call; the coverage buffer holds this many.
constexpr int32_t kChunk = 256;

enum class Measure { kCircle, kSquare, kDiamond };

// A shape chooses only the distance measure: a ring is a circle whose hole
// is cut by its inner radius.
constexpr Measure measure_of(DotShape shape) {
    switch (shape) {
    case DotShape::kSquare:
        return Measure::kSquare;
    case DotShape::kDiamond:
        return Measure::kDiamond;
    case DotShape::kCircle:
    case DotShape::kRing:
        break;
    }
    return Measure::kCircle;
}

// What the coverage of one dot (or particle) row needs.
struct RowGeometry {
    float x = 0.0f;      // centre column, canvas pixels
    float dy = 0.0f;     // |row centre - y|
    double dy2 = 0.0;    // double(dy) squared, exact
    float radius = 0.0f; // edge of the ramp's middle
    float inner = 0.0f;  // ring hole radius (used only with a hole)
    float s = 0.75f;     // softness, at least 0.75
};

// Inclusive column (or row) range; empty when first > last.
struct Span {
    int32_t first = 0;
    int32_t last = -1;
    bool empty() const { return first > last; }
};

// The columns of one row split by what is known of their coverage without
// computing it: outside `live` it is exactly 0, inside `solid` exactly 1;
// between, it is computed. Both spans are conservative: a column whose
// coverage might be anything else is left to the exact computation.
struct RowSpans {
    Span live;
    Span solid;
};

// Distance bounds of one dot, in double: coverage is 0 beyond `zero_beyond`
// and 1 within `one_within`. The slack covers the float rounding of the
// distance and of the ramp (a few float ulps of r + s, and of 1).
struct Bounds {
    bool usable = false;
    double zero_beyond = 0.0;
    double one_within = -1.0;
};

template <bool Hole> inline Bounds dot_bounds(const RowGeometry& g, int32_t last_column) {
    Bounds b;
    // Beyond 2^22 floats no longer hold half pixels exactly; there every
    // column is computed.
    constexpr double kExactLimit = 4194304.0;
    const double x = static_cast<double>(g.x);
    if (!(std::fabs(x) < kExactLimit) || last_column >= (1 << 22)) {
        return b;
    }
    const double r = static_cast<double>(g.radius);
    const double s = static_cast<double>(g.s);
    const double slack = (std::fabs(r) + s) * 0x1p-16 + 0x1p-10;
    b.usable = true;
    b.zero_beyond = r + 0.5 * s + slack;
    // The hole makes the middle of a ring anything but 1.
    b.one_within = Hole ? -1.0 : r - 0.5 * s - slack;
    return b;
}

// Half the width of the row's columns whose distance is at most `reach`, or
// a negative number when there are none.
template <Measure M> inline double half_width(double reach, const RowGeometry& g) {
    const double dy = static_cast<double>(g.dy);
    if (!(reach >= dy)) {
        return -1.0;
    }
    if constexpr (M == Measure::kSquare) {
        return reach;
    } else if constexpr (M == Measure::kDiamond) {
        return reach - dy;
    } else {
        return std::sqrt(reach * reach - g.dy2);
    }
}

// Columns j with |j + 0.5 - x| <= w, widened (grow) or narrowed by one column
// for the float rounding of j + 0.5 - x, and clipped to `within`.
inline Span columns_within(double x, double w, int32_t grow, Span within) {
    if (w < 0.0) {
        return {};
    }
    const double lo = std::ceil(x - w - 0.5) - grow;
    const double hi = std::floor(x + w - 0.5) + grow;
    Span span;
    span.first = lo > within.first
                     ? (lo <= within.last ? static_cast<int32_t>(lo) : within.last + 1)
                     : within.first;
    span.last = hi < within.last
                    ? (hi >= within.first ? static_cast<int32_t>(hi) : within.first - 1)
                    : within.last;
    return span;
}

// `grow` widens the live span and narrows the solid one by that many columns
// beyond what the bounds' slack already allows for.
template <Measure M>
inline RowSpans row_spans(const RowGeometry& g, const Bounds& bounds, Span columns,
                          int32_t grow = 1) {
    if (!bounds.usable) {
        return {columns, {}};
    }
    const double x = static_cast<double>(g.x);
    RowSpans spans;
    spans.live = columns_within(x, half_width<M>(bounds.zero_beyond, g), grow, columns);
    if (bounds.one_within > 0.0 && !spans.live.empty()) {
        spans.solid = columns_within(x, half_width<M>(bounds.one_within, g), -grow, spans.live);
    }
    return spans;
}

// Coverage of one pixel from its definition: sample at the pixel centre,
// distance by the shape's measure, linear edge ramp of width s, optional hole.
template <Measure M, bool Hole> inline float pixel_coverage(const RowGeometry& g, int32_t j) {
    const float dx = std::fabs(static_cast<float>(j) + 0.5f - g.x);
    float d = 0.0f;
    if constexpr (M == Measure::kDiamond) {
        d = dx + g.dy;
    } else if constexpr (M == Measure::kSquare) {
        d = dx > g.dy ? dx : g.dy;
    } else {
        d = draw_math::hypot_fast(dx, g.dy, g.dy2);
    }
    float c = clamp01((g.radius - d) / g.s + 0.5f);
    if constexpr (Hole) {
        c = c * clamp01((d - g.inner) / g.s + 0.5f);
    }
    return c;
}

// Combine by maximum: a pixel is repainted only by a strictly larger
// coverage, so on a tie the dot drawn first stays.
inline void combine_max(PremultipliedPixel& p, float c, Rgb color) {
    if (c > p.alpha) {
        p = {c, c * color.red, c * color.green, c * color.blue};
    }
}

// The over operator of one particle pixel: alpha' = u + alpha (1 - u),
// colour' = colour (1 - u) + u x particle colour.
inline void combine_over(PremultipliedPixel& p, float u, Rgb color) {
    const float keep = 1.0f - u;
    p.alpha = u + p.alpha * keep;
    p.red = p.red * keep + u * color.red;
    p.green = p.green * keep + u * color.green;
    p.blue = p.blue * keep + u * color.blue;
}

// Output conversion of one channel. 8 bits: clamp to [0, 1], times 255,
// plus 0.5, truncated. 16 bits: the same with 32768, the host's white. The
// clamp sends NaN to 0.
inline uint8_t to_8(float v) {
    return static_cast<uint8_t>(clamp01(v) * 255.0f + 0.5f);
}
inline uint16_t to_16(float v) {
    return static_cast<uint16_t>(clamp01(v) * 32768.0f + 0.5f);
}

} // namespace pointillo::raster
