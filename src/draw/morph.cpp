#include "draw/morph.h"

#include "common/limits.h"
#include "draw/mask_sampler.h"
#include "draw/motion.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <array>
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
    reset_canvas(canvas, width, height);

    // With "Form Solid Source" the ends of a transition show the source
    // itself, never dots.
    if (settings.form_solid_source && (progress <= 0.0f || progress >= 1.0f)) {
        fill_solid_source(canvas, progress <= 0.0f ? source_mask : target_mask,
                          settings.match_source_colors, settings.dot_color, cancel);
        return;
    }

    const int64_t source_count = static_cast<int64_t>(source_cloud.dots.size());
    const int64_t target_count = static_cast<int64_t>(target_cloud.dots.size());
    const int64_t pairs = source_count > target_count ? source_count : target_count;
    if (pairs == 0) {
        return;
    }

    DotSettings working = settings;
    working.spacing =
        source_cloud.spacing > target_cloud.spacing ? source_cloud.spacing : target_cloud.spacing;
    const float s = effective_softness(working.edge_softness);
    const MaskSampler source_sampler = make_mask_sampler(source_mask);
    const MaskSampler target_sampler = make_mask_sampler(target_mask);
    const bool match = working.match_source_colors;

    // One pair ready to draw: its dots and its state.
    struct Pair {
        const Dot* source = nullptr;
        const Dot* target = nullptr;
        DotState state;
    };
    const auto evaluate_pair = [&](int64_t h) {
        // The smaller cloud's dots spread evenly over the larger's; an empty
        // side borrows the other side's dot.
        Pair pair;
        pair.source = source_count > 0 ? &source_cloud.dots[paired_index(h, source_count, pairs)]
                                       : &target_cloud.dots[paired_index(h, target_count, pairs)];
        pair.target = target_count > 0 ? &target_cloud.dots[paired_index(h, target_count, pairs)]
                                       : pair.source;
        // The pair index, not the dot, seeds the dot's random values.
        pair.state =
            evaluate_dot(*pair.source, *pair.target, working, progress, static_cast<uint32_t>(h));
        prefetch_dot(canvas, pair.state.x, pair.state.y, pair.state.radius, s);
        return pair;
    };

    // Pairs are evaluated a few ahead of drawing, and their pixels asked for
    // then, so that the memory of a travelling dot is on its way while the
    // dots before it are drawn. Evaluation is pure: the order changes nothing.
    constexpr int64_t kAhead = 4;
    std::array<Pair, kAhead> ahead;
    for (int64_t h = 0; h < kAhead && h < pairs; ++h) {
        ahead[static_cast<size_t>(h)] = evaluate_pair(h);
    }

    for (int64_t h = 0; h < pairs; ++h) {
        if (h % 128 == 0) {
            cancel.poll();
        }
        Pair& slot = ahead[static_cast<size_t>(h % kAhead)];
        const Pair pair = slot;
        if (h + kAhead < pairs) {
            slot = evaluate_pair(h + kAhead);
        }
        const Dot& source_dot = *pair.source;
        const Dot& target_dot = *pair.target;
        const DotState& state = pair.state;

        if (state.solid_mask == 0 || state.solid_mask == 1) {
            // Break-apart and settle: the enlarged dots are cut by the mask
            // and painted with its colours, redrawing the solid source.
            draw_masked_dot(canvas, working.dot_shape, s, state.x, state.y, state.radius,
                            state.inner_radius, state.solid_mask == 0 ? source_mask : target_mask,
                            match, working.dot_color);
            continue;
        }

        const int64_t source_index = mask_index_at(source_sampler, source_dot.x, source_dot.y);
        const int64_t target_index = mask_index_at(target_sampler, target_dot.x, target_dot.y);
        Rgb color = working.dot_color;
        if (match) {
            const Rgb source_color = mask_color(source_sampler, source_index);
            const Rgb target_color = mask_color(target_sampler, target_index);
            if (source_count == 0) {
                color = target_color;
            } else if (target_count == 0) {
                color = source_color;
            } else {
                color = mix(source_color, target_color, state.blend);
            }
        }
        // Dots keep the anti-aliasing of the pixel they came from and fade
        // out when they travel to an empty target.
        const float source_coverage = mask_coverage(source_sampler, source_index);
        const float target_coverage = mask_coverage(target_sampler, target_index);
        const float opacity = source_coverage + state.blend * (target_coverage - source_coverage);
        draw_dot(canvas, working.dot_shape, s, state.x, state.y, state.radius, state.inner_radius,
                 opacity, color);
    }
}

} // namespace pointillo
