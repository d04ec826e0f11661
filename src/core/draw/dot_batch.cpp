#include "draw/dot_batch.h"

#include "common/limits.h"
#include "draw/mask_sampler.h"
#include "draw/plain_piece.h"
#include "draw/raster_walk.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace pointillo {
namespace {

using raster::Footprint;
using raster::Measure;
using raster::PlainPiece;
using raster::RampList;
using raster::RowGeometry;
using raster::Span;
using raster::Surface;

// A tile of four-float pixels is 128 KiB: it stays in the second-level cache
// while its dots are drawn, however the dots are scattered over the canvas.
// Wide and short, so that few dots are split by a tile's side.
constexpr int32_t kTileWidth = 256;
using raster::kTileHeight;

// Beyond this many (dot, tile) entries, dots that each cover much of a huge
// canvas, binning costs more than it saves: the dots are drawn straight
// onto the canvas instead.
constexpr uint64_t kMaxEntries = uint64_t{1} << 24;

// Appends columns first .. last of one row to the list.
inline int32_t push_run(RampList& list, int32_t n, int32_t first, int32_t last, int32_t row_offset,
                        float dy, double dy2) {
    for (int32_t j = first; j <= last; j += 4) {
#if POINTILLO_DRAW_SSE2
        const __m128i columns = _mm_add_epi32(_mm_set1_epi32(j), _mm_set_epi32(3, 2, 1, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(list.column + n), columns);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(list.offset + n),
                         _mm_add_epi32(columns, _mm_set1_epi32(row_offset)));
        _mm_storeu_ps(list.dy + n, _mm_set1_ps(dy));
        _mm_storeu_pd(list.dy2 + n, _mm_set1_pd(dy2));
        _mm_storeu_pd(list.dy2 + n + 2, _mm_set1_pd(dy2));
#else
        for (int32_t l = 0; l < 4; ++l) {
            list.column[n + l] = j + l;
            list.offset[n + l] = row_offset + j + l;
            list.dy[n + l] = dy;
            list.dy2[n + l] = dy2;
        }
#endif
        const int32_t left = last - j + 1;
        n += left < 4 ? left : 4;
    }
    return n;
}

// list.coverage[k] = the dot's coverage at entry k, times `opacity`: the
// arithmetic of pixel_coverage, lane by lane.
template <Measure M>
void ramp_coverage(RampList& list, int32_t n, const RowGeometry& g, float opacity) {
#if POINTILLO_DRAW_SSE2
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
            d = raster::circle_distance(dx, dy, _mm_load_pd(list.dy2 + k),
                                        _mm_load_pd(list.dy2 + k + 2));
        }
        const __m128 c =
            _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_div_ps(_mm_sub_ps(r4, d), s4), half), zero), one);
        _mm_store_ps(list.coverage + k, _mm_mul_ps(c, opacity4));
    }
#else
    RowGeometry lane = g;
    for (int32_t k = 0; k < n; ++k) {
        lane.dy = list.dy[k];
        lane.dy2 = list.dy2[k];
        list.coverage[k] = raster::pixel_coverage<M, false>(lane, list.column[k]) * opacity;
    }
#endif
}

// One pixel by maximum with the (already multiplied) coverage c, without a
// branch: whether a ramp pixel is raised is anyone's guess.
inline void paint_pixel(PremultipliedPixel& p, float c, Rgb color) {
#if POINTILLO_DRAW_SSE2
    const __m128 c4 = _mm_set1_ps(c);
    const __m128 old = _mm_loadu_ps(&p.alpha);
    const __m128 over = _mm_cmpgt_ps(c4, _mm_shuffle_ps(old, old, 0x00));
    const __m128 fresh = _mm_mul_ps(c4, _mm_set_ps(color.blue, color.green, color.red, 1.0f));
    _mm_storeu_ps(&p.alpha, _mm_or_ps(_mm_and_ps(over, fresh), _mm_andnot_ps(over, old)));
#else
    raster::combine_max(p, c, color);
#endif
}

// Pixels of coverage 1: each raised to opacity x (1, colour) where that is
// larger, as paint_pixel(p, 1 x opacity, colour) does.
inline void paint_solid_run(PremultipliedPixel* run, int32_t count, float opacity, Rgb color) {
#if POINTILLO_DRAW_SSE2
    const __m128 c4 = _mm_set1_ps(opacity);
    const __m128 fresh = _mm_mul_ps(c4, _mm_set_ps(color.blue, color.green, color.red, 1.0f));
    for (int32_t k = 0; k < count; ++k) {
        const __m128 old = _mm_loadu_ps(&run[k].alpha);
        const __m128 over = _mm_cmpgt_ps(c4, _mm_shuffle_ps(old, old, 0x00));
        _mm_storeu_ps(&run[k].alpha, _mm_or_ps(_mm_and_ps(over, fresh), _mm_andnot_ps(over, old)));
    }
#else
    for (int32_t k = 0; k < count; ++k) {
        raster::combine_max(run[k], opacity, color);
    }
#endif
}

// floor and ceil of a double well inside the int range, by truncation (the
// library's rounding is a dozen instructions without SSE4.1).
inline int32_t floor_small(double v) {
    const int32_t t = static_cast<int32_t>(v);
    return t - (static_cast<double>(t) > v ? 1 : 0);
}
inline int32_t ceil_small(double v) {
    const int32_t t = static_cast<int32_t>(v);
    return t + (static_cast<double>(t) < v ? 1 : 0);
}

// Columns j of `within` with |j + 0.5 - x| <= w, for |x| and w below 2^23.
inline Span columns_within_small(double x, double w, Span within) {
    Span span{ceil_small(x - w - 0.5), floor_small(x + w - 0.5)};
    span.first = span.first > within.first ? span.first : within.first;
    span.last = span.last < within.last ? span.last : within.last;
    return span;
}

// The row's live and solid spans as row_spans gives them, without its extra
// column either side, for a dot small enough for columns_within_small.
template <Measure M>
inline raster::RowSpans small_row_spans(const RowGeometry& g, const raster::Bounds& bounds,
                                        Span columns) {
    raster::RowSpans spans;
    const double x = static_cast<double>(g.x);
    const double live_w = raster::half_width<M>(bounds.zero_beyond, g);
    if (live_w < 0.0) {
        return spans;
    }
    spans.live = columns_within_small(x, live_w, columns);
    if (bounds.one_within > 0.0 && !spans.live.empty()) {
        const double solid_w = raster::half_width<M>(bounds.one_within, g);
        if (solid_w >= 0.0) {
            spans.solid = columns_within_small(x, solid_w, spans.live);
        }
    }
    return spans;
}

// A plain dot without a hole whose piece is small: each row is split into the
// columns known to be 0 (skipped), known to be 1 (painted with the opacity
// itself: 1 x opacity) and the ramp, whose pixels are gathered and computed
// together. The spans come from the bounds' slack alone: a column outside the
// live span is more than the slack beyond r + s/2, far more than the float
// rounding of its distance.
template <Measure M> void draw_plain_piece(const PlainPiece& piece, RampList& list) {
    const Surface& tile = piece.tile;
    const Footprint& fp = piece.fp;
    int32_t n = 0;
    RowGeometry row_g = piece.g;
    for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
        row_g.dy = std::fabs(raster::centre_of(i) - piece.y);
        if (!(static_cast<double>(row_g.dy) <= piece.bounds.zero_beyond)) {
            continue;
        }
        row_g.dy2 = static_cast<double>(row_g.dy) * static_cast<double>(row_g.dy);
        const raster::RowSpans spans = small_row_spans<M>(row_g, piece.bounds, fp.cols);
        if (spans.live.empty()) {
            continue;
        }
        const int32_t row_offset = (i - tile.row0) * tile.stride - tile.col0;
        if (spans.solid.empty()) {
            n = push_run(list, n, spans.live.first, spans.live.last, row_offset, row_g.dy,
                         row_g.dy2);
            continue;
        }
        n = push_run(list, n, spans.live.first, spans.solid.first - 1, row_offset, row_g.dy,
                     row_g.dy2);
        n = push_run(list, n, spans.solid.last + 1, spans.live.last, row_offset, row_g.dy,
                     row_g.dy2);
        paint_solid_run(tile.at(i, spans.solid.first), spans.solid.last - spans.solid.first + 1,
                        piece.opacity, piece.color);
    }
    ramp_coverage<M>(list, n, piece.g, piece.opacity);
    for (int32_t k = 0; k < n; ++k) {
        paint_pixel(tile.pixels[list.offset[k]], list.coverage[k], piece.color);
    }
}

// Draws the part of one dot inside the tile.
void draw_piece(const Surface& tile, const Footprint& fp, const DotDraw& dot, const DotStyle& style,
                float s, bool avx2, RampList& list) {
    RowGeometry g;
    g.x = dot.x;
    g.radius = dot.radius;
    g.inner = dot.inner_radius;
    g.s = s;
    if (dot.mask != nullptr) {
        const MaskSampler sampler = make_mask_sampler(*dot.mask);
        raster::walk_dot(
            tile, fp, style.shape, g, dot.y,
            raster::MaskedMaxPaint{sampler, style.match_source_colors, style.dot_color});
        return;
    }
    const bool hole = dot.inner_radius > 0.0f;
    const raster::Bounds bounds = raster::dot_bounds<false>(g, fp.cols.last);
    const bool small =
        fp.cols.last - fp.cols.first < raster::kSmallWidth && std::fabs(dot.radius) + s < 65536.0f;
    if (hole || !bounds.usable || !small) {
        raster::walk_dot(tile, fp, style.shape, g, dot.y, raster::MaxPaint{dot.opacity, dot.color});
        return;
    }
    const PlainPiece piece{tile, fp, g, dot.y, bounds, dot.opacity, dot.color};
#if POINTILLO_DRAW_AVX2
    if (avx2) {
        raster::draw_plain_piece_avx2(raster::measure_of(style.shape), piece, list);
        return;
    }
#else
    (void)avx2;
#endif
    switch (raster::measure_of(style.shape)) {
    case Measure::kSquare:
        draw_plain_piece<Measure::kSquare>(piece, list);
        break;
    case Measure::kDiamond:
        draw_plain_piece<Measure::kDiamond>(piece, list);
        break;
    case Measure::kCircle:
        draw_plain_piece<Measure::kCircle>(piece, list);
        break;
    }
}

// The footprint of a dot that draws anything, or an empty one: the same
// tests draw_dot and draw_masked_dot make before drawing.
Footprint footprint_of(const DotDraw& dot, float s, int32_t width, int32_t height) {
    const bool finite = std::isfinite(dot.x) && std::isfinite(dot.y) && std::isfinite(dot.radius) &&
                        std::isfinite(dot.inner_radius);
    const bool visible = dot.mask != nullptr || (dot.opacity > 0.0f && std::isfinite(dot.opacity));
    if (!finite || !visible) {
        return {};
    }
    const float reach = dot.radius + s;
    return {raster::footprint_span(dot.y, reach, height),
            raster::footprint_span(dot.x, reach, width)};
}

static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 16, "streaming stores need 16-byte pixels");

// Copies one tile row to the canvas and clears it for the next tile. The
// canvas is written once and not read again here, so its lines bypass the
// cache.
void write_out(PremultipliedPixel* tile_row, PremultipliedPixel* canvas_row, int32_t count) {
#if POINTILLO_DRAW_SSE2
    float* from = &tile_row[0].alpha;
    float* to = &canvas_row[0].alpha;
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
        const __m128 zero = _mm_setzero_ps();
        _mm_store_ps(from + 4 * k, zero);
        _mm_store_ps(from + 4 * k + 4, zero);
        _mm_store_ps(from + 4 * k + 8, zero);
        _mm_store_ps(from + 4 * k + 12, zero);
    }
    for (; k < count; ++k) {
        _mm_stream_ps(to + 4 * k, _mm_load_ps(from + 4 * k));
        _mm_store_ps(from + 4 * k, _mm_setzero_ps());
    }
#else
    std::memcpy(canvas_row, tile_row, static_cast<size_t>(count) * sizeof(PremultipliedPixel));
    std::memset(tile_row, 0, static_cast<size_t>(count) * sizeof(PremultipliedPixel));
#endif
}

void clear_out(PremultipliedPixel* canvas_row, int32_t count) {
#if POINTILLO_DRAW_SSE2
    for (int32_t k = 0; k < count; ++k) {
        _mm_stream_ps(&canvas_row[k].alpha, _mm_setzero_ps());
    }
#else
    std::memset(canvas_row, 0, static_cast<size_t>(count) * sizeof(PremultipliedPixel));
#endif
}

// The plain way, for batches whose dots would fill too many tiles.
void draw_in_order(Canvas& canvas, const DotStyle& style, std::span<const DotDraw> dots) {
    for (const DotDraw& dot : dots) {
        if (dot.mask != nullptr) {
            draw_masked_dot(canvas, style.shape, style.softness, dot.x, dot.y, dot.radius,
                            dot.inner_radius, *dot.mask, style.match_source_colors,
                            style.dot_color);
        } else {
            draw_dot(canvas, style.shape, style.softness, dot.x, dot.y, dot.radius,
                     dot.inner_radius, dot.opacity, dot.color);
        }
    }
}

} // namespace

void render_dots(Canvas& canvas, int32_t width, int32_t height, const DotStyle& style,
                 std::span<const DotDraw> dots) {
    if (!pixel_count_ok(width, height)) {
        throw std::runtime_error("Unsupported output dimensions");
    }
    const float s = effective_softness(style.softness);
    const int32_t tiles_x = (width + kTileWidth - 1) / kTileWidth;
    const int32_t tiles_y = (height + kTileHeight - 1) / kTileHeight;
    const size_t tile_count = static_cast<size_t>(tiles_x) * static_cast<size_t>(tiles_y);

    // Bin the dots by tile, keeping list order within each tile: a pixel then
    // meets the same dots in the same order as when they are drawn one by one.
    std::vector<Footprint> footprints(dots.size());
    std::vector<uint32_t> starts(tile_count + 1, 0);
    uint64_t entries = 0;
    const auto tiles_of = [](const Footprint& fp) {
        return Footprint{{fp.rows.first / kTileHeight, fp.rows.last / kTileHeight},
                         {fp.cols.first / kTileWidth, fp.cols.last / kTileWidth}};
    };
    for (size_t k = 0; k < dots.size(); ++k) {
        footprints[k] = footprint_of(dots[k], s, width, height);
        if (footprints[k].empty()) {
            continue;
        }
        const Footprint t = tiles_of(footprints[k]);
        entries += static_cast<uint64_t>(t.rows.last - t.rows.first + 1) *
                   static_cast<uint64_t>(t.cols.last - t.cols.first + 1);
    }
    if (entries > kMaxEntries || dots.size() > UINT32_MAX) {
        reset_canvas(canvas, width, height);
        draw_in_order(canvas, style, dots);
        return;
    }
    for (const Footprint& fp : footprints) {
        if (fp.empty()) {
            continue;
        }
        const Footprint t = tiles_of(fp);
        for (int32_t ty = t.rows.first; ty <= t.rows.last; ++ty) {
            for (int32_t tx = t.cols.first; tx <= t.cols.last; ++tx) {
                ++starts[static_cast<size_t>(ty) * static_cast<size_t>(tiles_x) +
                         static_cast<size_t>(tx) + 1];
            }
        }
    }
    for (size_t t = 0; t < tile_count; ++t) {
        starts[t + 1] += starts[t];
    }
    std::vector<uint32_t> order(static_cast<size_t>(entries));
    {
        std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
        for (size_t k = 0; k < dots.size(); ++k) {
            if (footprints[k].empty()) {
                continue;
            }
            const Footprint t = tiles_of(footprints[k]);
            for (int32_t ty = t.rows.first; ty <= t.rows.last; ++ty) {
                for (int32_t tx = t.cols.first; tx <= t.cols.last; ++tx) {
                    order[next[static_cast<size_t>(ty) * static_cast<size_t>(tiles_x) +
                               static_cast<size_t>(tx)]++] = static_cast<uint32_t>(k);
                }
            }
        }
    }

    // A canvas grown from nothing is already transparent: tiles without dots
    // need not be written.
    const bool fresh = canvas.pixels.empty();
    canvas.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    canvas.width = width;
    canvas.height = height;

    std::vector<PremultipliedPixel> tile_pixels(static_cast<size_t>(kTileWidth) * kTileHeight);
    const auto list = std::make_unique<RampList>();
    const bool avx2 = raster::avx2_drawing();
    for (int32_t ty = 0; ty < tiles_y; ++ty) {
        for (int32_t tx = 0; tx < tiles_x; ++tx) {
            const size_t t =
                static_cast<size_t>(ty) * static_cast<size_t>(tiles_x) + static_cast<size_t>(tx);
            const Footprint window{{ty * kTileHeight, std::min(height, (ty + 1) * kTileHeight) - 1},
                                   {tx * kTileWidth, std::min(width, (tx + 1) * kTileWidth) - 1}};
            const int32_t cols = window.cols.last - window.cols.first + 1;
            if (starts[t] == starts[t + 1]) {
                if (!fresh) {
                    for (int32_t i = window.rows.first; i <= window.rows.last; ++i) {
                        clear_out(canvas.pixels.data() + static_cast<ptrdiff_t>(i) * width +
                                      window.cols.first,
                                  cols);
                    }
                }
                continue;
            }
            const Surface tile{tile_pixels.data(), window.rows.first, window.cols.first, kTileWidth,
                               window.cols.last + 1};
            for (uint32_t e = starts[t]; e < starts[t + 1]; ++e) {
                const uint32_t k = order[e];
                draw_piece(tile, raster::clip(footprints[k], window), dots[k], style, s, avx2,
                           *list);
            }
            for (int32_t i = window.rows.first; i <= window.rows.last; ++i) {
                write_out(tile.at(i, window.cols.first),
                          canvas.pixels.data() + static_cast<ptrdiff_t>(i) * width +
                              window.cols.first,
                          cols);
            }
        }
    }
#if POINTILLO_DRAW_SSE2
    // The streaming stores must be visible before anyone reads the canvas.
    _mm_sfence();
#endif
}

} // namespace pointillo
