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

} // namespace

DotState evaluate_dot(const Dot& from, const Dot& to, const DotSettings& settings, float progress,
                      uint32_t pair) {
    // uint32 throughout: seed x 65537 overflows an int for large seeds.
    const uint32_t b = hash32(pair + static_cast<uint32_t>(settings.random_seed) * 65537u);
    const float a = progress;

    // Local progress: with stagger, the from dot's key decides when the dot
    // leaves and the to dot's key when it arrives.
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
    p = max_f(p, 0.0f);

    // "Dot Size" is a diameter; the size depends on the pair, not the dots.
    float r =
        (clamp_f(settings.size_randomness, 0.0f, 0.95f) * (2.0f * rand01(b + kSizeChannel) - 1.0f) +
         1.0f) *
        settings.dot_size * 0.5f;
    r = max_f(r, 0.25f);

    const bool solid = settings.form_solid_source;
    const float o = solid ? clamp_f(settings.break_apart_settle, 0.03f, 0.4f) : 0.0f;
    // Dots of this radius overlap their grid neighbours into a solid shape.
    const float v = max_f(max_f(settings.source_overlap, 1.45f) * settings.spacing, r);
    const bool ring = settings.dot_shape == DotShape::kRing;

    DotState state;
    if (solid && p < o) {
        // Break apart: the solid radius at p = 0 shrinks to the dot radius.
        const float u = ease(clamp01(p / o));
        state.x = from.x;
        state.y = from.y;
        state.radius = v + (r - v) * u;
        state.solid_phase = SolidPhase::kFromSolid;
        state.blend = 0.0f;
        state.inner_radius = ring ? u * r * (1.0f - settings.ring_thickness) : 0.0f;
        return state;
    }
    if (solid && p > 1.0f - o) {
        // Settle: the dot radius grows back to the solid radius at p = 1.
        const float u = ease(clamp01((1.0f - p) / o));
        state.x = to.x;
        state.y = to.y;
        state.radius = v + (r - v) * u;
        state.solid_phase = SolidPhase::kToSolid;
        state.blend = 1.0f;
        state.inner_radius = ring ? u * r * (1.0f - settings.ring_thickness) : 0.0f;
        return state;
    }

    // Travel.
    const float w = clamp01((p - o) / max_f(1.0f - 2.0f * o, 0.01f));
    const float blend = ease(w);
    const float sin_w = sin_f(kPi * w);
    const float bump = sin_w * sin_w;

    const float alpha = 2.0f * kPi * rand01(b + kAngleChannel);
    const float rho = rand01(b + kMagnitudeChannel);
    const float m = sqrt_f(rho);
    const float phi = 2.0f * kPi * rand01(b + kPhaseChannel);

    const MotionStyle style = settings.motion_style;
    const float scatter = settings.scatter;
    const float freq = settings.chaos_frequency;
    float ox = 0.0f;
    float oy = 0.0f;
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
        ox = noise * sin_f(psi) + push * ux / length;
        oy = noise * cos_f(psi) + push * settings.center_out_fan * uy / length;
    } else {
        const float chaos = style == MotionStyle::kDrift ? 0.0f : settings.chaos_amount;
        const float swirl =
            style == MotionStyle::kSwirl ? 2.0f * kPi * settings.swirl_turns * w : 0.0f;
        const float theta = swirl + alpha;
        // The second noise frequency is 0.35 higher so the path never closes.
        ox = m * scatter * cos_f(theta) + chaos * sin_f(2.0f * kPi * w * freq + phi);
        oy = m * scatter * sin_f(theta) + chaos * cos_f(2.0f * kPi * w * (freq + 0.35f) + phi);
        if (style == MotionStyle::kPop) {
            // Negative y is up: the dots jump, and pulse in size.
            ox = 0.15f * ox;
            oy = oy - 0.6f * scatter;
            r = r * (1.0f + 0.35f * sin_f(3.0f * kPi * w) * bump);
        }
    }

    state.x = from.x + blend * (to.x - from.x) + bump * ox;
    state.y = from.y + blend * (to.y - from.y) + bump * oy;
    state.radius = r;
    state.solid_phase = SolidPhase::kTravelling;
    state.blend = blend;
    state.inner_radius = ring ? r * (1.0f - clamp_f(settings.ring_thickness, 0.02f, 1.0f)) : 0.0f;
    return state;
}

} // namespace pointillo
