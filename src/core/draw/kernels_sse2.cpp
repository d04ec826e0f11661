// The SSE2 form of the drawing kernels: four pixels, or the four channels of
// one pixel, at a time. Each function does the IEEE operations of its plain
// twin in kernels_portable.cpp in the same order on the same values, so it
// gives the same bits: a division stays a division, sqrt is the correctly
// rounded double sqrt, max/min are written with the NaN operand order of the
// scalar clamp.

#include "draw/simd_levels.h"

#if POINTILLO_DRAW_SSE2

#include "draw/float_math.h"
#include "draw/kernel_table.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>

namespace pointillo::raster {
namespace {

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

// One pixel by maximum: c x (1, red, green, blue) where c > alpha. c x 1 is c
// exactly, so one product gives the whole new pixel.
inline void max_pixel(float* p, __m128 c4, __m128 color4) {
    const __m128 old = _mm_loadu_ps(p);
    const __m128 over = _mm_cmpgt_ps(c4, _mm_shuffle_ps(old, old, 0x00));
    const __m128 fresh = _mm_mul_ps(c4, color4);
    _mm_storeu_ps(p, _mm_or_ps(_mm_and_ps(over, fresh), _mm_andnot_ps(over, old)));
}

inline __m128 color_lanes(Rgb color) {
    return _mm_set_ps(color.blue, color.green, color.red, 1.0f);
}

struct Sse2 {
    template <Measure M, bool Hole> class RowKernel {
      public:
        explicit RowKernel(const RowGeometry& g)
            : x4_(_mm_set1_ps(g.x)), r4_(_mm_set1_ps(g.radius)), inner4_(_mm_set1_ps(g.inner)),
              s4_(_mm_set1_ps(g.s)) {}

        void operator()(float* out, int32_t j0, int32_t count, float dy, double dy2) const {
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
        }

      private:
        __m128 x4_;
        __m128 r4_;
        __m128 inner4_;
        __m128 s4_;
    };

    static void paint_max_row(PremultipliedPixel* row, const float* coverage, int32_t count,
                              float opacity, Rgb color) {
        const __m128 color4 = color_lanes(color);
        const __m128 opacity4 = _mm_set1_ps(opacity);
        float* px = &row[0].alpha;
        int32_t k = 0;
        for (; k + 4 <= count; k += 4) {
            const __m128 c4 = _mm_mul_ps(_mm_loadu_ps(coverage + k), opacity4);
            max_pixel(px + 4 * k, _mm_shuffle_ps(c4, c4, 0x00), color4);
            max_pixel(px + 4 * (k + 1), _mm_shuffle_ps(c4, c4, 0x55), color4);
            max_pixel(px + 4 * (k + 2), _mm_shuffle_ps(c4, c4, 0xAA), color4);
            max_pixel(px + 4 * (k + 3), _mm_shuffle_ps(c4, c4, 0xFF), color4);
        }
        for (; k < count; ++k) {
            combine_max(row[k], coverage[k] * opacity, color);
        }
    }

    // Per pixel (alpha, colour) x keep + u x (1, colour): the alpha lane is
    // alpha x keep + u, the same sum as u + alpha x keep.
    static void paint_over_row(PremultipliedPixel* row, const float* coverage, int32_t count,
                               float opacity, Rgb color) {
        const __m128 color4 = color_lanes(color);
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
            combine_over(row[k], clamp01(coverage[k] * opacity), color);
        }
    }

    static int32_t push_run(RampList& list, int32_t n, int32_t first, int32_t last,
                            int32_t row_offset, float dy, double dy2) {
        for (int32_t j = first; j <= last; j += 4) {
            const __m128i columns = _mm_add_epi32(_mm_set1_epi32(j), _mm_set_epi32(3, 2, 1, 0));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(list.column + n), columns);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(list.offset + n),
                             _mm_add_epi32(columns, _mm_set1_epi32(row_offset)));
            _mm_storeu_ps(list.dy + n, _mm_set1_ps(dy));
            _mm_storeu_pd(list.dy2 + n, _mm_set1_pd(dy2));
            _mm_storeu_pd(list.dy2 + n + 2, _mm_set1_pd(dy2));
            const int32_t left = last - j + 1;
            n += left < 4 ? left : 4;
        }
        return n;
    }

    template <Measure M>
    static void ramp_coverage(RampList& list, int32_t n, const RowGeometry& g, float opacity) {
        const __m128 x4 = _mm_set1_ps(g.x);
        const __m128 r4 = _mm_set1_ps(g.radius);
        const __m128 s4 = _mm_set1_ps(g.s);
        const __m128 opacity4 = _mm_set1_ps(opacity);
        const __m128 half = _mm_set1_ps(0.5f);
        const __m128 zero = _mm_setzero_ps();
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        for (int32_t k = 0; k < n; k += 4) {
            const __m128i j = _mm_load_si128(reinterpret_cast<const __m128i*>(list.column + k));
            const __m128 dx =
                _mm_and_ps(_mm_sub_ps(_mm_add_ps(_mm_cvtepi32_ps(j), half), x4), abs_mask);
            const __m128 dy = _mm_load_ps(list.dy + k);
            __m128 d;
            if constexpr (M == Measure::kDiamond) {
                d = _mm_add_ps(dx, dy);
            } else if constexpr (M == Measure::kSquare) {
                d = _mm_max_ps(dx, dy);
            } else {
                d = circle_distance(dx, dy, _mm_load_pd(list.dy2 + k),
                                    _mm_load_pd(list.dy2 + k + 2));
            }
            const __m128 c = _mm_min_ps(
                _mm_max_ps(_mm_add_ps(_mm_div_ps(_mm_sub_ps(r4, d), s4), half), zero), one);
            _mm_store_ps(list.coverage + k, _mm_mul_ps(c, opacity4));
        }
    }

    // Without a branch: whether a ramp pixel is raised is anyone's guess.
    static void paint_pixel(PremultipliedPixel& p, float c, Rgb color) {
        max_pixel(&p.alpha, _mm_set1_ps(c), color_lanes(color));
    }

    static void paint_solid_run(PremultipliedPixel* run, int32_t count, float opacity, Rgb color) {
        const __m128 c4 = _mm_set1_ps(opacity);
        const __m128 color4 = color_lanes(color);
        for (int32_t k = 0; k < count; ++k) {
            max_pixel(&run[k].alpha, c4, color4);
        }
    }

    static void fill_row(PremultipliedPixel* out, const uint16_t* coverage, const Rgb* colors,
                         Rgb uniform, int32_t count) {
        const __m128 full = _mm_set1_ps(65535.0f);
        const __m128 uniform4 = color_lanes(uniform);
        int32_t k = 0;
        for (; k + 4 <= count; k += 4) {
            const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coverage + k));
            const __m128 a4 =
                _mm_div_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, _mm_setzero_si128())), full);
            const __m128 as[4] = {_mm_shuffle_ps(a4, a4, 0x00), _mm_shuffle_ps(a4, a4, 0x55),
                                  _mm_shuffle_ps(a4, a4, 0xAA), _mm_shuffle_ps(a4, a4, 0xFF)};
            for (int l = 0; l < 4; ++l) {
                const __m128 color4 = colors != nullptr ? color_lanes(colors[k + l]) : uniform4;
                _mm_storeu_ps(&out[k + l].alpha, _mm_mul_ps(as[l], color4));
            }
        }
        for (; k < count; ++k) {
            const float a = static_cast<float>(coverage[k]) / 65535.0f;
            const Rgb color = colors != nullptr ? colors[k] : uniform;
            out[k] = {a, a * color.red, a * color.green, a * color.blue};
        }
    }

    static void convert_row_8(const PremultipliedPixel* in, std::byte* out, int32_t count) {
        const __m128 zero = _mm_setzero_ps();
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 scale = _mm_set1_ps(255.0f);
        const __m128 half = _mm_set1_ps(0.5f);
        const auto quantise = [&](const PremultipliedPixel& p) {
            const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(&p.alpha), zero), one);
            return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, scale), half));
        };
        int32_t k = 0;
        for (; k + 4 <= count; k += 4) {
            // 0..255 fits both packs without saturating.
            const __m128i lo = _mm_packs_epi32(quantise(in[k]), quantise(in[k + 1]));
            const __m128i hi = _mm_packs_epi32(quantise(in[k + 2]), quantise(in[k + 3]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * k), _mm_packus_epi16(lo, hi));
        }
        for (; k < count; ++k) {
            const uint8_t px[4] = {to_8(in[k].alpha), to_8(in[k].red), to_8(in[k].green),
                                   to_8(in[k].blue)};
            std::memcpy(out + 4 * k, px, sizeof(px));
        }
    }

    static void convert_row_16(const PremultipliedPixel* in, std::byte* out, int32_t count) {
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
        int32_t k = 0;
        for (; k + 2 <= count; k += 2) {
            const __m128i packed = _mm_packs_epi32(quantise(in[k]), quantise(in[k + 1]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), _mm_xor_si128(packed, flip));
        }
        for (; k < count; ++k) {
            const uint16_t px[4] = {to_16(in[k].alpha), to_16(in[k].red), to_16(in[k].green),
                                    to_16(in[k].blue)};
            std::memcpy(out + 8 * k, px, sizeof(px));
        }
    }

    static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 16, "streaming stores need 16-byte pixels");

    // The canvas is written once and not read again while a frame is drawn, so
    // its lines bypass the cache.
    static void write_out(PremultipliedPixel* tile_row, PremultipliedPixel* canvas_row,
                          int32_t count) {
        float* from = &tile_row[0].alpha;
        float* to = &canvas_row[0].alpha;
        const __m128 zero = _mm_setzero_ps();
        int32_t k = 0;
        for (; k + 4 <= count; k += 4) {
            const __m128 a = _mm_load_ps(from + 4 * k);
            const __m128 b = _mm_load_ps(from + 4 * k + 4);
            const __m128 c = _mm_load_ps(from + 4 * k + 8);
            const __m128 d = _mm_load_ps(from + 4 * k + 12);
            _mm_stream_ps(to + 4 * k, a);
            _mm_stream_ps(to + 4 * k + 4, b);
            _mm_stream_ps(to + 4 * k + 8, c);
            _mm_stream_ps(to + 4 * k + 12, d);
            _mm_store_ps(from + 4 * k, zero);
            _mm_store_ps(from + 4 * k + 4, zero);
            _mm_store_ps(from + 4 * k + 8, zero);
            _mm_store_ps(from + 4 * k + 12, zero);
        }
        for (; k < count; ++k) {
            _mm_stream_ps(to + 4 * k, _mm_load_ps(from + 4 * k));
            _mm_store_ps(from + 4 * k, zero);
        }
    }

    static void clear_out(PremultipliedPixel* canvas_row, int32_t count) {
        for (int32_t k = 0; k < count; ++k) {
            _mm_stream_ps(&canvas_row[k].alpha, _mm_setzero_ps());
        }
    }

    // The streaming stores must be visible before anyone reads the canvas.
    static void finish_writes() { _mm_sfence(); }
};

} // namespace

void install_sse2(DrawKernels& kernels) {
    install_form<Sse2>(kernels);
}

} // namespace pointillo::raster

#endif
