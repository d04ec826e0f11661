#include "draw/particles.h"

#include "common/hash.h"
#include "draw/float_math.h"
#include "draw/mask_sampler.h"
#include "draw/morph.h"
#include "draw/motion.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <cmath>
#include <cstdint>

namespace pointillo {
namespace {

using draw_math::clamp01;
using draw_math::cos_f;
using draw_math::hypot_f;
using draw_math::kPi;
using draw_math::max_f;
using draw_math::min_f;
using draw_math::sin_f;
using draw_math::sqrt_f;

// Random channels of a particle: rand01(B + k * 0x9E3779B9).
constexpr uint32_t kPairChannel = 1u * kGolden;   // 0x9E3779B9
constexpr uint32_t kLifeChannel = 2u * kGolden;   // 0x3C6EF372
constexpr uint32_t kAngleChannel = 3u * kGolden;  // 0xDAA66D2B
constexpr uint32_t kSpreadChannel = 4u * kGolden; // 0x78DDE6E4
constexpr uint32_t kSizeChannel = 5u * kGolden;   // 0x1715609D

// Rate cap per second; with the 0.05 s step that is 1000 particles a step.
constexpr float kMaxRate = 20000.0f;
// Guards the count's float-to-int conversion for absurd step lengths; the
// renderer's 0.05 s step never comes near it.
constexpr float kMaxCount = 1.0e6f;

inline float ease(float e) {
    return e * e * (3.0f - 2.0f * e);
}

// Travel time T and gravity time G of linear drag k at time t: the distance
// flown is u * T, the fall g * G. In double for drag above 0.0001: in float,
// 1 - exp(-k t) cancels and moves particles by whole pixels for small drag.
struct Flight {
    float travel = 0.0f;
    float fall = 0.0f;
};

Flight flight(float drag, float t) {
    if (drag > 0.0001f) {
        const double k = static_cast<double>(drag);
        const double td = static_cast<double>(t);
        const double travel = -std::expm1(-k * td) / k;
        const double fall = (td - travel) / k;
        return {static_cast<float>(travel), static_cast<float>(fall)};
    }
    return {t, t * t / 2.0f};
}

} // namespace

void emit_particles(std::vector<Particle>& out, const SourceMask& from_mask,
                    const SourceMask& to_mask, const Cloud& from_cloud, const Cloud& to_cloud,
                    const DotSettings& dots, const ParticleSettings& particles,
                    const EmissionTiming& timing) {
    const float progress_before = timing.progress_before;
    const float progress = timing.progress;
    const float progress_after = timing.progress_after;
    const float age = timing.age;
    out.clear();
    // The comparisons are written so that NaN inputs also produce nothing.
    const int64_t from_count = static_cast<int64_t>(from_cloud.dots.size());
    const int64_t to_count = static_cast<int64_t>(to_cloud.dots.size());
    if (!particles.enabled || !(age >= 0.0f) || !(particles.emission_rate > 0.0f) ||
        !(std::fabs(progress_after - progress_before) >= 0.000001f) || from_count == 0 ||
        to_count == 0) {
        return;
    }

    DotSettings working = dots;
    working.spacing = from_cloud.spacing > to_cloud.spacing ? from_cloud.spacing : to_cloud.spacing;

    // Fractional rates emit one extra particle in the right share of steps,
    // decided by the step's own hash, so a step always makes the same count.
    const float q = timing.step_length * min_f(particles.emission_rate, kMaxRate);
    const uint32_t o = hash32(static_cast<uint32_t>(dots.random_seed) * 7919u +
                              static_cast<uint32_t>(timing.sample));
    int64_t count = 0;
    if (q > 0.0f) {
        const float whole = std::floor(min_f(q, kMaxCount));
        count = static_cast<int64_t>(whole) + (rand01(o) < q - whole ? 1 : 0);
    }
    if (count == 0) {
        return;
    }
    out.reserve(static_cast<size_t>(count));

    const int64_t pairs = from_count > to_count ? from_count : to_count;
    const float pairs_f = static_cast<float>(pairs);
    const float span = max_f(timing.velocity_span, 0.001f);
    const float t = age;
    const float drag = max_f(particles.velocity_falloff, 0.0f);
    const Flight fl = flight(drag, t);
    const MaskSampler from_sampler = make_mask_sampler(from_mask);
    const MaskSampler to_sampler = make_mask_sampler(to_mask);

    for (int64_t i = 0; i < count; ++i) {
        const uint32_t key = hash32(o + static_cast<uint32_t>(i) * 65537u);

        // The very pair render_morph draws as pair j of the same two clouds.
        const float pick = pairs_f * rand01(key + kPairChannel);
        int64_t j = static_cast<int64_t>(pick);
        j = j < pairs - 1 ? j : pairs - 1;
        const Dot& from_dot = from_cloud.dots[paired_index(j, from_count, pairs)];
        const Dot& to_dot = to_cloud.dots[paired_index(j, to_count, pairs)];
        const uint32_t pair = static_cast<uint32_t>(j);
        const DotState e0 = evaluate_dot(from_dot, to_dot, working, progress, pair);
        const DotState e1 = evaluate_dot(from_dot, to_dot, working, progress_before, pair);
        const DotState e2 = evaluate_dot(from_dot, to_dot, working, progress_after, pair);
        const float vx = (e2.x - e1.x) / span;
        const float vy = (e2.y - e1.y) / span;
        // A dot (nearly) at rest sheds nothing.
        if (!(hypot_f(vx, vy) >= 0.1f)) {
            continue;
        }

        const float life =
            max_f((1.0f + particles.life_randomness * (2.0f * rand01(key + kLifeChannel) - 1.0f)) *
                      particles.life,
                  0.02f);
        if (t >= life) {
            continue;
        }

        // Inherited velocity plus a spread uniform over a disc.
        const float beta = 2.0f * kPi * rand01(key + kAngleChannel);
        const float spread = particles.extra_spread * sqrt_f(rand01(key + kSpreadChannel));
        const float ux = particles.inherit_velocity * vx + spread * cos_f(beta);
        const float uy = particles.inherit_velocity * vy + spread * sin_f(beta);

        Particle particle;
        particle.x = e0.x + ux * fl.travel;
        particle.y = e0.y + uy * fl.travel + particles.gravity * fl.fall;

        float fade = 1.0f;
        if (particles.fade_over_life > 0.0f) {
            const float f = min_f(particles.fade_over_life, 1.0f);
            const float s = clamp01((t / life - (1.0f - f)) / max_f(f, 0.001f));
            fade = 1.0f - ease(s);
        }

        const float a = clamp01(t / life);
        particle.radius = max_f(
            particles.size * 0.5f *
                (1.0f + particles.size_randomness * (2.0f * rand01(key + kSizeChannel) - 1.0f)) *
                (1.0f + (particles.end_scale - 1.0f) * a * a * (3.0f - 2.0f * a)),
            0.0f);

        const int64_t from_index = mask_index_at(from_sampler, from_dot.x, from_dot.y);
        const int64_t to_index = mask_index_at(to_sampler, to_dot.x, to_dot.y);
        Rgb color = particles.color;
        if (particles.match_main_color) {
            color = dots.dot_color;
            if (dots.match_source_colors) {
                const Rgb c1 = mask_color(from_sampler, from_index);
                const Rgb c2 = mask_color(to_sampler, to_index);
                color = {c1.red + e0.blend * (c2.red - c1.red),
                         c1.green + e0.blend * (c2.green - c1.green),
                         c1.blue + e0.blend * (c2.blue - c1.blue)};
            }
        }
        particle.color = color;

        const float from_coverage = mask_coverage(from_sampler, from_index);
        const float to_coverage = mask_coverage(to_sampler, to_index);
        particle.opacity =
            fade * particles.opacity * (from_coverage + e0.blend * (to_coverage - from_coverage));
        out.push_back(particle);
    }
}

} // namespace pointillo
