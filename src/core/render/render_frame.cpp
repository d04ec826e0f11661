#include "render/render_frame.h"

#include "draw/morph.h"
#include "draw/particles.h"
#include "source/cloud.h"
#include "source/mask_set.h"
#include "source/source_mask.h"

#include <algorithm>
#include <vector>

namespace pointillo {
namespace {

// The mask of one source, sampled while the host lends its pixels, or one
// sampled earlier in the frame from equal pixels at the same place. Either
// way the host lends the pixels and sees the same polls.
std::shared_ptr<const SourceMask> build_mask(const FramePlan& plan, const SourceRef& source,
                                             SourcePixels sources, const CancelCheck& cancel,
                                             MaskSet& masks) {
    const MaskOrigin origin =
        mask_origin(plan.output_width, plan.output_height, plan.downsample_x, plan.downsample_y,
                    source.ref_width, source.ref_height, source.rect.left, source.rect.top);
    std::shared_ptr<const SourceMask> mask;
    sources(source, [&](const ConstPixelView& pixels) {
        mask = obtain_mask(masks, plan.output_width, plan.output_height, pixels, origin, cancel);
    });
    if (mask == nullptr) {
        // A host that lent nothing lent a layer without pixels.
        mask = obtain_mask(masks, plan.output_width, plan.output_height, ConstPixelView{}, origin,
                           cancel);
    }
    return mask;
}

// Dots of the frame: none, one source drawn solid, or two in transition.
void draw_dots(const FramePlan& plan, SourcePixels sources, const DotSettings& dots,
               const CancelCheck& cancel, MaskSet& masks, Canvas& canvas) {
    switch (plan.source_count) {
    case 0:
        reset_canvas(canvas, plan.output_width, plan.output_height);
        break;
    case 1: {
        // The solid form needs no cloud: empty clouds take their place.
        const auto mask = build_mask(plan, plan.from, sources, cancel, masks);
        const Cloud empty;
        render_morph(*mask, *mask, empty, empty, dots, 0.0f, plan.output_width, plan.output_height,
                     canvas, cancel);
        break;
    }
    default: {
        const auto from = build_mask(plan, plan.from, sources, cancel, masks);
        const auto to = build_mask(plan, plan.to, sources, cancel, masks);
        const auto from_cloud = get_cloud(*from, dots);
        const auto to_cloud = get_cloud(*to, dots);
        render_morph(*from, *to, *from_cloud, *to_cloud, dots, plan.state.progress,
                     plan.output_width, plan.output_height, canvas, cancel);
        break;
    }
    }
}

// Particles of every emission step over the dots, younger steps on top.
void draw_emission_steps(const FramePlan& plan, SourcePixels sources, float render_scale,
                         const CancelCheck& cancel, MaskSet& masks, Canvas& canvas) {
    std::vector<Particle> particles;
    for (const EmissionStep& step : plan.emission_steps) {
        // Each step draws with the settings of its own time.
        const DotSettings dots = render_dot_settings(step.settings.dots, render_scale);
        const ParticleSettings particle_settings =
            render_particle_settings(step.settings.particles, render_scale);
        cancel.poll();

        const auto from = build_mask(plan, step.from, sources, cancel, masks);
        const auto to = build_mask(plan, step.to, sources, cancel, masks);
        const auto from_cloud = get_cloud(*from, dots);
        const auto to_cloud = get_cloud(*to, dots);
        emit_particles(particles, *from, *to, *from_cloud, *to_cloud, dots, particle_settings,
                       step.timing);
        draw_particles(particles, plan.output_width, plan.output_height, dots.edge_softness,
                       canvas);
    }
}

} // namespace

DotSettings render_dot_settings(DotSettings dots, float render_scale) {
    dots.spacing *= render_scale;
    dots.dot_size *= render_scale;
    dots.scatter *= render_scale;
    dots.chaos_amount *= render_scale;
    dots.edge_softness *= render_scale;
    return dots;
}

ParticleSettings render_particle_settings(ParticleSettings particles, float render_scale) {
    particles.extra_spread *= render_scale;
    particles.gravity *= render_scale;
    particles.size *= render_scale;
    return particles;
}

void render_frame(const FramePlan& plan, SourcePixels sources, const CancelCheck& cancel,
                  Canvas& canvas) {
    const float render_scale = std::min(plan.downsample_x, plan.downsample_y);
    MaskSet masks;
    draw_dots(plan, sources, render_dot_settings(plan.settings.dots, render_scale), cancel, masks,
              canvas);
    draw_emission_steps(plan, sources, render_scale, cancel, masks, canvas);
}

} // namespace pointillo
