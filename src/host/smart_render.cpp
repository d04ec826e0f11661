#include "host/smart_render.h"

#include "draw/morph.h"
#include "draw/particles.h"
#include "host/host_error.h"
#include "host/pre_render.h"
#include "host/scoped_suite.h"
#include "host/source_mask_host.h"
#include "source/cloud.h"

#include <algorithm>
#include <vector>

namespace pointillo {
namespace {

// Length of one emission step, seconds.
constexpr float kStepLength = 0.05f;

// Dots of the frame: none, one source drawn solid, or two in transition.
void draw_dots(const RenderHost& host, const PreRenderData& data, const DotSettings& dots,
               Canvas& canvas, const CancelCheck& cancel) {
    switch (data.source_count) {
    case 0:
        reset_canvas(canvas, data.output_width, data.output_height);
        break;
    case 1: {
        // The solid form needs no cloud: empty clouds take their place.
        const SourceMask mask = build_source_mask(host, data, data.sources[0]);
        const Cloud empty;
        render_morph(mask, mask, empty, empty, dots, 0.0f, data.output_width, data.output_height,
                     canvas, cancel);
        break;
    }
    default: {
        const SourceMask source = build_source_mask(host, data, data.sources[0]);
        const SourceMask target = build_source_mask(host, data, data.sources[1]);
        const auto source_cloud = get_cloud(source, dots);
        const auto target_cloud = get_cloud(target, dots);
        render_morph(source, target, *source_cloud, *target_cloud, dots, data.state.progress,
                     data.output_width, data.output_height, canvas, cancel);
        break;
    }
    }
}

// Particles of every emission step over the dots, younger steps on top.
void draw_emission_steps(const RenderHost& host, const PreRenderData& data, float render_scale,
                         Canvas& canvas) {
    std::vector<Particle> particles;
    for (const EmissionStep& step : data.emission_steps) {
        // Each step draws with the settings of its own time.
        const DotSettings dots = render_dot_settings(step.settings.dots, render_scale);
        const ParticleSettings particle_settings =
            render_particle_settings(step.settings.particles, render_scale);
        check_abort(&host.in_data);

        const SourceMask mask_a = build_source_mask(host, data, step.source_a);
        const SourceMask mask_b = build_source_mask(host, data, step.source_b);
        const auto cloud_a = get_cloud(mask_a, dots);
        const auto cloud_b = get_cloud(mask_b, dots);
        emit_particles(particles, mask_a, mask_b, *cloud_a, *cloud_b, dots, particle_settings,
                       step.progress_before, step.state.progress, step.progress_after,
                       step.velocity_span, step.age, kStepLength, step.sample);
        draw_particles(particles, data.output_width, data.output_height, dots.edge_softness,
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

void smart_render(PF_InData* in_data, PF_SmartRenderExtra* extra) {
    const auto* data = static_cast<const PreRenderData*>(extra->input->pre_render_data);
    if (data == nullptr) {
        throw HostError{PF_Err_INTERNAL_STRUCT_DAMAGED};
    }
    // Here an error from AcquireSuite also means the suite is unavailable.
    const ScopedSuite<PF_WorldSuite2> world_suite(
        in_data->pica_basicP, kPFWorldSuite, kPFWorldSuiteVersion2, SuiteCheck::kPointerAndResult);
    if (!world_suite) {
        throw HostError{PF_Err_BAD_CALLBACK_PARAM};
    }
    const RenderHost host{*in_data, *extra, *world_suite.get()};
    const CancelCheck cancel{check_abort, in_data};
    const float render_scale = std::min(data->downsample_x, data->downsample_y);

    Canvas canvas;
    draw_dots(host, *data, render_dot_settings(data->settings.dots, render_scale), canvas, cancel);
    draw_emission_steps(host, *data, render_scale, canvas);

    // The output is checked out once, after all drawing. No world, or one
    // without pixels, is success without writing.
    PF_EffectWorld* output = nullptr;
    throw_if_error(extra->cb->checkout_output(in_data->effect_ref, &output));
    if (output == nullptr || output->data == nullptr) {
        return;
    }
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    throw_if_error(world_suite->PF_GetPixelFormat(output, &format));
    const PixelView view{reinterpret_cast<std::byte*>(output->data), output->width, output->height,
                         output->rowbytes, pixel_depth_of(format)};
    convert_canvas(canvas, view, cancel);
}

} // namespace pointillo
