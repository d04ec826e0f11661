#pragma once

// The rasterizer's per-row kernels, used only by canvas.cpp. Each kernel has
// a plain scalar form; on x86-64 (SSE2 is part of the base instruction set)
// four pixels are done at once. Both forms perform the same IEEE operations
// in the same order on the same values, so they give the same bits: a
// division stays a division, sqrt is the correctly rounded double sqrt,
// max/min are written with the NaN operand order of the scalar clamp.

#include "draw/canvas.h"
#include "draw/float_math.h"
#include "frame/settings.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define POINTILLO_DRAW_SSE2 1
#else
#define POINTILLO_DRAW_SSE2 0
#endif

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
    float c = draw_math::clamp01((g.radius - d) / g.s + 0.5f);
    if constexpr (Hole) {
        c = c * draw_math::clamp01((d - g.inner) / g.s + 0.5f);
    }
    return c;
}

#if POINTILLO_DRAW_SSE2
// The fast hypot of float_math.h for four lanes, each with its own dy (and
// its double square, low lanes in dy2_lo, high in dy2_hi), with the same test
// for a result next to a float midpoint (then the library decides).
inline __m128 circle_distance(__m128 dx, __m128 dy, __m128d dy2_lo, __m128d dy2_hi) {
    const __m128d lo_dx = _mm_cvtps_pd(dx);
    const __m128d hi_dx = _mm_cvtps_pd(_mm_movehl_ps(dx, dx));
    const __m128d lo = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(lo_dx, lo_dx), dy2_lo));
    const __m128d hi = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(hi_dx, hi_dx), dy2_hi));
    // Low 32 bits of each double, in lane order.
    const __m128i low =
        _mm_and_si128(_mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(lo), _mm_castpd_ps(hi),
                                                      _MM_SHUFFLE(2, 0, 2, 0))),
                      _mm_set1_epi32(0x1FFFFFFF));
    // Unsigned low - (0x10000000 - margin) < 2 margin, via the sign flip.
    const __m128i shifted = _mm_xor_si128(
        _mm_sub_epi32(low,
                      _mm_set1_epi32(static_cast<int32_t>(0x10000000u - draw_math::kHypotMargin))),
        _mm_set1_epi32(static_cast<int32_t>(0x80000000u)));
    const __m128i near_mid = _mm_cmplt_epi32(
        shifted, _mm_set1_epi32(static_cast<int32_t>(0x80000000u + 2u * draw_math::kHypotMargin)));
    const __m128d tiny = _mm_set1_pd(0x1p-120);
    const __m128d zero_d = _mm_setzero_pd();
    const int tiny_mask =
        _mm_movemask_pd(_mm_and_pd(_mm_cmplt_pd(lo, tiny), _mm_cmpgt_pd(lo, zero_d))) |
        _mm_movemask_pd(_mm_and_pd(_mm_cmplt_pd(hi, tiny), _mm_cmpgt_pd(hi, zero_d)));
    if (_mm_movemask_epi8(near_mid) != 0 || tiny_mask != 0) {
        alignas(16) float dx_lanes[4];
        alignas(16) float dy_lanes[4];
        _mm_store_ps(dx_lanes, dx);
        _mm_store_ps(dy_lanes, dy);
        for (int l = 0; l < 4; ++l) {
            const double dyd = static_cast<double>(dy_lanes[l]);
            dx_lanes[l] = draw_math::hypot_fast(dx_lanes[l], dy_lanes[l], dyd * dyd);
        }
        return _mm_load_ps(dx_lanes);
    }
    return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}
#endif

// Coverage of runs of one dot's rows. Built once per dot; each call fills
// out[0 .. count - 1] with the coverage of columns j0 .. j0 + count - 1 of the
// row at `dy` (its `dy2` the double square), and may write up to three more
// entries (to a multiple of 4).
template <Measure M, bool Hole> class RowKernel {
  public:
    explicit RowKernel(const RowGeometry& g) : g_(g) {
#if POINTILLO_DRAW_SSE2
        x4_ = _mm_set1_ps(g_.x);
        r4_ = _mm_set1_ps(g_.radius);
        inner4_ = _mm_set1_ps(g_.inner);
        s4_ = _mm_set1_ps(g_.s);
#endif
    }

    void operator()(float* out, int32_t j0, int32_t count, float dy, double dy2) const {
#if POINTILLO_DRAW_SSE2
        const __m128 dy4 = _mm_set1_ps(dy);
        const __m128d dy2d = _mm_set1_pd(dy2);
        const __m128 half = _mm_set1_ps(0.5f);
        const __m128 zero = _mm_setzero_ps();
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128i lane = _mm_set_epi32(3, 2, 1, 0);
        for (int32_t k = 0; k < count; k += 4) {
            const __m128i j = _mm_add_epi32(_mm_set1_epi32(j0 + k), lane);
            const __m128 dx =
                _mm_and_ps(_mm_sub_ps(_mm_add_ps(_mm_cvtepi32_ps(j), half), x4_), abs_mask);
            __m128 d;
            if constexpr (M == Measure::kDiamond) {
                d = _mm_add_ps(dx, dy4);
            } else if constexpr (M == Measure::kSquare) {
                d = _mm_max_ps(dx, dy4); // dx > dy ? dx : dy
            } else {
                d = circle_distance(dx, dy4, dy2d, dy2d);
            }
            // clamp01(v) = min(max(v, 0), 1); maxps and minps return their
            // second operand for a NaN, as the scalar clamp does.
            __m128 c = _mm_min_ps(
                _mm_max_ps(_mm_add_ps(_mm_div_ps(_mm_sub_ps(r4_, d), s4_), half), zero), one);
            if constexpr (Hole) {
                const __m128 h = _mm_min_ps(
                    _mm_max_ps(_mm_add_ps(_mm_div_ps(_mm_sub_ps(d, inner4_), s4_), half), zero),
                    one);
                c = _mm_mul_ps(c, h);
            }
            _mm_storeu_ps(out + k, c);
        }
#else
        RowGeometry g = g_;
        g.dy = dy;
        g.dy2 = dy2;
        for (int32_t k = 0; k < count; ++k) {
            out[k] = pixel_coverage<M, Hole>(g, j0 + k);
        }
#endif
    }

  private:
#if POINTILLO_DRAW_SSE2
    __m128 x4_;
    __m128 r4_;
    __m128 inner4_;
    __m128 s4_;
#endif
    RowGeometry g_;
};

// Combine by maximum: a pixel is repainted only by a strictly larger
// coverage, so on a tie the dot drawn first stays.
inline void combine_max(PremultipliedPixel& p, float c, Rgb color) {
    if (c > p.alpha) {
        p = {c, c * color.red, c * color.green, c * color.blue};
    }
}

// Paints `count` pixels by maximum with coverage x opacity.
inline void paint_max_row(PremultipliedPixel* row, const float* coverage, int32_t count,
                          float opacity, Rgb color) {
#if POINTILLO_DRAW_SSE2
    // c x (1, red, green, blue): c x 1 is c exactly, so one product gives the
    // whole new pixel.
    const __m128 color4 = _mm_set_ps(color.blue, color.green, color.red, 1.0f);
    const __m128 opacity4 = _mm_set1_ps(opacity);
    float* px = &row[0].alpha;
    int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128 c4 = _mm_mul_ps(_mm_loadu_ps(coverage + k), opacity4);
        const __m128 cs[4] = {_mm_shuffle_ps(c4, c4, 0x00), _mm_shuffle_ps(c4, c4, 0x55),
                              _mm_shuffle_ps(c4, c4, 0xAA), _mm_shuffle_ps(c4, c4, 0xFF)};
        for (int l = 0; l < 4; ++l) {
            float* p = px + 4 * (k + l);
            const __m128 old = _mm_loadu_ps(p);
            const __m128 over = _mm_cmpgt_ps(cs[l], _mm_shuffle_ps(old, old, 0x00));
            const __m128 fresh = _mm_mul_ps(cs[l], color4);
            _mm_storeu_ps(p, _mm_or_ps(_mm_and_ps(over, fresh), _mm_andnot_ps(over, old)));
        }
    }
    for (; k < count; ++k) {
        combine_max(row[k], coverage[k] * opacity, color);
    }
#else
    for (int32_t k = 0; k < count; ++k) {
        combine_max(row[k], coverage[k] * opacity, color);
    }
#endif
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

// Composites `count` pixels with u = clamp01(coverage x opacity).
inline void paint_over_row(PremultipliedPixel* row, const float* coverage, int32_t count,
                           float opacity, Rgb color) {
#if POINTILLO_DRAW_SSE2
    // Per pixel (alpha, colour) x keep + u x (1, colour): the alpha lane is
    // alpha x keep + u, the same sum as u + alpha x keep.
    const __m128 color4 = _mm_set_ps(color.blue, color.green, color.red, 1.0f);
    const __m128 opacity4 = _mm_set1_ps(opacity);
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    float* px = &row[0].alpha;
    int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128 u4 =
            _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(coverage + k), opacity4), zero), one);
        const __m128 keep4 = _mm_sub_ps(one, u4);
        const __m128 us[4] = {_mm_shuffle_ps(u4, u4, 0x00), _mm_shuffle_ps(u4, u4, 0x55),
                              _mm_shuffle_ps(u4, u4, 0xAA), _mm_shuffle_ps(u4, u4, 0xFF)};
        const __m128 keeps[4] = {
            _mm_shuffle_ps(keep4, keep4, 0x00), _mm_shuffle_ps(keep4, keep4, 0x55),
            _mm_shuffle_ps(keep4, keep4, 0xAA), _mm_shuffle_ps(keep4, keep4, 0xFF)};
        for (int l = 0; l < 4; ++l) {
            float* p = px + 4 * (k + l);
            const __m128 old = _mm_loadu_ps(p);
            _mm_storeu_ps(p, _mm_add_ps(_mm_mul_ps(old, keeps[l]), _mm_mul_ps(us[l], color4)));
        }
    }
    for (; k < count; ++k) {
        combine_over(row[k], draw_math::clamp01(coverage[k] * opacity), color);
    }
#else
    for (int32_t k = 0; k < count; ++k) {
        combine_over(row[k], draw_math::clamp01(coverage[k] * opacity), color);
    }
#endif
}

// One row of a solid source: each pixel overwritten with (a, a x colour),
// a = coverage / 65535, the colour from `colors` or, when that is null,
// `uniform`.
inline void fill_row(PremultipliedPixel* out, const uint16_t* coverage, const Rgb* colors,
                     Rgb uniform, int32_t count) {
    int32_t k = 0;
#if POINTILLO_DRAW_SSE2
    const __m128 full = _mm_set1_ps(65535.0f);
    const __m128 uniform4 = _mm_set_ps(uniform.blue, uniform.green, uniform.red, 1.0f);
    for (; k + 4 <= count; k += 4) {
        const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coverage + k));
        const __m128 a4 =
            _mm_div_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, _mm_setzero_si128())), full);
        const __m128 as[4] = {_mm_shuffle_ps(a4, a4, 0x00), _mm_shuffle_ps(a4, a4, 0x55),
                              _mm_shuffle_ps(a4, a4, 0xAA), _mm_shuffle_ps(a4, a4, 0xFF)};
        for (int l = 0; l < 4; ++l) {
            const __m128 color4 =
                colors != nullptr
                    ? _mm_set_ps(colors[k + l].blue, colors[k + l].green, colors[k + l].red, 1.0f)
                    : uniform4;
            _mm_storeu_ps(&out[k + l].alpha, _mm_mul_ps(as[l], color4));
        }
    }
#endif
    for (; k < count; ++k) {
        const float a = static_cast<float>(coverage[k]) / 65535.0f;
        const Rgb color = colors != nullptr ? colors[k] : uniform;
        out[k] = {a, a * color.red, a * color.green, a * color.blue};
    }
}

// Output conversion of one row. 8 bits: clamp to [0, 1], times 255, plus
// 0.5, truncated. 16 bits: the same with 32768, the host's white. The clamp
// sends NaN to 0.
inline uint8_t to_8(float v) {
    return static_cast<uint8_t>(draw_math::clamp01(v) * 255.0f + 0.5f);
}
inline uint16_t to_16(float v) {
    return static_cast<uint16_t>(draw_math::clamp01(v) * 32768.0f + 0.5f);
}

inline void convert_row_8(const PremultipliedPixel* in, std::byte* out, int32_t count) {
    int32_t k = 0;
#if POINTILLO_DRAW_SSE2
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(255.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const auto quantise = [&](const PremultipliedPixel& p) {
        const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(&p.alpha), zero), one);
        return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, scale), half));
    };
    for (; k + 4 <= count; k += 4) {
        // 0..255 fits both packs without saturating.
        const __m128i lo = _mm_packs_epi32(quantise(in[k]), quantise(in[k + 1]));
        const __m128i hi = _mm_packs_epi32(quantise(in[k + 2]), quantise(in[k + 3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * k), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; k < count; ++k) {
        const uint8_t px[4] = {to_8(in[k].alpha), to_8(in[k].red), to_8(in[k].green),
                               to_8(in[k].blue)};
        std::memcpy(out + 4 * k, px, sizeof(px));
    }
}

inline void convert_row_16(const PremultipliedPixel* in, std::byte* out, int32_t count) {
    int32_t k = 0;
#if POINTILLO_DRAW_SSE2
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128i bias = _mm_set1_epi32(32768);
    const __m128i flip = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    // 0..32768 does not fit a signed 16-bit pack: pack q - 32768 and add
    // 32768 back per 16-bit lane (an xor of the top bit).
    const auto quantise = [&](const PremultipliedPixel& p) {
        const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(&p.alpha), zero), one);
        return _mm_sub_epi32(_mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, scale), half)), bias);
    };
    for (; k + 2 <= count; k += 2) {
        const __m128i packed = _mm_packs_epi32(quantise(in[k]), quantise(in[k + 1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), _mm_xor_si128(packed, flip));
    }
#endif
    for (; k < count; ++k) {
        const uint16_t px[4] = {to_16(in[k].alpha), to_16(in[k].red), to_16(in[k].green),
                                to_16(in[k].blue)};
        std::memcpy(out + 8 * k, px, sizeof(px));
    }
}

} // namespace pointillo::raster
