#include "host/read_settings.h"

#include "frame/param_table.h"
#include "host/host_error.h"

#include <cstdint>
#include <cstring>

namespace pointillo {
namespace {

// One parameter checked out from the host; checked in when the holder goes
// out of scope, ignoring the result while a failure unwinds.
class CheckedOutParam {
  public:
    CheckedOutParam(const PF_InData& in_data, PF_ParamIndex index, A_long time)
        : in_data_(in_data) {
        std::memset(&def_, 0, sizeof(def_));
        throw_if_error(in_data.inter.checkout_param(in_data.effect_ref, index, time,
                                                    in_data.time_step, in_data.time_scale, &def_));
        held_ = true;
    }

    ~CheckedOutParam() {
        if (held_) {
            static_cast<void>(in_data_.inter.checkin_param(in_data_.effect_ref, &def_));
        }
    }

    CheckedOutParam(const CheckedOutParam&) = delete;
    CheckedOutParam& operator=(const CheckedOutParam&) = delete;

    const PF_ParamDef& def() const { return def_; }

    // On the success path a failed check-in is an error like any other;
    // disarm first so the destructor does not check in twice.
    void check_in() {
        held_ = false;
        throw_if_error(in_data_.inter.checkin_param(in_data_.effect_ref, &def_));
    }

  private:
    const PF_InData& in_data_;
    PF_ParamDef def_;
    bool held_ = false;
};

template <typename Read>
auto read_param(const PF_InData& in_data, int32_t id, A_long time, Read read) {
    CheckedOutParam param(in_data, param_index_of(id), time);
    const auto value = read(param.def());
    param.check_in();
    return value;
}

// Readers for each parameter kind, in the forms the rest of the effect uses.
struct Reader {
    const PF_InData& in_data;
    A_long time;

    double slider_double(int32_t id) const {
        return read_param(in_data, id, time, [](const PF_ParamDef& p) { return p.u.fs_d.value; });
    }
    float slider(int32_t id) const { return static_cast<float>(slider_double(id)); }
    float percent(int32_t id) const { return percent_to_fraction(slider(id)); }
    // The sequence doubles keep float precision: rounded to float, widened back.
    double seconds(int32_t id) const { return static_cast<double>(slider(id)); }
    int32_t popup(int32_t id) const {
        return read_param(in_data, id, time, [](const PF_ParamDef& p) { return p.u.pd.value; });
    }
    bool checkbox(int32_t id) const {
        return read_param(in_data, id, time,
                          [](const PF_ParamDef& p) { return p.u.bd.value != 0; });
    }
    Rgb color(int32_t id) const {
        const PF_Pixel pixel =
            read_param(in_data, id, time, [](const PF_ParamDef& p) { return p.u.cd.value; });
        return {static_cast<float>(pixel.red) / 255.0f, static_cast<float>(pixel.green) / 255.0f,
                static_cast<float>(pixel.blue) / 255.0f};
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

double read_slider(const PF_InData& in_data, PF_ParamIndex index, A_long time) {
    CheckedOutParam param(in_data, index, time);
    const double value = param.def().u.fs_d.value;
    param.check_in();
    return value;
}

Settings read_settings(const PF_InData& in_data, A_long time) {
    namespace id = param_id;
    const Reader read{in_data, time};
    Settings settings;
    DotSettings& dots = settings.dots;
    ParticleSettings& particles = settings.particles;
    SequenceSettings& sequence = settings.sequence;

    // The order of checkouts is part of the contract with the host.
    dots.distribution = read.popup(id::kDistribution);
    dots.dot_shape = read.popup(id::kDotShape);
    dots.transition_by = read.popup(id::kTransitionBy);
    dots.order = read.popup(id::kOrder);
    dots.motion_style = read.popup(id::kMotionStyle);
    dots.spacing = read.slider(id::kSpacing);
    dots.dot_size = read.slider(id::kDotSize);
    dots.size_randomness = read.percent(id::kSizeRandomness);
    dots.grid_jitter = read.percent(id::kGridJitter);
    dots.ring_thickness = read.percent(id::kRingThickness);
    dots.edge_softness = read.slider(id::kEdgeSoftness);
    dots.stagger = read.percent(id::kStagger);
    dots.form_solid_source = read.checkbox(id::kFormSolidSource);
    dots.break_apart_settle = read.percent(id::kBreakApartSettle);
    dots.source_overlap = read.slider(id::kSourceOverlap);
    dots.scatter = read.slider(id::kScatter);
    dots.chaos_amount = read.slider(id::kChaosAmount);
    dots.chaos_frequency = read.slider(id::kChaosFrequency);
    dots.swirl_turns = read.slider(id::kSwirlTurns);
    dots.random_seed = read.seed(id::kRandomSeed);
    dots.dot_color = read.color(id::kDotColor);
    dots.match_source_colors = read.checkbox(id::kMatchSourceColors);
    dots.center_out_fan = read.percent(id::kCenterOutFan);
    sequence.automatic = read.checkbox(id::kAutomatic);
    sequence.position = read.seconds(id::kSequencePosition);
    sequence.start = read.seconds(id::kStart);
    sequence.hold = read.seconds(id::kHold);
    sequence.transition = read.seconds(id::kTransition);
    sequence.loop = read.checkbox(id::kLoop);
    particles.enabled = read.checkbox(id::kEnableAdditionalParticles);
    particles.emission_rate = read.slider(id::kEmissionRate);
    particles.inherit_velocity = read.percent(id::kInheritVelocity);
    particles.extra_spread = read.slider(id::kExtraSpread);
    particles.velocity_falloff = read.slider(id::kVelocityFalloff);
    particles.gravity = read.slider(id::kGravity);
    particles.life = read.slider(id::kLife);
    particles.life_randomness = read.percent(id::kLifeRandomness);
    particles.size = read.slider(id::kParticleSize);
    particles.size_randomness = read.percent(id::kParticleSizeRandomness);
    particles.end_scale = read.percent(id::kEndScale);
    particles.opacity = read.percent(id::kParticleOpacity);
    particles.fade_over_life = read.percent(id::kFadeOverLife);
    particles.match_main_color = read.checkbox(id::kMatchMainParticleColor);
    particles.color = read.color(id::kParticleColor);
    return settings;
}

SequenceState sequence_state_at(const Settings& settings, const PF_InData& in_data,
                                int32_t active_count, A_long time) {
    // Only manual mode asks the host, at the evaluated time and in full double
    // precision.
    double position = 0.0;
    if (!settings.sequence.automatic) {
        position = read_slider(in_data, param_index_of(param_id::kSequencePosition), time);
    }
    return sequence_state(settings.sequence, active_count, host_seconds(time, in_data.time_scale),
                          position);
}

} // namespace pointillo
