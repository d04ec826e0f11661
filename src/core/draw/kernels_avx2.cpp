// The AVX2 form of the small plain-dot path: eight ramp pixels at a time,
// four rows' spans at once. The rest of the AVX2 table is the SSE2 form's.
// Its plain twin is walk_plain_piece in plain_piece.h with the portable form's
// kernels, whose bits it gives.

#include "draw/simd_levels.h"

#if POINTILLO_DRAW_AVX2

#include "draw/float_math.h"
#include "draw/kernel_table.h"

#include <cstdint>
#include <immintrin.h>

// Only the functions marked so use AVX2; everything else in the module,
// inline functions from shared headers included, stays at the baseline.
#define POINTILLO_AVX2 __attribute__((target("avx2")))
#define POINTILLO_AVX2_INLINE __attribute__((target("avx2"), always_inline))

namespace pointillo::raster {
namespace {

// Spans of up to eight rows of a piece: live [first, last], solid
// [solid_first, solid_last] (solid_first = last + 1 when there is none).
struct RowBatch {
    alignas(32) int32_t first[8];
    alignas(32) int32_t last[8];
    alignas(32) int32_t solid_first[8];
    alignas(32) int32_t solid_last[8];
    alignas(32) float dy[8];
    alignas(32) double dy2[8];
};

// half_width<M> for four rows: -1 where the reach falls short of dy.
template <Measure M>
POINTILLO_AVX2 inline __m256d half_width4(__m256d reach, __m256d dy, __m256d dy2) {
    __m256d w;
    if constexpr (M == Measure::kSquare) {
        w = reach;
    } else if constexpr (M == Measure::kDiamond) {
        w = _mm256_sub_pd(reach, dy);
    } else {
        // Where reach >= dy, reach x reach >= dy2: the root is of a number >= 0.
        w = _mm256_sqrt_pd(_mm256_sub_pd(_mm256_mul_pd(reach, reach), dy2));
    }
    return _mm256_blendv_pd(_mm256_set1_pd(-1.0), w, _mm256_cmp_pd(reach, dy, _CMP_GE_OQ));
}

// Columns of four rows with |j + 0.5 - x| <= w, clipped to [lo, hi]; a
// negative w gives first > last.
POINTILLO_AVX2 inline void columns4(__m256d x, __m256d w, __m128i lo, __m128i hi, __m128i& first,
                                    __m128i& last) {
    const __m256d half = _mm256_set1_pd(0.5);
    first = _mm_max_epi32(
        _mm256_cvttpd_epi32(_mm256_ceil_pd(_mm256_sub_pd(_mm256_sub_pd(x, w), half))), lo);
    last = _mm_min_epi32(
        _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_sub_pd(_mm256_add_pd(x, w), half))), hi);
}

// The spans of rows i0 .. i0 + 3, as small_row_spans gives them.
template <Measure M>
POINTILLO_AVX2_INLINE inline void spans4(const PlainPiece& piece, int32_t i0, RowBatch& batch,
                                         int32_t slot) {
    const __m128 centre =
        _mm_add_ps(_mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(i0), _mm_set_epi32(3, 2, 1, 0))),
                   _mm_set1_ps(0.5f));
    const __m128 dy_f = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_sub_ps(centre, _mm_set1_ps(piece.y)));
    const __m256d dy = _mm256_cvtps_pd(dy_f);
    const __m256d dy2 = _mm256_mul_pd(dy, dy);
    _mm_store_ps(batch.dy + slot, dy_f);
    _mm256_store_pd(batch.dy2 + slot, dy2);

    const __m256d x = _mm256_set1_pd(static_cast<double>(piece.g.x));
    const __m128i lo = _mm_set1_epi32(piece.fp.cols.first);
    const __m128i hi = _mm_set1_epi32(piece.fp.cols.last);
    __m128i first;
    __m128i last;
    columns4(x, half_width4<M>(_mm256_set1_pd(piece.bounds.zero_beyond), dy, dy2), lo, hi, first,
             last);
    __m128i solid_first = _mm_add_epi32(last, _mm_set1_epi32(1));
    __m128i solid_last = last;
    if (piece.bounds.one_within > 0.0) {
        __m128i a;
        __m128i e;
        columns4(x, half_width4<M>(_mm256_set1_pd(piece.bounds.one_within), dy, dy2), first, last,
                 a, e);
        // An empty solid span (none, or clipped away) leaves the live span
        // whole to the ramp.
        const __m128i none = _mm_cmpgt_epi32(a, e);
        solid_first = _mm_blendv_epi8(a, solid_first, none);
        solid_last = _mm_blendv_epi8(e, solid_last, none);
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(batch.first + slot), first);
    _mm_store_si128(reinterpret_cast<__m128i*>(batch.last + slot), last);
    _mm_store_si128(reinterpret_cast<__m128i*>(batch.solid_first + slot), solid_first);
    _mm_store_si128(reinterpret_cast<__m128i*>(batch.solid_last + slot), solid_last);
}

// Appends columns first .. last of one row, eight at a time.
POINTILLO_AVX2 inline int32_t push8(RampList& list, int32_t n, int32_t first, int32_t last,
                                    int32_t row_offset, float dy, double dy2) {
    const __m256i lane = _mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    for (int32_t j = first; j <= last; j += 8) {
        const __m256i columns = _mm256_add_epi32(_mm256_set1_epi32(j), lane);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(list.column + n), columns);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(list.offset + n),
                            _mm256_add_epi32(columns, _mm256_set1_epi32(row_offset)));
        _mm256_storeu_ps(list.dy + n, _mm256_set1_ps(dy));
        _mm256_storeu_pd(list.dy2 + n, _mm256_set1_pd(dy2));
        _mm256_storeu_pd(list.dy2 + n + 4, _mm256_set1_pd(dy2));
        const int32_t left = last - j + 1;
        n += left < 8 ? left : 8;
    }
    return n;
}

// One pixel by maximum with coverage c: c x (1, colour) where c > alpha.
POINTILLO_AVX2 inline void paint1(PremultipliedPixel* p, __m128 c4, __m128 color4) {
    const __m128 old = _mm_loadu_ps(&p->alpha);
    const __m128 over = _mm_cmp_ps(c4, _mm_permute_ps(old, 0x00), _CMP_GT_OQ);
    _mm_storeu_ps(&p->alpha, _mm_blendv_ps(old, _mm_mul_ps(c4, color4), over));
}

// Pixels of coverage 1 (c = 1 x opacity = opacity), two at a time.
POINTILLO_AVX2 inline void paint_solid(PremultipliedPixel* run, int32_t count, float opacity,
                                       __m128 color4) {
    const __m128 c4 = _mm_set1_ps(opacity);
    const __m128 fresh = _mm_mul_ps(c4, color4);
    const __m256 c8 = _mm256_set1_ps(opacity);
    const __m256 fresh8 = _mm256_set_m128(fresh, fresh);
    int32_t k = 0;
    for (; k + 2 <= count; k += 2) {
        float* p = &run[k].alpha;
        const __m256 old = _mm256_loadu_ps(p);
        const __m256 over = _mm256_cmp_ps(c8, _mm256_permute_ps(old, 0x00), _CMP_GT_OQ);
        _mm256_storeu_ps(p, _mm256_blendv_ps(old, fresh8, over));
    }
    if (k < count) {
        paint1(run + k, c4, color4);
    }
}

// hypot_fast for eight lanes, each with its own dy; the library decides next
// to a float midpoint, as in every other form.
POINTILLO_AVX2 inline __m256 circle_distance8(__m256 dx, __m256 dy, const double* dy2) {
    const __m256d lo_dx = _mm256_cvtps_pd(_mm256_castps256_ps128(dx));
    const __m256d hi_dx = _mm256_cvtps_pd(_mm256_extractf128_ps(dx, 1));
    const __m256d lo =
        _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(lo_dx, lo_dx), _mm256_load_pd(dy2)));
    const __m256d hi =
        _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(hi_dx, hi_dx), _mm256_load_pd(dy2 + 4)));
    // |low 29 bits - 0x10000000| < margin, in 64-bit lanes.
    const __m256i bits = _mm256_set1_epi64x(0x1FFFFFFF);
    const __m256i below = _mm256_set1_epi64x(0x10000000 - draw_math::kHypotMargin - 1);
    const __m256i above = _mm256_set1_epi64x(0x10000000 + draw_math::kHypotMargin);
    const auto near_mid = [&](__m256d r) POINTILLO_AVX2 {
        const __m256i low = _mm256_and_si256(_mm256_castpd_si256(r), bits);
        return _mm256_and_si256(_mm256_cmpgt_epi64(low, below), _mm256_cmpgt_epi64(above, low));
    };
    const __m256d tiny = _mm256_set1_pd(0x1p-120);
    const __m256d zero = _mm256_setzero_pd();
    const auto is_tiny = [&](__m256d r) POINTILLO_AVX2 {
        return _mm256_and_pd(_mm256_cmp_pd(r, tiny, _CMP_LT_OQ),
                             _mm256_cmp_pd(r, zero, _CMP_GT_OQ));
    };
    const __m256i flagged =
        _mm256_or_si256(_mm256_or_si256(near_mid(lo), near_mid(hi)),
                        _mm256_castpd_si256(_mm256_or_pd(is_tiny(lo), is_tiny(hi))));
    if (!_mm256_testz_si256(flagged, flagged)) {
        alignas(32) float dx_lanes[8];
        alignas(32) float dy_lanes[8];
        _mm256_store_ps(dx_lanes, dx);
        _mm256_store_ps(dy_lanes, dy);
        for (int l = 0; l < 8; ++l) {
            const double dyd = static_cast<double>(dy_lanes[l]);
            dx_lanes[l] = draw_math::hypot_fast(dx_lanes[l], dy_lanes[l], dyd * dyd);
        }
        return _mm256_load_ps(dx_lanes);
    }
    return _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
}

// list.coverage[k] = coverage of entry k times the opacity.
template <Measure M>
POINTILLO_AVX2 void ramp_coverage8(RampList& list, int32_t n, const PlainPiece& piece) {
    const __m256 x = _mm256_set1_ps(piece.g.x);
    const __m256 r = _mm256_set1_ps(piece.g.radius);
    const __m256 s = _mm256_set1_ps(piece.g.s);
    const __m256 opacity = _mm256_set1_ps(piece.opacity);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 sign = _mm256_set1_ps(-0.0f);
    for (int32_t k = 0; k < n; k += 8) {
        const __m256i j = _mm256_load_si256(reinterpret_cast<const __m256i*>(list.column + k));
        const __m256 dx =
            _mm256_andnot_ps(sign, _mm256_sub_ps(_mm256_add_ps(_mm256_cvtepi32_ps(j), half), x));
        const __m256 dy = _mm256_load_ps(list.dy + k);
        __m256 d;
        if constexpr (M == Measure::kDiamond) {
            d = _mm256_add_ps(dx, dy);
        } else if constexpr (M == Measure::kSquare) {
            d = _mm256_max_ps(dx, dy); // dx > dy ? dx : dy
        } else {
            d = circle_distance8(dx, dy, list.dy2 + k);
        }
        // clamp01 with the scalar NaN order: max then min, second operand.
        const __m256 c = _mm256_min_ps(
            _mm256_max_ps(_mm256_add_ps(_mm256_div_ps(_mm256_sub_ps(r, d), s), half), zero), one);
        _mm256_store_ps(list.coverage + k, _mm256_mul_ps(c, opacity));
    }
}

template <Measure M> POINTILLO_AVX2 void draw_piece8(const PlainPiece& piece, RampList& list) {
    const Surface& tile = piece.tile;
    const __m128 color4 = _mm_set_ps(piece.color.blue, piece.color.green, piece.color.red, 1.0f);
    RowBatch batch;
    int32_t n = 0;
    for (int32_t i0 = piece.fp.rows.first; i0 <= piece.fp.rows.last; i0 += 8) {
        spans4<M>(piece, i0, batch, 0);
        spans4<M>(piece, i0 + 4, batch, 4);
        const int32_t rows = piece.fp.rows.last - i0 + 1 < 8 ? piece.fp.rows.last - i0 + 1 : 8;
        for (int32_t q = 0; q < rows; ++q) {
            const int32_t first = batch.first[q];
            const int32_t last = batch.last[q];
            if (first > last) {
                continue;
            }
            const int32_t solid_first = batch.solid_first[q];
            const int32_t solid_last = batch.solid_last[q];
            const int32_t i = i0 + q;
            const int32_t row_offset = (i - tile.row0) * tile.stride - tile.col0;
            n = push8(list, n, first, solid_first - 1, row_offset, batch.dy[q], batch.dy2[q]);
            n = push8(list, n, solid_last + 1, last, row_offset, batch.dy[q], batch.dy2[q]);
            if (solid_first <= solid_last) {
                paint_solid(tile.at(i, solid_first), solid_last - solid_first + 1, piece.opacity,
                            color4);
            }
        }
    }
    ramp_coverage8<M>(list, n, piece);
    for (int32_t k = 0; k < n; ++k) {
        paint1(tile.pixels + list.offset[k], _mm_set1_ps(list.coverage[k]), color4);
    }
}

void draw_plain_piece_avx2(Measure measure, const PlainPiece& piece, RampList& list) {
    switch (measure) {
    case Measure::kSquare:
        draw_piece8<Measure::kSquare>(piece, list);
        break;
    case Measure::kDiamond:
        draw_piece8<Measure::kDiamond>(piece, list);
        break;
    case Measure::kCircle:
        draw_piece8<Measure::kCircle>(piece, list);
        break;
    }
}

} // namespace

void install_avx2(DrawKernels& kernels) {
    kernels.plain_piece = &draw_plain_piece_avx2;
}

} // namespace pointillo::raster

#endif
