#include "draw/morph.h"

#include "common/float_ops.h"
#include "common/limits.h"
#include "draw/dot_batch.h"
#include "draw/mask_sampler.h"
#include "draw/motion.h"
#include "memory/buffer_pool.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace pointillo {
namespace {

constexpr int64_t kPairsPerPiece = 128;

// What every pair of one morph reads.
struct PairContext {
    const Morph& morph;
    const Pairing& pairing;
    const DotSettings& working; // the settings at the pairing's spacing
    MaskSampler from_sampler;
    MaskSampler to_sampler;
};

// Pair `h` placed at the morph's progress, as the dot it draws.
DotDraw draw_of_pair(const PairContext& c, int64_t h) {
    const Morph& morph = c.morph;
    const DotPair dots = paired_dots(c.pairing, *morph.from.cloud, *morph.to.cloud, h);
    // The pair index, not the dot, seeds the dot's random values.
    const DotState state =
        evaluate_dot(*dots.from, *dots.to, c.working, morph.progress, static_cast<uint32_t>(h));
    DotDraw draw;
    draw.x = state.x;
    draw.y = state.y;
    draw.radius = state.radius;
    draw.inner_radius = state.inner_radius;

    if (state.solid_phase != SolidPhase::kTravelling) {
        // Break-apart and settle: the enlarged dots are cut by the mask and
        // painted with its colours, redrawing the solid source.
        draw.mask = state.solid_phase == SolidPhase::kFromSolid ? morph.from.mask : morph.to.mask;
        return draw;
    }

    const int64_t from_index = mask_index_at(c.from_sampler, dots.from->x, dots.from->y);
    const int64_t to_index = mask_index_at(c.to_sampler, dots.to->x, dots.to->y);
    draw.color = c.working.dot_color;
    if (c.working.match_source_colors) {
        const Rgb from_color = mask_color(c.from_sampler, from_index);
        const Rgb to_color = mask_color(c.to_sampler, to_index);
        if (c.pairing.from_count == 0) {
            draw.color = to_color;
        } else if (c.pairing.to_count == 0) {
            draw.color = from_color;
        } else {
            draw.color = mix(from_color, to_color, state.blend);
        }
    }
    // Dots keep the anti-aliasing of the pixel they came from and fade out
    // when they travel to an empty side.
    draw.opacity = mix(mask_coverage(c.from_sampler, from_index),
                       mask_coverage(c.to_sampler, to_index), state.blend);
    return draw;
}

} // namespace

Pairing pair_clouds(const Cloud& from, const Cloud& to) {
    Pairing pairing;
    pairing.from_count = static_cast<int64_t>(from.dots.size());
    pairing.to_count = static_cast<int64_t>(to.dots.size());
    pairing.pairs = pairing.from_count > pairing.to_count ? pairing.from_count : pairing.to_count;
    pairing.spacing = from.spacing > to.spacing ? from.spacing : to.spacing;
    return pairing;
}

DotPair paired_dots(const Pairing& pairing, const Cloud& from, const Cloud& to, int64_t pair) {
    const int64_t pairs = pairing.pairs;
    const Dot* from_dot = pairing.from_count > 0
                              ? &from.dots[paired_index(pair, pairing.from_count, pairs)]
                              : &to.dots[paired_index(pair, pairing.to_count, pairs)];
    const Dot* to_dot =
        pairing.to_count > 0 ? &to.dots[paired_index(pair, pairing.to_count, pairs)] : from_dot;
    return {from_dot, to_dot};
}

void render_solid(const SourceMask& mask, const DotSettings& settings, int32_t width,
                  int32_t height, Canvas& canvas, const CancelCheck& cancel) {
    reset_canvas(canvas, width, height);
    fill_solid_source(canvas, mask, settings.match_source_colors, settings.dot_color, cancel);
}

void render_morph(const Morph& morph, const DotSettings& settings, Canvas& canvas,
                  const CancelCheck& cancel, ParallelFor parallel) {
    if (!pixel_count_ok(morph.width, morph.height)) {
        throw std::runtime_error("Unsupported output dimensions");
    }
    // With "Form Solid Source" the ends of a transition show the source
    // itself, never dots.
    const float progress = morph.progress;
    if (settings.form_solid_source && (progress <= 0.0f || progress >= 1.0f)) {
        render_solid(progress <= 0.0f ? *morph.from.mask : *morph.to.mask, settings, morph.width,
                     morph.height, canvas, cancel);
        return;
    }

    const Pairing pairing = pair_clouds(*morph.from.cloud, *morph.to.cloud);
    if (pairing.pairs == 0) {
        reset_canvas(canvas, morph.width, morph.height);
        return;
    }
    DotSettings working = settings;
    working.spacing = pairing.spacing;
    const PairContext context{morph, pairing, working, make_mask_sampler(*morph.from.mask),
                              make_mask_sampler(*morph.to.mask)};

    // Every pair is evaluated first, then all are drawn at once, in pair
    // order: drawing is by maximum and in the same order, so the frame is the
    // same as drawing each pair as it is evaluated.
    // Pieces of 128 pairs; one poll for each, made first on this thread.
    PooledVector<DotDraw> draws(static_cast<size_t>(pairing.pairs));
    const int64_t pieces = (pairing.pairs + kPairsPerPiece - 1) / kPairsPerPiece;
    for (int64_t piece = 0; piece < pieces; ++piece) {
        cancel.poll();
    }
    parallel(static_cast<int32_t>(pieces), [&](int32_t piece) {
        const int64_t begin = int64_t{piece} * kPairsPerPiece;
        const int64_t end = std::min(begin + kPairsPerPiece, pairing.pairs);
        for (int64_t h = begin; h < end; ++h) {
            draws[static_cast<size_t>(h)] = draw_of_pair(context, h);
        }
    });
    const DotStyle style{working.dot_shape, working.edge_softness, working.match_source_colors,
                         working.dot_color};
    render_dots(canvas, morph.width, morph.height, style, draws, parallel);
}

} // namespace pointillo
