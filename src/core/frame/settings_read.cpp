#include "frame/settings_read.h"

#include "frame/param_table.h"

#include <cstdint>

namespace pointillo {
namespace {

// The conversions of each parameter kind into the forms the rest of the
// effect uses.
struct Converter {
    ParamReader read;
    int32_t time;

    double number(int32_t id) const { return read(param_index_of(id), time).number; }
    float slider(int32_t id) const { return static_cast<float>(number(id)); }
    float percent(int32_t id) const { return percent_to_fraction(slider(id)); }
    // The sequence doubles keep float precision: rounded to float, widened back.
    double seconds(int32_t id) const { return static_cast<double>(slider(id)); }
    // Popups and checkboxes arrive as whole numbers; anything else (only from a
    // broken host) saturates so the conversion stays defined.
    int32_t whole(int32_t id) const {
        const double v = number(id);
        if (!(v == v)) {
            return 0;
        }
        if (v >= 2147483647.0) {
            return INT32_MAX;
        }
        if (v <= -2147483648.0) {
            return INT32_MIN;
        }
        return static_cast<int32_t>(v);
    }
    bool checkbox(int32_t id) const { return whole(id) != 0; }
    Rgb color(int32_t id) const {
        const ParamReading value = read(param_index_of(id), time);
        return {static_cast<float>(value.red) / 255.0f, static_cast<float>(value.green) / 255.0f,
                static_cast<float>(value.blue) / 255.0f};
    }
    // "Random Seed" is a float slider: rounded to float, then truncated. Values
    // beyond the int range (impossible within the slider's range) saturate so
    // the conversion stays defined; NaN becomes 0.
    int32_t seed(int32_t id) const {
        const float value = slider(id);
        if (!(value == value)) {
            return 0;
        }
        if (value >= 2147483648.0f) {
            return INT32_MAX;
        }
        if (value <= -2147483648.0f) {
            return INT32_MIN;
        }
        return static_cast<int32_t>(value);
    }
};

} // namespace

Settings read_settings(ParamReader read, int32_t time) {
    namespace id = param_id;
    const Converter in{read, time};
    Settings settings;
    DotSettings& dots = settings.dots;
    ParticleSettings& particles = settings.particles;
    SequenceSettings& sequence = settings.sequence;

    // The order of the reads is part of the contract with the host.
    dots.distribution = distribution_from_popup(in.whole(id::kDistribution));
    dots.dot_shape = dot_shape_from_popup(in.whole(id::kDotShape));
    dots.transition_by = transition_by_from_popup(in.whole(id::kTransitionBy));
    dots.order = order_from_popup(in.whole(id::kOrder));
    dots.motion_style = motion_style_from_popup(in.whole(id::kMotionStyle));
    dots.spacing = in.slider(id::kSpacing);
    dots.dot_size = in.slider(id::kDotSize);
    dots.size_randomness = in.percent(id::kSizeRandomness);
    dots.grid_jitter = in.percent(id::kGridJitter);
    dots.ring_thickness = in.percent(id::kRingThickness);
    dots.edge_softness = in.slider(id::kEdgeSoftness);
    dots.stagger = in.percent(id::kStagger);
    dots.form_solid_source = in.checkbox(id::kFormSolidSource);
    dots.break_apart_settle = in.percent(id::kBreakApartSettle);
    dots.source_overlap = in.slider(id::kSourceOverlap);
    dots.scatter = in.slider(id::kScatter);
    dots.chaos_amount = in.slider(id::kChaosAmount);
    dots.chaos_frequency = in.slider(id::kChaosFrequency);
    dots.swirl_turns = in.slider(id::kSwirlTurns);
    dots.random_seed = in.seed(id::kRandomSeed);
    dots.dot_color = in.color(id::kDotColor);
    dots.match_source_colors = in.checkbox(id::kMatchSourceColors);
    dots.center_out_fan = in.percent(id::kCenterOutFan);
    sequence.automatic = in.checkbox(id::kAutomatic);
    sequence.position = in.seconds(id::kSequencePosition);
    sequence.start = in.seconds(id::kStart);
    sequence.hold = in.seconds(id::kHold);
    sequence.transition = in.seconds(id::kTransition);
    sequence.loop = in.checkbox(id::kLoop);
    particles.enabled = in.checkbox(id::kEnableAdditionalParticles);
    particles.emission_rate = in.slider(id::kEmissionRate);
    particles.inherit_velocity = in.percent(id::kInheritVelocity);
    particles.extra_spread = in.slider(id::kExtraSpread);
    particles.velocity_falloff = in.slider(id::kVelocityFalloff);
    particles.gravity = in.slider(id::kGravity);
    particles.life = in.slider(id::kLife);
    particles.life_randomness = in.percent(id::kLifeRandomness);
    particles.size = in.slider(id::kParticleSize);
    particles.size_randomness = in.percent(id::kParticleSizeRandomness);
    particles.end_scale = in.percent(id::kEndScale);
    particles.opacity = in.percent(id::kParticleOpacity);
    particles.fade_over_life = in.percent(id::kFadeOverLife);
    particles.match_main_color = in.checkbox(id::kMatchMainParticleColor);
    particles.color = in.color(id::kParticleColor);
    return settings;
}

SequenceState sequence_state_at(const Settings& settings, ParamReader read, int32_t active_count,
                                int32_t time, uint32_t time_scale) {
    // Only manual mode asks the host, at the evaluated time and in full double
    // precision.
    double position = 0.0;
    if (!settings.sequence.automatic) {
        position = read(param_index_of(param_id::kSequencePosition), time).number;
    }
    return sequence_state(settings.sequence, active_count, host_seconds(time, time_scale),
                          position);
}

} // namespace pointillo
