#pragma once

// The batch renderer's short path for small plain dots, internal to the
// drawing code. The walk over a piece's rows is written once here; each
// drawing form instantiates it with its own gathering and painting
// (`Form::push_run`, `Form::ramp_coverage<M>`, `Form::paint_pixel`,
// `Form::paint_solid_run`), and the AVX2 form has a walk of its own.

#include "draw/raster_walk.h"

#include <cmath>
#include <cstdint>

namespace pointillo::raster {

// Tile rows: a piece of a dot is at most this many rows tall.
constexpr int32_t kTileHeight = 32;

// The pixels of one plain dot whose coverage has to be computed (the ramp
// between the pixels known to be 0 and those known to be 1), gathered so the
// distance kernel runs on full vectors.
struct RampList {
    // A piece is at most kSmallWidth x kTileHeight pixels; pushes may write
    // seven entries past the end.
    static constexpr int32_t kCapacity = kSmallWidth * kTileHeight + 8;
    alignas(32) int32_t column[kCapacity];
    alignas(32) int32_t offset[kCapacity]; // from the tile's first pixel
    alignas(32) float dy[kCapacity];
    alignas(32) double dy2[kCapacity];
    alignas(32) float coverage[kCapacity];
};

// One plain dot (no hole) clipped to a tile: fewer than kSmallWidth columns,
// |radius| + s below 2^16 and usable bounds.
struct PlainPiece {
    Surface tile;
    Footprint fp;
    RowGeometry g; // x, radius and s
    float y = 0.0f;
    Bounds bounds;
    float opacity = 0.0f;
    Rgb color;
};

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
inline RowSpans small_row_spans(const RowGeometry& g, const Bounds& bounds, Span columns) {
    RowSpans spans;
    const double x = static_cast<double>(g.x);
    const double live_w = half_width<M>(bounds.zero_beyond, g);
    if (live_w < 0.0) {
        return spans;
    }
    spans.live = columns_within_small(x, live_w, columns);
    if (bounds.one_within > 0.0 && !spans.live.empty()) {
        const double solid_w = half_width<M>(bounds.one_within, g);
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
template <class Form, Measure M> void walk_plain_piece(const PlainPiece& piece, RampList& list) {
    const Surface& tile = piece.tile;
    const Footprint& fp = piece.fp;
    int32_t n = 0;
    RowGeometry row_g = piece.g;
    for (int32_t i = fp.rows.first; i <= fp.rows.last; ++i) {
        row_g.dy = std::fabs(centre_of(i) - piece.y);
        if (!(static_cast<double>(row_g.dy) <= piece.bounds.zero_beyond)) {
            continue;
        }
        row_g.dy2 = static_cast<double>(row_g.dy) * static_cast<double>(row_g.dy);
        const RowSpans spans = small_row_spans<M>(row_g, piece.bounds, fp.cols);
        if (spans.live.empty()) {
            continue;
        }
        const int32_t row_offset = (i - tile.row0) * tile.stride - tile.col0;
        if (spans.solid.empty()) {
            n = Form::push_run(list, n, spans.live.first, spans.live.last, row_offset, row_g.dy,
                               row_g.dy2);
            continue;
        }
        n = Form::push_run(list, n, spans.live.first, spans.solid.first - 1, row_offset, row_g.dy,
                           row_g.dy2);
        n = Form::push_run(list, n, spans.solid.last + 1, spans.live.last, row_offset, row_g.dy,
                           row_g.dy2);
        Form::paint_solid_run(tile.at(i, spans.solid.first),
                              spans.solid.last - spans.solid.first + 1, piece.opacity, piece.color);
    }
    Form::template ramp_coverage<M>(list, n, piece.g, piece.opacity);
    for (int32_t k = 0; k < n; ++k) {
        Form::paint_pixel(tile.pixels[list.offset[k]], list.coverage[k], piece.color);
    }
}

template <class Form>
void draw_plain_piece(Measure measure, const PlainPiece& piece, RampList& list) {
    switch (measure) {
    case Measure::kSquare:
        walk_plain_piece<Form, Measure::kSquare>(piece, list);
        break;
    case Measure::kDiamond:
        walk_plain_piece<Form, Measure::kDiamond>(piece, list);
        break;
    case Measure::kCircle:
        walk_plain_piece<Form, Measure::kCircle>(piece, list);
        break;
    }
}

} // namespace pointillo::raster
