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

void render_morph(const SourceMask& source_mask, const SourceMask& target_mask,
                  const Cloud& source_cloud, const Cloud& target_cloud, const DotSettings& settings,
                  float progress, int32_t width, int32_t height, Canvas& canvas,
                  const CancelCheck& cancel) {
    if (!pixel_count_ok(width, height)) {
        throw std::runtime_error("Unsupported output dimensions");
    }
    // With "Form Solid Source" the ends of a transition show the source
    // itself, never dots.
    if (settings.form_solid_source && (progress <= 0.0f || progress >= 1.0f)) {
        reset_canvas(canvas, width, height);
        fill_solid_source(canvas, progress <= 0.0f ? source_mask : target_mask,
                          settings.match_source_colors, settings.dot_color, cancel);
        return;
    }

    const int64_t source_count = static_cast<int64_t>(source_cloud.dots.size());
    const int64_t target_count = static_cast<int64_t>(target_cloud.dots.size());
    const int64_t pairs = source_count > target_count ? source_count : target_count;
    if (pairs == 0) {
        reset_canvas(canvas, width, height);
        return;
    }

    DotSettings working = settings;
    working.spacing =
        source_cloud.spacing > target_cloud.spacing ? source_cloud.spacing : target_cloud.spacing;
    const MaskSampler source_sampler = make_mask_sampler(source_mask);
    const MaskSampler target_sampler = make_mask_sampler(target_mask);
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
        const Dot& source_dot = source_count > 0
                                    ? source_cloud.dots[paired_index(h, source_count, pairs)]
                                    : target_cloud.dots[paired_index(h, target_count, pairs)];
        const Dot& target_dot =
            target_count > 0 ? target_cloud.dots[paired_index(h, target_count, pairs)] : source_dot;
        // The pair index, not the dot, seeds the dot's random values.
        const DotState state =
            evaluate_dot(source_dot, target_dot, working, progress, static_cast<uint32_t>(h));
        DotDraw& draw = draws[static_cast<size_t>(h)];
        draw.x = state.x;
        draw.y = state.y;
        draw.radius = state.radius;
        draw.inner_radius = state.inner_radius;

        if (state.solid_phase != SolidPhase::kTravelling) {
            // Break-apart and settle: the enlarged dots are cut by the mask
            // and painted with its colours, redrawing the solid source.
            draw.mask = state.solid_phase == SolidPhase::kSourceSolid ? &source_mask : &target_mask;
            continue;
        }

        const int64_t source_index = mask_index_at(source_sampler, source_dot.x, source_dot.y);
        const int64_t target_index = mask_index_at(target_sampler, target_dot.x, target_dot.y);
        draw.color = working.dot_color;
        if (match) {
            const Rgb source_color = mask_color(source_sampler, source_index);
            const Rgb target_color = mask_color(target_sampler, target_index);
            if (source_count == 0) {
                draw.color = target_color;
            } else if (target_count == 0) {
                draw.color = source_color;
            } else {
                draw.color = mix(source_color, target_color, state.blend);
            }
        }
        // Dots keep the anti-aliasing of the pixel they came from and fade
        // out when they travel to an empty target.
        const float source_coverage = mask_coverage(source_sampler, source_index);
        const float target_coverage = mask_coverage(target_sampler, target_index);
        draw.opacity = source_coverage + state.blend * (target_coverage - source_coverage);
    }
    const DotStyle style{working.dot_shape, working.edge_softness, match, working.dot_color};
    render_dots(canvas, width, height, style, draws);
}

} // namespace pointillo
