#include "draw/morph.h"

#include "common/limits.h"
#include "draw/dot_batch.h"
#include "draw/mask_sampler.h"
#include "draw/motion.h"
#include "memory/buffer_pool.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <cstdint>
#include <stdexcept>

namespace pointillo {
namespace {

Rgb mix(Rgb from, Rgb to, float t) {
    return {from.red + t * (to.red - from.red), from.green + t * (to.green - from.green),
            from.blue + t * (to.blue - from.blue)};
}

} // namespace

void render_morph(const SourceMask& from_mask, const SourceMask& to_mask, const Cloud& from_cloud,
                  const Cloud& to_cloud, const DotSettings& settings, float progress, int32_t width,
                  int32_t height, Canvas& canvas, const CancelCheck& cancel) {
    if (!pixel_count_ok(width, height)) {
        throw std::runtime_error("Unsupported output dimensions");
    }
    // With "Form Solid Source" the ends of a transition show the source
    // itself, never dots.
    if (settings.form_solid_source && (progress <= 0.0f || progress >= 1.0f)) {
        reset_canvas(canvas, width, height);
        fill_solid_source(canvas, progress <= 0.0f ? from_mask : to_mask,
                          settings.match_source_colors, settings.dot_color, cancel);
        return;
    }

    const int64_t from_count = static_cast<int64_t>(from_cloud.dots.size());
    const int64_t to_count = static_cast<int64_t>(to_cloud.dots.size());
    const int64_t pairs = from_count > to_count ? from_count : to_count;
    if (pairs == 0) {
        reset_canvas(canvas, width, height);
        return;
    }

    DotSettings working = settings;
    working.spacing = from_cloud.spacing > to_cloud.spacing ? from_cloud.spacing : to_cloud.spacing;
    const MaskSampler from_sampler = make_mask_sampler(from_mask);
    const MaskSampler to_sampler = make_mask_sampler(to_mask);
    const bool match = working.match_source_colors;

    // Every pair is evaluated first, then all are drawn at once, in pair
    // order: drawing is by maximum and in the same order, so the frame is the
    // same as drawing each pair as it is evaluated.
    PooledVector<DotDraw> draws(static_cast<size_t>(pairs));
    for (int64_t h = 0; h < pairs; ++h) {
        if (h % 128 == 0) {
            cancel.poll();
        }
        // The smaller cloud's dots spread evenly over the larger's; an empty
        // side borrows the other side's dot.
        const Dot& from_dot = from_count > 0 ? from_cloud.dots[paired_index(h, from_count, pairs)]
                                             : to_cloud.dots[paired_index(h, to_count, pairs)];
        const Dot& to_dot =
            to_count > 0 ? to_cloud.dots[paired_index(h, to_count, pairs)] : from_dot;
        // The pair index, not the dot, seeds the dot's random values.
        const DotState state =
            evaluate_dot(from_dot, to_dot, working, progress, static_cast<uint32_t>(h));
        DotDraw& draw = draws[static_cast<size_t>(h)];
        draw.x = state.x;
        draw.y = state.y;
        draw.radius = state.radius;
        draw.inner_radius = state.inner_radius;

        if (state.solid_phase != SolidPhase::kTravelling) {
            // Break-apart and settle: the enlarged dots are cut by the mask
            // and painted with its colours, redrawing the solid source.
            draw.mask = state.solid_phase == SolidPhase::kFromSolid ? &from_mask : &to_mask;
            continue;
        }

        const int64_t from_index = mask_index_at(from_sampler, from_dot.x, from_dot.y);
        const int64_t to_index = mask_index_at(to_sampler, to_dot.x, to_dot.y);
        draw.color = working.dot_color;
        if (match) {
            const Rgb from_color = mask_color(from_sampler, from_index);
            const Rgb to_color = mask_color(to_sampler, to_index);
            if (from_count == 0) {
                draw.color = to_color;
            } else if (to_count == 0) {
                draw.color = from_color;
            } else {
                draw.color = mix(from_color, to_color, state.blend);
            }
        }
        // Dots keep the anti-aliasing of the pixel they came from and fade
        // out when they travel to an empty side.
        const float from_coverage = mask_coverage(from_sampler, from_index);
        const float to_coverage = mask_coverage(to_sampler, to_index);
        draw.opacity = from_coverage + state.blend * (to_coverage - from_coverage);
    }
    const DotStyle style{working.dot_shape, working.edge_softness, match, working.dot_color};
    render_dots(canvas, width, height, style, draws);
}

} // namespace pointillo
