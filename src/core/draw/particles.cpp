#include "draw/particles.h"

#include "common/float_ops.h"
#include "common/hash.h"
#include "draw/float_math.h"
#include "draw/mask_sampler.h"
#include "draw/morph.h"
#include "draw/motion.h"
#include "source/cloud.h"
#include "source/source_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace pointillo {
namespace {

using draw_math::cos_f;
using draw_math::hypot_f;
using draw_math::kPi;
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

constexpr int64_t kParticlesPerPiece = 64;

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

// How many particles the step sheds. Fractional rates emit one extra
// particle in the right share of steps, decided by the step's own hash
// `step_hash`, so a step always makes the same count.
int64_t particle_count(const ParticleSettings& particles, const EmissionTiming& timing,
                       uint32_t step_hash) {
    const float q = timing.step_length * min_f(particles.emission_rate, kMaxRate);
    if (!(q > 0.0f)) {
        return 0;
    }
    const float whole = std::floor(min_f(q, kMaxCount));
    return static_cast<int64_t>(whole) + (rand01(step_hash) < q - whole ? 1 : 0);
}

// What every particle of one step reads.
struct StepContext {
    const TransitionSide& from;
    const TransitionSide& to;
    const Pairing& pairing;
    const DotSettings& dots;    // as set
    const DotSettings& working; // at the pairing's spacing
    const ParticleSettings& particles;
    const EmissionTiming& timing;
    MaskSampler from_sampler;
    MaskSampler to_sampler;
    Flight flight;
};

// Particle `key` of the step as it stands now; false for one that is not
// shed (its dot is at rest) or has died.
bool shed_particle(const StepContext& c, uint32_t key, Particle& particle) {
    const ParticleSettings& particles = c.particles;
    const EmissionTiming& timing = c.timing;

    // The very pair render_morph draws as pair j of the same two clouds.
    const int64_t pairs = c.pairing.pairs;
    const float pick = static_cast<float>(pairs) * rand01(key + kPairChannel);
    int64_t j = static_cast<int64_t>(pick);
    j = j < pairs - 1 ? j : pairs - 1;
    const DotPair dots = paired_dots(c.pairing, *c.from.cloud, *c.to.cloud, j);
    const auto pair = static_cast<uint32_t>(j);
    const DotState e0 = evaluate_dot(*dots.from, *dots.to, c.working, timing.progress, pair);
    const DotState e1 = evaluate_dot(*dots.from, *dots.to, c.working, timing.progress_before, pair);
    const DotState e2 = evaluate_dot(*dots.from, *dots.to, c.working, timing.progress_after, pair);
    const float span = max_f(timing.velocity_span, 0.001f);
    const float vx = (e2.x - e1.x) / span;
    const float vy = (e2.y - e1.y) / span;
    // A dot (nearly) at rest sheds nothing.
    if (!(hypot_f(vx, vy) >= 0.1f)) {
        return false;
    }

    const float t = timing.age;
    const float life =
        max_f((1.0f + particles.life_randomness * (2.0f * rand01(key + kLifeChannel) - 1.0f)) *
                  particles.life,
              0.02f);
    if (t >= life) {
        return false;
    }

    // Inherited velocity plus a spread uniform over a disc.
    const float beta = 2.0f * kPi * rand01(key + kAngleChannel);
    const float spread = particles.extra_spread * sqrt_f(rand01(key + kSpreadChannel));
    const float ux = particles.inherit_velocity * vx + spread * cos_f(beta);
    const float uy = particles.inherit_velocity * vy + spread * sin_f(beta);
    particle.x = e0.x + ux * c.flight.travel;
    particle.y = e0.y + uy * c.flight.travel + particles.gravity * c.flight.fall;

    float fade = 1.0f;
    if (particles.fade_over_life > 0.0f) {
        const float f = min_f(particles.fade_over_life, 1.0f);
        const float s = clamp01((t / life - (1.0f - f)) / max_f(f, 0.001f));
        fade = 1.0f - ease(s);
    }

    // The growth over life is the ease of `a`, multiplied in from the left
    // as written: ease(a) would round differently.
    const float a = clamp01(t / life);
    particle.radius =
        max_f(particles.size * 0.5f *
                  (1.0f + particles.size_randomness * (2.0f * rand01(key + kSizeChannel) - 1.0f)) *
                  (1.0f + (particles.end_scale - 1.0f) * a * a * (3.0f - 2.0f * a)),
              0.0f);

    const int64_t from_index = mask_index_at(c.from_sampler, dots.from->x, dots.from->y);
    const int64_t to_index = mask_index_at(c.to_sampler, dots.to->x, dots.to->y);
    particle.color = particles.color;
    if (particles.match_main_color) {
        particle.color = c.dots.dot_color;
        if (c.dots.match_source_colors) {
            particle.color = mix(mask_color(c.from_sampler, from_index),
                                 mask_color(c.to_sampler, to_index), e0.blend);
        }
    }
    particle.opacity = fade * particles.opacity *
                       mix(mask_coverage(c.from_sampler, from_index),
                           mask_coverage(c.to_sampler, to_index), e0.blend);
    return true;
}

} // namespace

void emit_particles(std::vector<Particle>& out, const TransitionSide& from,
                    const TransitionSide& to, const DotSettings& dots,
                    const ParticleSettings& particles, const EmissionTiming& timing,
                    ParallelFor parallel) {
    out.clear();
    // The comparisons are written so that NaN inputs also produce nothing.
    const Pairing pairing = pair_clouds(*from.cloud, *to.cloud);
    if (!particles.enabled || !(timing.age >= 0.0f) || !(particles.emission_rate > 0.0f) ||
        !(std::fabs(timing.progress_after - timing.progress_before) >= 0.000001f) ||
        pairing.from_count == 0 || pairing.to_count == 0) {
        return;
    }
    const uint32_t step_hash = hash32(static_cast<uint32_t>(dots.random_seed) * 7919u +
                                      static_cast<uint32_t>(timing.sample));
    const int64_t count = particle_count(particles, timing, step_hash);
    if (count == 0) {
        return;
    }

    DotSettings working = dots;
    working.spacing = pairing.spacing;
    const StepContext context{from,
                              to,
                              pairing,
                              dots,
                              working,
                              particles,
                              timing,
                              make_mask_sampler(*from.mask),
                              make_mask_sampler(*to.mask),
                              flight(max_f(particles.velocity_falloff, 0.0f), timing.age)};
    // Particles in pieces, each written to its own place, then the shed
    // ones closed up in order.
    out.resize(static_cast<size_t>(count));
    std::vector<uint8_t> shed(static_cast<size_t>(count));
    const int64_t pieces = (count + kParticlesPerPiece - 1) / kParticlesPerPiece;
    parallel(static_cast<int32_t>(pieces), [&](int32_t piece) {
        const int64_t begin = int64_t{piece} * kParticlesPerPiece;
        const int64_t end = std::min(begin + kParticlesPerPiece, count);
        for (int64_t i = begin; i < end; ++i) {
            const uint32_t key = hash32(step_hash + static_cast<uint32_t>(i) * 65537u);
            shed[static_cast<size_t>(i)] =
                shed_particle(context, key, out[static_cast<size_t>(i)]) ? 1 : 0;
        }
    });
    size_t kept = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (shed[i] != 0) {
            out[kept++] = out[i];
        }
    }
    out.resize(kept);
}

} // namespace pointillo
