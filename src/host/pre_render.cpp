#include "host/pre_render.h"

#include "common/limits.h"
#include "frame/param_table.h"
#include "host/host_error.h"
#include "host/read_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>

namespace pointillo {
namespace {

// Samples are 1/20 s apart; particles live at most 5 s x (1 + 95 %).
constexpr double kSamplesPerSecond = 20.0;
constexpr double kLongestLife = 9.75;

float downsample_factor(const PF_RationalScale& scale) {
    if (scale.den == 0) {
        return 1.0f;
    }
    return static_cast<float>(scale.num) / static_cast<float>(scale.den);
}

// ceil(factor x size) in float, at least 1. Sizes too large for an int come
// back as the largest int, which the size check then refuses.
int32_t output_extent(float factor, A_long size) {
    const float extent = std::ceil(factor * static_cast<float>(size));
    if (!(extent >= 1.0f)) {
        return 1;
    }
    if (extent >= 2147483648.0f) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(extent);
}

bool fits_host_time(int64_t time) {
    return time >= std::numeric_limits<A_long>::min() && time <= std::numeric_limits<A_long>::max();
}

// Everything one pre-render command needs to check layers out.
struct LayerCheckouts {
    PF_InData& in_data;
    PF_PreRenderExtra& extra;
    PF_RenderRequest request; // the output request, rectangle emptied, all channels
    A_long next_id = 100;     // ids 100 to 115 probe the slots

    PF_CheckoutResult checkout(int32_t slot_id, A_long time, const PF_LRect& rect, A_long id) {
        PF_RenderRequest req = request;
        req.rect = rect;
        PF_CheckoutResult result{};
        throw_if_error(extra.cb->checkout_layer(in_data.effect_ref, param_index_of(slot_id), id,
                                                &req, time, in_data.time_step, in_data.time_scale,
                                                &result));
        return result;
    }

    PF_CheckoutResult probe(int32_t slot_id, A_long time) {
        return checkout(slot_id, time, PF_LRect{0, 0, 0, 0}, next_id++);
    }

    // Probe, then ask for the whole layer (not only the part the output
    // request covers) under a second id.
    SourceCheckout with_pixels(int32_t slot_id, A_long time) {
        const PF_CheckoutResult probed = probe(slot_id, time);
        SourceCheckout source;
        source.checkout_id = next_id++;
        source.result = checkout(slot_id, time, probed.max_result_rect, source.checkout_id);
        return source;
    }
};

// A state's progress as seen from transition s0 (current -> next).
float progress_seen_from(const SequenceState& s0, const SequenceState& s) {
    if (s.current == s0.current) {
        return s.progress;
    }
    return s.current == s0.next ? 1.0f : 0.0f;
}

// The past samples whose particles may still be alive at the frame time and at
// which the transition was moving, in increasing order.
void collect_emission_steps(PF_InData& in_data, LayerCheckouts& layers,
                            const std::vector<int32_t>& active, PreRenderData& data) {
    const uint32_t scale = std::max<uint32_t>(in_data.time_scale, 1u);
    const double now = host_seconds(in_data.current_time, in_data.time_scale);
    const int64_t hi = static_cast<int64_t>(std::floor(kSamplesPerSecond * now));
    const int64_t lo = static_cast<int64_t>(std::ceil(kSamplesPerSecond * (now - kLongestLife)));
    const A_long dt = static_cast<A_long>(std::max<uint32_t>(scale / 200u, 1u));
    const auto active_count = static_cast<int32_t>(active.size());
    const PF_ParamIndex life_index = param_index_of(param_id::kLife);
    const PF_ParamIndex life_randomness_index = param_index_of(param_id::kLifeRandomness);

    for (int64_t k = lo; k <= hi; ++k) {
        // k is signed: the first 9.75 s have negative samples, whose product
        // with the unsigned scale must not wrap.
        const int64_t t =
            std::llround(static_cast<double>(scale) * static_cast<double>(k) / kSamplesPerSecond);
        // Samples that no host time can name (only with absurd time scales).
        if (!fits_host_time(t - dt) || !fits_host_time(t + dt) ||
            k < std::numeric_limits<int32_t>::min() || k > std::numeric_limits<int32_t>::max()) {
            continue;
        }
        const auto t_k = static_cast<A_long>(t);

        // The life test comes first so that dead samples cost two checkouts.
        const double life = read_slider(in_data, life_index, t_k);
        const double life_randomness = read_slider(in_data, life_randomness_index, t_k);
        const auto age = static_cast<float>(now - static_cast<double>(k) / kSamplesPerSecond);
        if (static_cast<double>(age) >= (life_randomness * 0.01 + 1.0) * life) {
            continue;
        }

        const SequenceState s0 = sequence_state_at(data.settings, in_data, active_count, t_k);
        const SequenceState sm = sequence_state_at(data.settings, in_data, active_count, t_k - dt);
        const SequenceState sp = sequence_state_at(data.settings, in_data, active_count, t_k + dt);
        if (s0.current == s0.next) {
            continue; // come to rest on the last source
        }
        const float before = progress_seen_from(s0, sm);
        const float after = progress_seen_from(s0, sp);
        if (std::fabs(after - before) < 1e-6f) {
            continue; // standing still: no velocity to shed particles with
        }

        EmissionStep step;
        step.settings = read_settings(in_data, t_k);
        if (!step.settings.particles.enabled || !(step.settings.particles.emission_rate > 0.0f)) {
            continue;
        }
        step.source_a = layers.with_pixels(active[static_cast<size_t>(s0.current)], t_k);
        step.source_b = layers.with_pixels(active[static_cast<size_t>(s0.next)], t_k);
        step.state = s0;
        step.progress_before = before;
        step.progress_after = after;
        step.velocity_span = static_cast<float>(2 * dt) / static_cast<float>(scale);
        step.age = age;
        step.sample = static_cast<int32_t>(k);
        data.emission_steps.push_back(step);
    }
}

} // namespace

void delete_pre_render_data(void* pre_render_data) {
    delete static_cast<PreRenderData*>(pre_render_data);
}

void smart_pre_render(PF_InData* in_data, PF_PreRenderExtra* extra) {
    auto data = std::make_unique<PreRenderData>();
    data->settings = read_settings(*in_data, in_data->current_time);

    data->downsample_x = downsample_factor(in_data->downsample_x);
    data->downsample_y = downsample_factor(in_data->downsample_y);
    data->output_width = output_extent(data->downsample_x, in_data->width);
    data->output_height = output_extent(data->downsample_y, in_data->height);
    if (!pixel_count_ok(data->output_width, data->output_height)) {
        throw std::runtime_error("Output exceeds the supported 64 megapixels");
    }

    LayerCheckouts layers{*in_data, *extra, extra->input->output_request};
    layers.request.rect = PF_LRect{0, 0, 0, 0};
    layers.request.channel_mask = PF_ChannelMask_ARGB;

    std::vector<int32_t> active; // slot ids that hold a layer, in slot order
    for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
        const PF_CheckoutResult probed = layers.probe(source_slot_id(slot), in_data->current_time);
        if (probed.ref_width > 0 && probed.ref_height > 0) {
            active.push_back(source_slot_id(slot));
        }
    }

    const auto active_count = static_cast<int32_t>(active.size());
    data->state = sequence_state_at(data->settings, *in_data, active_count, in_data->current_time);

    if (!active.empty()) {
        // A frame that stands on a source drawn solid needs only that source.
        data->source_count =
            data->settings.dots.form_solid_source && !(data->state.progress > 0.0f) ? 1 : 2;
        data->sources[0] = layers.with_pixels(active[static_cast<size_t>(data->state.current)],
                                              in_data->current_time);
        if (data->source_count == 2) {
            data->sources[1] = layers.with_pixels(active[static_cast<size_t>(data->state.next)],
                                                  in_data->current_time);
        }
        if (data->settings.particles.enabled && active.size() >= 2) {
            collect_emission_steps(*in_data, layers, active, *data);
        }
    }

    PF_PreRenderOutput& output = *extra->output;
    output.result_rect = PF_LRect{0, 0, data->output_width, data->output_height};
    output.max_result_rect = output.result_rect;
    output.solid = false;
    output.flags =
        static_cast<PF_RenderOutputFlags>(output.flags | PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
    output.pre_render_data = data.release();
    output.delete_pre_render_data_func = delete_pre_render_data;
}

} // namespace pointillo
