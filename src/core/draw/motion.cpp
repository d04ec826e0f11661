#include "draw/motion.h"

#include "common/hash.h"
#include "draw/float_math.h"
#include "source/cloud.h"
#include "source/grouping.h"

#include <cstdint>

namespace pointillo {
namespace {

using draw_math::cos_f;
using draw_math::hypot_f;
using draw_math::kPi;
using draw_math::sin_f;
using draw_math::sqrt_f;

// Random channels of a dot: rand01(b + k * 0x9E3779B9), k = 3 .. 6.
constexpr uint32_t kSizeChannel = 3u * kGolden;      // 0xDAA66D2B
constexpr uint32_t kAngleChannel = 4u * kGolden;     // 0x78DDE6E4
constexpr uint32_t kMagnitudeChannel = 5u * kGolden; // 0x1715609D
constexpr uint32_t kPhaseChannel = 6u * kGolden;     // 0xB54CDA56

// Local progress: with stagger, the from dot's key decides when the dot
// leaves and the to dot's key when it arrives.
float local_progress(const Dot& from, const Dot& to, const DotSettings& settings, float a) {
    float p = 0.0f;
    if (settings.motion_style == MotionStyle::kCenterOut ||
        settings.transition_by != TransitionBy::kEntireLayer) {
        const float ks = order_key(from, settings);
        const float kt = order_key(to, settings);
        const float g = clamp_f(settings.stagger, 0.0f, 0.85f) * 0.5f;
        const float span = max_f(g * kt + (1.0f - g) - g * ks, 0.15f);
        p = min_f((a - g * ks) / span, 1.0f);
    } else {
        p = min_f(a, 1.0f);
    }
    return max_f(p, 0.0f);
}

// "Dot Size" is a diameter; the size depends on the pair, not the dots.
float pair_radius(const DotSettings& settings, uint32_t b) {
    const float r =
        (clamp_f(settings.size_randomness, 0.0f, 0.95f) * (2.0f * rand01(b + kSizeChannel) - 1.0f) +
         1.0f) *
        settings.dot_size * 0.5f;
    return max_f(r, 0.25f);
}

// A dot of a solid phase at `at`: `u` of the way from the solid radius `v`
// to the dot radius `r`.
DotState solid_state(const Dot& at, SolidPhase phase, float v, float r, float u,
                     const DotSettings& settings) {
    DotState state;
    state.x = at.x;
    state.y = at.y;
    state.radius = v + (r - v) * u;
    state.solid_phase = phase;
    state.blend = phase == SolidPhase::kFromSolid ? 0.0f : 1.0f;
    state.inner_radius =
        settings.dot_shape == DotShape::kRing ? u * r * (1.0f - settings.ring_thickness) : 0.0f;
    return state;
}

struct Offset {
    float x = 0.0f;
    float y = 0.0f;
};

// How far a travelling dot has come: `w` of its travel, eased into `blend`;
// `bump` lifts it off the straight path in the middle.
struct Travel {
    float w = 0.0f;
    float blend = 0.0f;
    float bump = 0.0f;
};

// How far the motion style carries a dot off its straight path; Pop also
// pulses the radius `r`.
Offset travel_offset(const Dot& from, const Dot& to, const DotSettings& settings,
                     const Travel& travel, uint32_t b, float& r) {
    const float w = travel.w;
    const float blend = travel.blend;
    const float alpha = 2.0f * kPi * rand01(b + kAngleChannel);
    const float rho = rand01(b + kMagnitudeChannel);
    const float m = sqrt_f(rho);
    const float phi = 2.0f * kPi * rand01(b + kPhaseChannel);

    const MotionStyle style = settings.motion_style;
    const float scatter = settings.scatter;
    const float freq = settings.chaos_frequency;
    if (style == MotionStyle::kCenterOut) {
        // Pushed outward along the blended offset from the box centre.
        float ux = from.dx + blend * (to.dx - from.dx);
        float uy = from.dy + blend * (to.dy - from.dy);
        float length = hypot_f(ux, uy);
        if (length < 0.01f) {
            // At the centre there is no outward direction: pick one.
            ux = cos_f(alpha);
            uy = sin_f(alpha);
            length = 1.0f;
        }
        const float push = (0.65f + 0.35f * rho) * scatter;
        const float psi = 2.0f * kPi * w * freq + phi;
        const float noise = 0.15f * settings.chaos_amount;
        return {noise * sin_f(psi) + push * ux / length,
                noise * cos_f(psi) + push * settings.center_out_fan * uy / length};
    }
    const float chaos = style == MotionStyle::kDrift ? 0.0f : settings.chaos_amount;
    const float swirl = style == MotionStyle::kSwirl ? 2.0f * kPi * settings.swirl_turns * w : 0.0f;
    const float theta = swirl + alpha;
    // The second noise frequency is 0.35 higher so the path never closes.
    Offset offset{m * scatter * cos_f(theta) + chaos * sin_f(2.0f * kPi * w * freq + phi),
                  m * scatter * sin_f(theta) +
                      chaos * cos_f(2.0f * kPi * w * (freq + 0.35f) + phi)};
    if (style == MotionStyle::kPop) {
        // Negative y is up: the dots jump, and pulse in size.
        offset.x = 0.15f * offset.x;
        offset.y = offset.y - 0.6f * scatter;
        r = r * (1.0f + 0.35f * sin_f(3.0f * kPi * w) * travel.bump);
    }
    return offset;
}

} // namespace

DotState evaluate_dot(const Dot& from, const Dot& to, const DotSettings& settings, float progress,
                      uint32_t pair) {
    // uint32 throughout: seed x 65537 overflows an int for large seeds.
    const uint32_t b = hash32(pair + static_cast<uint32_t>(settings.random_seed) * 65537u);
    const float p = local_progress(from, to, settings, progress);
    float r = pair_radius(settings, b);

    const bool solid = settings.form_solid_source;
    const float o = solid ? clamp_f(settings.break_apart_settle, 0.03f, 0.4f) : 0.0f;
    // Dots of this radius overlap their grid neighbours into a solid shape.
    const float v = max_f(max_f(settings.source_overlap, 1.45f) * settings.spacing, r);
    if (solid && p < o) {
        // Break apart: the solid radius at p = 0 shrinks to the dot radius.
        return solid_state(from, SolidPhase::kFromSolid, v, r, ease(clamp01(p / o)), settings);
    }
    if (solid && p > 1.0f - o) {
        // Settle: the dot radius grows back to the solid radius at p = 1.
        return solid_state(to, SolidPhase::kToSolid, v, r, ease(clamp01((1.0f - p) / o)), settings);
    }

    // Travel.
    const float w = clamp01((p - o) / max_f(1.0f - 2.0f * o, 0.01f));
    const float sin_w = sin_f(kPi * w);
    const Travel travel{w, ease(w), sin_w * sin_w};
    const Offset offset = travel_offset(from, to, settings, travel, b, r);

    DotState state;
    state.x = from.x + travel.blend * (to.x - from.x) + travel.bump * offset.x;
    state.y = from.y + travel.blend * (to.y - from.y) + travel.bump * offset.y;
    state.radius = r;
    state.solid_phase = SolidPhase::kTravelling;
    state.blend = travel.blend;
    state.inner_radius = settings.dot_shape == DotShape::kRing
                             ? r * (1.0f - clamp_f(settings.ring_thickness, 0.02f, 1.0f))
                             : 0.0f;
    return state;
}

} // namespace pointillo
