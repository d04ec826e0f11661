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

// What drawing one frame borrows from its host, and the masks it has sampled.
struct FrameJob {
    const FramePlan& plan;
    SourcePixels sources;
    const CancelCheck& cancel;
    ParallelFor parallel;
    MaskSet masks;
};

// The mask of one source, sampled while the host lends its pixels, or one
// sampled earlier in the frame from equal pixels at the same place. Either
// way the host lends the pixels and sees the same polls.
std::shared_ptr<const SourceMask> mask_of(FrameJob& job, const SourceRef& source) {
    const FramePlan& plan = job.plan;
    const MaskOrigin origin =
        mask_origin({plan.output_width, plan.output_height, plan.downsample_x, plan.downsample_y},
                    {source.ref_width, source.ref_height, source.rect.left, source.rect.top});
    std::shared_ptr<const SourceMask> mask;
    job.sources(source, [&](const ConstPixelView& pixels) {
        mask = obtain_mask(job.masks, plan.output_width, plan.output_height, pixels, origin,
                           job.cancel);
    });
    if (mask == nullptr) {
        // A host that lent nothing lent a layer without pixels.
        mask = obtain_mask(job.masks, plan.output_width, plan.output_height, ConstPixelView{},
                           origin, job.cancel);
    }
    return mask;
}

// Dots of the frame: none, one source drawn solid, or two in transition.
void draw_dots(FrameJob& job, const DotSettings& dots, Canvas& canvas) {
    const FramePlan& plan = job.plan;
    switch (plan.source_count) {
    case 0:
        reset_canvas(canvas, plan.output_width, plan.output_height);
        break;
    case 1:
        render_solid(*mask_of(job, plan.from), dots, plan.output_width, plan.output_height, canvas,
                     job.cancel);
        break;
    default: {
        const auto from = mask_of(job, plan.from);
        const auto to = mask_of(job, plan.to);
        const auto from_cloud = get_cloud(*from, dots);
        const auto to_cloud = get_cloud(*to, dots);
        const Morph morph{{from.get(), from_cloud.get()},
                          {to.get(), to_cloud.get()},
                          plan.state.progress,
                          plan.output_width,
                          plan.output_height};
        render_morph(morph, dots, canvas, job.cancel, job.parallel);
        break;
    }
    }
}

// Particles of every emission step over the dots, younger steps on top.
void draw_emission_steps(FrameJob& job, float render_scale, Canvas& canvas) {
    const FramePlan& plan = job.plan;
    std::vector<Particle> particles;
    for (const EmissionStep& step : plan.emission_steps) {
        // Each step draws with the settings of its own time.
        const DotSettings dots = render_dot_settings(step.settings.dots, render_scale);
        const ParticleSettings particle_settings =
            render_particle_settings(step.settings.particles, render_scale);
        job.cancel.poll();

        const auto from = mask_of(job, step.from);
        const auto to = mask_of(job, step.to);
        const auto from_cloud = get_cloud(*from, dots);
        const auto to_cloud = get_cloud(*to, dots);
        emit_particles(particles, {from.get(), from_cloud.get()}, {to.get(), to_cloud.get()}, dots,
                       particle_settings, step.timing, job.parallel);
        draw_particles(particles, plan.output_width, plan.output_height, dots.edge_softness, canvas,
                       job.parallel);
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
                  Canvas& canvas, ParallelFor parallel) {
    const float render_scale = std::min(plan.downsample_x, plan.downsample_y);
    FrameJob job{plan, sources, cancel, parallel, {}};
    draw_dots(job, render_dot_settings(plan.settings.dots, render_scale), canvas);
    draw_emission_steps(job, render_scale, canvas);
}

} // namespace pointillo
