#include "frame/frame_plan.h"

#include "common/limits.h"
#include "frame/param_table.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace pointillo {
namespace {

// ceil(factor x size) in float, at least 1. Sizes too large for an int come
// back as the largest int, which the size check then refuses.
int32_t output_extent(float factor, int32_t size) {
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
    return time >= std::numeric_limits<int32_t>::min() &&
           time <= std::numeric_limits<int32_t>::max();
}

// A state's progress as seen from transition s0 (from -> to).
float progress_seen_from(const SequenceState& s0, const SequenceState& s) {
    if (s.from == s0.from) {
        return s.progress;
    }
    return s.from == s0.to ? 1.0f : 0.0f;
}

// The past samples whose particles may still be alive at the frame time and
// at which the transition was moving, in increasing order.
void plan_emission_steps(const PlanRequest& request, const PlanHost& host, FramePlan& plan) {
    const uint32_t scale = std::max<uint32_t>(request.time_scale, 1u);
    const auto rate = static_cast<double>(kEmissionSamplesPerSecond);
    const double now = host_seconds(request.time, request.time_scale);
    const int64_t hi = static_cast<int64_t>(std::floor(rate * now));
    const int64_t lo = static_cast<int64_t>(std::ceil(rate * (now - kLongestParticleLife)));
    // The velocity step, about 5 ms.
    const int32_t dt = static_cast<int32_t>(std::max<uint32_t>(scale / 200u, 1u));
    const int32_t life_index = param_index_of(param_id::kLife);
    const int32_t life_randomness_index = param_index_of(param_id::kLifeRandomness);

    for (int64_t k = lo; k <= hi; ++k) {
        // k is signed: the first seconds have negative samples, whose product
        // with the unsigned scale must not wrap.
        const int64_t t = std::llround(static_cast<double>(scale) * static_cast<double>(k) / rate);
        // Samples that no host time can name (only with absurd time scales).
        if (!fits_host_time(t - dt) || !fits_host_time(t + dt) ||
            k < std::numeric_limits<int32_t>::min() || k > std::numeric_limits<int32_t>::max()) {
            continue;
        }
        const auto t_k = static_cast<int32_t>(t);

        // The life test comes first so that dead samples cost two reads.
        const double life = host.read(life_index, t_k).number;
        const double life_randomness = host.read(life_randomness_index, t_k).number;
        const auto age = static_cast<float>(now - static_cast<double>(k) / rate);
        if (static_cast<double>(age) >= (life_randomness * 0.01 + 1.0) * life) {
            continue;
        }

        const int32_t active = request.active_count;
        const SequenceState s0 =
            sequence_state_at(plan.settings, host.read, active, t_k, request.time_scale);
        const SequenceState sm =
            sequence_state_at(plan.settings, host.read, active, t_k - dt, request.time_scale);
        const SequenceState sp =
            sequence_state_at(plan.settings, host.read, active, t_k + dt, request.time_scale);
        if (s0.from == s0.to) {
            continue; // come to rest on the last source
        }
        const float before = progress_seen_from(s0, sm);
        const float after = progress_seen_from(s0, sp);
        if (std::fabs(after - before) < 1e-6f) {
            continue; // standing still: no velocity to shed particles with
        }

        EmissionStep step;
        step.settings = read_settings(host.read, t_k);
        if (!step.settings.particles.enabled || !(step.settings.particles.emission_rate > 0.0f)) {
            continue;
        }
        step.from = host.checkout(s0.from, t_k);
        step.to = host.checkout(s0.to, t_k);
        step.timing.progress_before = before;
        step.timing.progress = s0.progress;
        step.timing.progress_after = after;
        step.timing.velocity_span = static_cast<float>(2 * dt) / static_cast<float>(scale);
        step.timing.age = age;
        step.timing.sample = static_cast<int32_t>(k);
        plan.emission_steps.push_back(step);
    }
}

} // namespace

float downsample_factor(int32_t num, uint32_t den) {
    if (den == 0) {
        return 1.0f;
    }
    return static_cast<float>(num) / static_cast<float>(den);
}

OutputSize output_size(float downsample_x, float downsample_y, int32_t layer_width,
                       int32_t layer_height) {
    const OutputSize size{output_extent(downsample_x, layer_width),
                          output_extent(downsample_y, layer_height)};
    if (!pixel_count_ok(size.width, size.height)) {
        throw std::runtime_error("Output exceeds the supported 64 megapixels");
    }
    return size;
}

FramePlan plan_frame(const Settings& settings, const PlanRequest& request, const PlanHost& host) {
    FramePlan plan;
    plan.settings = settings;
    plan.output_width = request.output.width;
    plan.output_height = request.output.height;
    plan.downsample_x = request.downsample_x;
    plan.downsample_y = request.downsample_y;
    plan.state = sequence_state_at(settings, host.read, request.active_count, request.time,
                                   request.time_scale);
    if (request.active_count == 0) {
        return plan;
    }
    // A frame that stands on a source drawn solid needs only that source.
    plan.source_count = settings.dots.form_solid_source && !(plan.state.progress > 0.0f) ? 1 : 2;
    plan.from = host.checkout(plan.state.from, request.time);
    if (plan.source_count == 2) {
        plan.to = host.checkout(plan.state.to, request.time);
    }
    if (settings.particles.enabled && request.active_count >= 2) {
        plan_emission_steps(request, host, plan);
    }
    return plan;
}

FramePlan plan_frame(const PlanRequest& request, const PlanHost& host) {
    return plan_frame(read_settings(host.read, request.time), request, host);
}

} // namespace pointillo
