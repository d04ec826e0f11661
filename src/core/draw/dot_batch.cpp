#include "draw/dot_batch.h"

#include "common/limits.h"
#include "draw/kernel_table.h"
#include "draw/mask_sampler.h"
#include "draw/plain_piece.h"
#include "draw/raster_walk.h"
#include "memory/buffer_pool.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
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

// Draws the part of one dot inside the tile.
void draw_piece(const Surface& tile, const Footprint& fp, const DotDraw& dot, const DotStyle& style,
                float s, const DrawKernels& kernels, RampList& list) {
    RowGeometry g;
    g.x = dot.x;
    g.radius = dot.radius;
    g.inner = dot.inner_radius;
    g.s = s;
    if (dot.mask != nullptr) {
        kernels.masked_dot(tile, fp, style.shape, g, dot.y, make_mask_sampler(*dot.mask),
                           style.match_source_colors, style.dot_color);
        return;
    }
    const bool hole = dot.inner_radius > 0.0f;
    const raster::Bounds bounds = raster::dot_bounds<false>(g, fp.cols.last);
    const bool small =
        fp.cols.last - fp.cols.first < raster::kSmallWidth && std::fabs(dot.radius) + s < 65536.0f;
    if (hole || !bounds.usable || !small) {
        kernels.dot(tile, fp, style.shape, g, dot.y, dot.opacity, dot.color);
        return;
    }
    const PlainPiece piece{tile, fp, g, dot.y, bounds, dot.opacity, dot.color};
    kernels.plain_piece(raster::measure_of(style.shape), piece, list);
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

// The plain way, for batches whose dots would fill too many tiles.
void draw_in_order(Canvas& canvas, const DotStyle& style, std::span<const DotDraw> dots,
                   const DrawKernels& kernels) {
    for (const DotDraw& dot : dots) {
        if (dot.mask != nullptr) {
            draw_masked_dot(canvas, style, place_of(dot), *dot.mask, kernels);
        } else {
            draw_dot(canvas, style.shape, style.softness, dot.x, dot.y, dot.radius,
                     dot.inner_radius, dot.opacity, dot.color, kernels);
        }
    }
}

// The dots binned by tile, list order kept within each tile: a pixel then
// meets the same dots in the same order as when they are drawn one by one.
// Tile t's dots are order[starts[t]] .. order[starts[t + 1] - 1].
struct TileBins {
    int32_t tiles_x = 0;
    int32_t tiles_y = 0;
    PooledVector<Footprint> footprints; // per dot, empty for one that draws nothing
    std::vector<uint32_t> starts;
    PooledVector<uint32_t> order;
};

Footprint tiles_of(const Footprint& fp) {
    return Footprint{{fp.rows.first / kTileHeight, fp.rows.last / kTileHeight},
                     {fp.cols.first / kTileWidth, fp.cols.last / kTileWidth}};
}

// False when the dots would fill too many tiles to be worth binning.
bool bin_dots(std::span<const DotDraw> dots, float s, int32_t width, int32_t height,
              TileBins& bins) {
    bins.tiles_x = (width + kTileWidth - 1) / kTileWidth;
    bins.tiles_y = (height + kTileHeight - 1) / kTileHeight;
    const auto tiles_x = static_cast<size_t>(bins.tiles_x);
    const size_t tile_count = tiles_x * static_cast<size_t>(bins.tiles_y);
    bins.footprints.resize(dots.size());
    uint64_t entries = 0;
    for (size_t k = 0; k < dots.size(); ++k) {
        bins.footprints[k] = footprint_of(dots[k], s, width, height);
        if (bins.footprints[k].empty()) {
            continue;
        }
        const Footprint t = tiles_of(bins.footprints[k]);
        entries += static_cast<uint64_t>(t.rows.last - t.rows.first + 1) *
                   static_cast<uint64_t>(t.cols.last - t.cols.first + 1);
    }
    if (entries > kMaxEntries || dots.size() > UINT32_MAX) {
        return false;
    }
    // Each dot visits its tiles twice: once counting, once filling in.
    const auto for_each_tile = [&](size_t k, auto&& visit) {
        const Footprint t = tiles_of(bins.footprints[k]);
        for (int32_t ty = t.rows.first; ty <= t.rows.last; ++ty) {
            for (int32_t tx = t.cols.first; tx <= t.cols.last; ++tx) {
                visit(static_cast<size_t>(ty) * tiles_x + static_cast<size_t>(tx));
            }
        }
    };
    bins.starts.assign(tile_count + 1, 0);
    for (size_t k = 0; k < dots.size(); ++k) {
        if (!bins.footprints[k].empty()) {
            for_each_tile(k, [&](size_t t) { ++bins.starts[t + 1]; });
        }
    }
    for (size_t t = 0; t < tile_count; ++t) {
        bins.starts[t + 1] += bins.starts[t];
    }
    bins.order.resize(static_cast<size_t>(entries));
    std::vector<uint32_t> next(bins.starts.begin(), bins.starts.end() - 1);
    for (size_t k = 0; k < dots.size(); ++k) {
        if (!bins.footprints[k].empty()) {
            for_each_tile(k, [&](size_t t) { bins.order[next[t]++] = static_cast<uint32_t>(k); });
        }
    }
    return true;
}

// What the tiles of one batch share while they are drawn.
struct TileJob {
    Canvas& canvas;
    const TileBins& bins;
    std::span<const DotDraw> dots;
    const DotStyle& style;
    float s = 0.0f;
    bool fresh = false; // the canvas was grown from nothing, so already transparent
    const DrawKernels& kernels;
};

// One row of tiles: each tile cleared, drawn and written out while it is in
// cache. Rows of tiles share no pixel, so they may be drawn in any order.
void draw_tile_row(const TileJob& job, int32_t ty) {
    const int32_t width = job.canvas.width;
    const int32_t height = job.canvas.height;
    const DrawKernels& kernels = job.kernels;
    PooledVector<PremultipliedPixel> tile_pixels(static_cast<size_t>(kTileWidth) * kTileHeight);
    const auto list = std::make_unique<RampList>();
    for (int32_t tx = 0; tx < job.bins.tiles_x; ++tx) {
        const size_t t = static_cast<size_t>(ty) * static_cast<size_t>(job.bins.tiles_x) +
                         static_cast<size_t>(tx);
        const Footprint window{{ty * kTileHeight, std::min(height, (ty + 1) * kTileHeight) - 1},
                               {tx * kTileWidth, std::min(width, (tx + 1) * kTileWidth) - 1}};
        const int32_t cols = window.cols.last - window.cols.first + 1;
        PremultipliedPixel* const canvas_at =
            job.canvas.pixels.data() + static_cast<ptrdiff_t>(window.cols.first);
        const uint32_t begin = job.bins.starts[t];
        const uint32_t end = job.bins.starts[t + 1];
        if (begin == end) {
            if (!job.fresh) {
                for (int32_t i = window.rows.first; i <= window.rows.last; ++i) {
                    kernels.clear_out(canvas_at + static_cast<ptrdiff_t>(i) * width, cols);
                }
            }
            continue;
        }
        const Surface tile{tile_pixels.data(), window.rows.first, window.cols.first, kTileWidth,
                           window.cols.last + 1};
        for (uint32_t e = begin; e < end; ++e) {
            const uint32_t k = job.bins.order[e];
            draw_piece(tile, raster::clip(job.bins.footprints[k], window), job.dots[k], job.style,
                       job.s, kernels, *list);
        }
        for (int32_t i = window.rows.first; i <= window.rows.last; ++i) {
            kernels.write_out(tile.at(i, window.cols.first),
                              canvas_at + static_cast<ptrdiff_t>(i) * width, cols);
        }
    }
    kernels.finish_writes();
}

} // namespace

void render_dots(Canvas& canvas, int32_t width, int32_t height, const DotStyle& style,
                 std::span<const DotDraw> dots, ParallelFor parallel, const DrawKernels& kernels) {
    if (!pixel_count_ok(width, height)) {
        throw std::runtime_error("Unsupported output dimensions");
    }
    const float s = effective_softness(style.softness);
    TileBins bins;
    if (!bin_dots(dots, s, width, height, bins)) {
        reset_canvas(canvas, width, height);
        draw_in_order(canvas, style, dots, kernels);
        return;
    }
    const bool fresh = canvas.pixels.empty();
    canvas.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    canvas.width = width;
    canvas.height = height;
    const TileJob job{canvas, bins, dots, style, s, fresh, kernels};
    parallel(bins.tiles_y, [&](int32_t ty) { draw_tile_row(job, ty); });
}

} // namespace pointillo
