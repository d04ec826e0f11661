#include "plugin_params.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pointillo::frei0r {
namespace {

constexpr std::size_t kEffectParamCount = [] {
    std::size_t n = 0;
    for (const ParamSpec& spec : kParamTable) {
        n += is_plugin_param(spec) ? 1 : 0;
    }
    return n;
}();

// The first two, the effect's, and the transition's "Automatic", "Position"
// and "Reverse" at the end, so that both plug-ins number the effect's
// parameters alike.
constexpr std::size_t kFilterParamCount = 2 + kEffectParamCount;
constexpr std::size_t kTransitionParamCount = kFilterParamCount + 3;

// What the effect's list does not say about a parameter.
struct ParamNotes {
    int32_t id;
    const char* name; // the effect's label without units and punctuation
    const char* help;
    const char* unit; // of the value, "" for plain numbers
    int32_t decimals;
};

constexpr ParamNotes kNotes[] = {
    {param_id::kDistribution, "Distribution", "How the dots are laid out", "", 0},
    {param_id::kSpacing, "Spacing", "Distance between neighbouring dots", "px", 1},
    {param_id::kDotSize, "Dot Size", "Diameter of a dot", "px", 1},
    {param_id::kSizeRandomness, "Size Randomness", "How much the dots' sizes vary", "%", 0},
    {param_id::kGridJitter, "Grid Jitter", "How far a jittered grid moves dots off the grid", "%",
     0},
    {param_id::kDotShape, "Dot Shape", "The shape every dot is drawn with", "", 0},
    {param_id::kRingThickness, "Ring Thickness", "Width of a ring's band, of its radius", "%", 0},
    {param_id::kEdgeSoftness, "Edge Softness", "Width of the soft rim of a dot", "px", 2},
    {param_id::kMatchSourceColors, "Match Source Colors",
     "Dots take the picture's colours; off, they take Dot Color", "", 0},
    {param_id::kDotColor, "Dot Color", "Colour of the dots while Match Source Colors is off", "",
     0},
    {param_id::kTransitionBy, "Transition By", "What moves as one: the layer, letters, words, dots",
     "", 0},
    {param_id::kOrder, "Order", "Which dots leave first", "", 0},
    {param_id::kStagger, "Stagger", "How far apart in time the dots leave, of the morph", "%", 0},
    {param_id::kFormSolidSource, "Form Solid Source",
     "The picture itself, not dots, where the morph starts and ends", "", 0},
    {param_id::kBreakApartSettle, "Break Apart Settle",
     "Share of the morph spent breaking apart and settling", "%", 0},
    {param_id::kSourceOverlap, "Source Overlap",
     "Size of the dots that close into the solid picture, in spacings", "", 2},
    {param_id::kMotionStyle, "Motion Style", "The path the dots fly along", "", 0},
    {param_id::kScatter, "Scatter", "How far the dots fly out from their path", "px", 0},
    {param_id::kChaosAmount, "Chaos Amount", "Size of the random wobble on the path", "px", 0},
    {param_id::kChaosFrequency, "Chaos Frequency", "How often the wobble turns during the flight",
     "", 2},
    {param_id::kSwirlTurns, "Swirl Turns", "Turns a Swirl makes during the flight", "turns", 2},
    {param_id::kRandomSeed, "Random Seed", "Another number, another random pattern", "", 0},
    {param_id::kCenterOutFan, "Center Out Fan", "Vertical share of a Center Out push", "%", 0},
    {param_id::kEnableAdditionalParticles, "Enable Additional Particles",
     "The flying dots shed small particles (the transition only)", "", 0},
    {param_id::kEmissionRate, "Emission Rate", "Particles born each second", "per second", 0},
    {param_id::kInheritVelocity, "Inherit Velocity", "Share of a dot's speed a particle keeps", "%",
     0},
    {param_id::kExtraSpread, "Extra Spread", "Random speed added to each particle", "px/sec", 0},
    {param_id::kVelocityFalloff, "Velocity Falloff", "How fast particles slow down", "drag", 2},
    {param_id::kGravity, "Gravity", "Downward pull on the particles, negative pulls up", "px/sec2",
     0},
    {param_id::kLife, "Life", "How long a particle lives", "seconds", 2},
    {param_id::kLifeRandomness, "Life Randomness", "How much the lives vary", "%", 0},
    {param_id::kParticleSize, "Particle Size", "Diameter of a particle", "px", 1},
    {param_id::kParticleSizeRandomness, "Particle Size Randomness",
     "How much the particles' sizes vary", "%", 0},
    {param_id::kEndScale, "End Scale", "A particle's size at the end of its life, of its start",
     "%", 0},
    {param_id::kParticleOpacity, "Particle Opacity", "Opacity of a new particle", "%", 0},
    {param_id::kFadeOverLife, "Fade Over Life", "How much a particle fades as it ages", "%", 0},
    {param_id::kMatchMainParticleColor, "Match Main Particle Color",
     "Particles take their dot's colour; off, they take Particle Color", "", 0},
    {param_id::kParticleColor, "Particle Color",
     "Colour of the particles while Match Main Particle Color is off", "", 0},
};

const ParamNotes& notes_of(const ParamSpec& spec) {
    for (const ParamNotes& n : kNotes) {
        if (n.id == spec.id) {
            return n;
        }
    }
    static constexpr ParamNotes kNone{0, "", "", "", 0};
    return kNone;
}

// Ranges and defaults are the effect's 32-bit floats: the shortest text that
// reads back as the same float ("0.01", not "0.009999999776482582").
std::string float_text(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(value),
                                   std::chars_format::general)
                         .ptr;
    return std::string(text, end);
}

std::string short_text(double value) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 4).ptr;
    return std::string(text, end);
}

// The n items of a popup, "Grid|Jittered Grid|Randomized".
std::vector<std::string_view> items_of(const ParamSpec& spec) {
    std::vector<std::string_view> items;
    std::string_view rest = spec.text;
    for (int32_t i = 0; i < spec.num_choices; ++i) {
        const std::size_t bar = rest.find('|');
        items.push_back(rest.substr(0, bar));
        rest = bar == std::string_view::npos ? std::string_view{} : rest.substr(bar + 1);
    }
    return items;
}

// "x × 200, at least 2" or "-10 + x × 20": what the double x stands for.
std::string linear_text(const PluginParam& p) {
    std::string text = p.origin != 0.0 ? float_text(p.origin) + " + " : "";
    text += "x × " + float_text(p.max - p.origin);
    if (p.min > p.origin) {
        text += ", at least " + float_text(p.min);
    }
    return text;
}

std::string explanation_of(const PluginParam& p) {
    std::string text = p.help;
    switch (p.mapping) {
    case ValueMapping::kItems: {
        const std::vector<std::string_view> items = items_of(*p.effect);
        text += ": ";
        for (std::size_t k = 0; k < items.size(); ++k) {
            text += (k > 0 ? ", " : "") + short_text(plugin_value(p, static_cast<double>(k + 1))) +
                    " " + std::string(items[k]);
        }
        text += "; default " + std::string(items[static_cast<std::size_t>(p.default_value) - 1]);
        break;
    }
    case ValueMapping::kLinear: {
        const std::string unit = *p.unit != '\0' ? std::string(" ") + p.unit : "";
        text += "; " + float_text(p.min) + " to " + float_text(p.max) + unit + ", " +
                linear_text(p) + "; default " + float_text(p.default_value) + unit + " (" +
                short_text(plugin_value(p, p.default_value)) + ")";
        break;
    }
    case ValueMapping::kNone:
        if (p.type == PluginParamType::kBool) {
            text += p.default_value != 0.0 ? "; default on" : "; default off";
        } else {
            text += "; default white";
        }
        break;
    }
    return text;
}

// A float bound as the decimal it was written as (0.05, not 0.0500000007):
// the mapping's ends are round numbers that an editor's description can
// state exactly.
double decimal_of(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    double decimal = 0.0;
    std::from_chars(text, end, decimal);
    return decimal;
}

PluginParam effect_param(const ParamSpec& spec) {
    const ParamNotes& notes = notes_of(spec);
    PluginParam p;
    p.name = notes.name;
    p.label = spec.name;
    p.help = notes.help;
    p.unit = notes.unit;
    p.decimals = notes.decimals;
    p.effect = &spec;
    switch (spec.type) {
    case ParamType::kCheckbox:
        p.type = PluginParamType::kBool;
        break;
    case ParamType::kColor:
        p.type = PluginParamType::kColor;
        break;
    case ParamType::kPopup:
        p.mapping = ValueMapping::kItems;
        p.min = p.slider_min = p.origin = 1.0;
        p.max = p.slider_max = static_cast<double>(spec.num_choices);
        break;
    default:
        p.mapping = ValueMapping::kLinear;
        p.min = decimal_of(spec.valid_min);
        p.max = decimal_of(spec.valid_max);
        p.origin = p.min < 0.0 ? p.min : 0.0;
        p.slider_min = decimal_of(spec.slider_min);
        p.slider_max = decimal_of(spec.slider_max);
        break;
    }
    p.default_value = static_cast<double>(spec.default_value);
    return p;
}

PluginParam unit_interval(const char* name, PluginRole role, const char* help) {
    return {.name = name,
            .label = name,
            .role = role,
            .mapping = ValueMapping::kLinear,
            .help = help,
            .min = 0.0,
            .max = 1.0,
            .slider_min = 0.0,
            .slider_max = 1.0,
            .decimals = 3};
}

PluginParam checkbox(const char* name, PluginRole role, const char* help, bool on) {
    return {.name = name,
            .label = name,
            .type = PluginParamType::kBool,
            .role = role,
            .help = help,
            .default_value = on ? 1.0 : 0.0};
}

std::vector<PluginParam> make_params(PluginKind kind) {
    const bool filter = kind == PluginKind::kFilter;
    std::vector<PluginParam> list;
    if (filter) {
        list.push_back(unit_interval("Progress", PluginRole::kProgress,
                                     "0 and 1 the picture; between them it breaks apart and "
                                     "re-forms"));
    } else {
        const ParamSpec& transition = *param_by_id(param_id::kTransition);
        list.push_back({.name = "Duration",
                        .label = "Duration (seconds)",
                        .role = PluginRole::kDuration,
                        .mapping = ValueMapping::kLinear,
                        .help = "Length of the morph from the transition's start, while "
                                "Automatic is on",
                        .unit = "seconds",
                        .min = decimal_of(transition.valid_min),
                        .max = decimal_of(transition.valid_max),
                        .slider_min = decimal_of(transition.slider_min),
                        .slider_max = decimal_of(transition.slider_max),
                        .default_value = 1.2,
                        .decimals = 2});
    }
    list.push_back(checkbox("Time in Milliseconds", PluginRole::kMilliseconds,
                            "The host's time is in milliseconds (ffmpeg), not seconds (MLT)",
                            false));
    for (const ParamSpec& spec : kParamTable) {
        if (is_plugin_param(spec)) {
            list.push_back(effect_param(spec));
        }
    }
    if (!filter) {
        list.push_back(checkbox("Automatic", PluginRole::kAutomatic,
                                "The morph runs Duration from the transition's start; off, "
                                "Position drives it",
                                true));
        list.push_back(unit_interval("Position", PluginRole::kPosition,
                                     "Where the morph stands while Automatic is off: 0 the first "
                                     "input, 1 the second"));
        list.push_back(checkbox("Reverse", PluginRole::kReverse,
                                "The second input turns into the first", false));
    }
    return list;
}

// The lists with their explanations, built once.
struct ParamList {
    std::vector<PluginParam> params;
    std::vector<std::string> explanations;

    explicit ParamList(PluginKind kind) : params(make_params(kind)) {
        explanations.reserve(params.size());
        for (PluginParam& p : params) {
            explanations.push_back(explanation_of(p));
            p.explanation = explanations.back().c_str();
        }
    }
};

const std::vector<PluginParam>& params_of(PluginKind kind) {
    static const ParamList filter(PluginKind::kFilter);
    static const ParamList transition(PluginKind::kTransition);
    return kind == PluginKind::kFilter ? filter.params : transition.params;
}

const PluginParam* param_of(const PluginValues& values, int32_t index) {
    const std::vector<PluginParam>& list = params_of(values.kind);
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
        return nullptr;
    }
    return &list[static_cast<std::size_t>(index)];
}

uint8_t channel_8(float value) {
    const float clamped = !(value > 0.0f) ? 0.0f : (value < 1.0f ? value : 1.0f);
    return static_cast<uint8_t>(std::lround(clamped * 255.0f));
}

double held(double x, double low, double high) {
    return !(x > low) ? low : (x < high ? x : high);
}

// The value a parameter sets, in `values` or const `values`.
template <typename Values> auto& number_of(Values& values, const PluginParam& p) {
    switch (p.role) {
    case PluginRole::kProgress:
    case PluginRole::kPosition:
        return values.progress;
    case PluginRole::kDuration:
        return values.duration;
    default:
        return values.effect[static_cast<std::size_t>(p.effect->index)].number;
    }
}

template <typename Values> auto& flag_of(Values& values, const PluginParam& p) {
    switch (p.role) {
    case PluginRole::kAutomatic:
        return values.automatic;
    case PluginRole::kReverse:
        return values.reverse;
    default:
        return values.milliseconds;
    }
}

} // namespace

static_assert(kFilterParamCount == 40 && kTransitionParamCount == 43,
              "the README's parameter table numbers these");

std::span<const PluginParam> plugin_params(PluginKind kind) {
    return params_of(kind);
}

double effect_value(const PluginParam& p, double x) {
    const double t = held(x, 0.0, 1.0);
    switch (p.mapping) {
    case ValueMapping::kItems:
        return p.min + std::round(t * (p.max - p.min));
    case ValueMapping::kLinear: {
        double v = p.origin + t * (p.max - p.origin);
        // Rounded to 15 significant digits of the range's largest end: a
        // value written in the effect's units with no more digits (every
        // editor's panel value) maps to a double that maps back onto it
        // exactly, whatever the rounding of the quotient, the product and the
        // sum on the way, which stays below a hundredth of that last digit.
        const double scale = std::max(std::fabs(p.min), std::fabs(p.max));
        const int places = std::clamp(14 - static_cast<int>(std::floor(std::log10(scale))), 0, 17);
        char text[48];
        const auto end =
            std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, places).ptr;
        std::from_chars(text, end, v);
        return held(v, p.min, p.max);
    }
    case ValueMapping::kNone:
        break;
    }
    return t >= 0.5 ? 1.0 : 0.0;
}

double plugin_value(const PluginParam& p, double value) {
    if (p.mapping == ValueMapping::kNone) {
        return value >= 0.5 ? 1.0 : 0.0;
    }
    const double v = held(value, p.min, p.max);
    const double x = (v - p.origin) / (p.max - p.origin);
    if (p.mapping == ValueMapping::kItems) {
        return x;
    }
    // The quotient may miss by a rounding or two: the neighbouring doubles
    // that map back onto v exactly are preferred.
    if (effect_value(p, x) == v) {
        return x;
    }
    double down = x;
    double up = x;
    for (int step = 0; step < 4; ++step) {
        down = std::nextafter(down, 0.0);
        up = std::nextafter(up, 1.0);
        if (effect_value(p, down) == v) {
            return down;
        }
        if (effect_value(p, up) == v) {
            return up;
        }
    }
    return x;
}

PluginValues default_values(PluginKind kind) {
    PluginValues values;
    values.kind = kind;
    for (const ParamSpec& spec : kParamTable) {
        ParamReading& r = values.effect[static_cast<std::size_t>(spec.index)];
        if (spec.type == ParamType::kColor) {
            r.red = r.green = r.blue = 255; // the effect's colours start white
        } else {
            r.number = static_cast<double>(spec.default_value);
        }
    }
    return values;
}

void set_bool(PluginValues& values, int32_t index, double value) {
    const PluginParam* p = param_of(values, index);
    if (p == nullptr || p->type != PluginParamType::kBool || std::isnan(value)) {
        return;
    }
    const bool on = value >= 0.5;
    if (p->role == PluginRole::kEffect) {
        values.effect[static_cast<std::size_t>(p->effect->index)].number = on ? 1.0 : 0.0;
    } else {
        flag_of(values, *p) = on;
    }
}

void set_double(PluginValues& values, int32_t index, double value) {
    const PluginParam* p = param_of(values, index);
    if (p == nullptr || p->type != PluginParamType::kDouble || std::isnan(value)) {
        return;
    }
    double& number = number_of(values, *p);
    // A host that reads a value and hands it back (GStreamer does, at
    // construction) leaves it as it was, to the last bit.
    if (value == plugin_value(*p, number)) {
        return;
    }
    number = effect_value(*p, value);
}

void set_color(PluginValues& values, int32_t index, PluginColor value) {
    const PluginParam* p = param_of(values, index);
    if (p == nullptr || p->type != PluginParamType::kColor) {
        return;
    }
    ParamReading& r = values.effect[static_cast<std::size_t>(p->effect->index)];
    r.red = channel_8(value.red);
    r.green = channel_8(value.green);
    r.blue = channel_8(value.blue);
}

double get_number(const PluginValues& values, int32_t index) {
    const PluginParam* p = param_of(values, index);
    if (p == nullptr || p->type == PluginParamType::kColor) {
        return 0.0;
    }
    if (p->type == PluginParamType::kBool) {
        if (p->role == PluginRole::kEffect) {
            return values.effect[static_cast<std::size_t>(p->effect->index)].number != 0.0 ? 1.0
                                                                                           : 0.0;
        }
        return flag_of(values, *p) ? 1.0 : 0.0;
    }
    return plugin_value(*p, number_of(values, *p));
}

PluginColor get_color(const PluginValues& values, int32_t index) {
    const PluginParam* p = param_of(values, index);
    if (p == nullptr || p->type != PluginParamType::kColor) {
        return {};
    }
    const ParamReading& r = values.effect[static_cast<std::size_t>(p->effect->index)];
    return {static_cast<float>(r.red) / 255.0f, static_cast<float>(r.green) / 255.0f,
            static_cast<float>(r.blue) / 255.0f};
}

ParamReading effect_reading(const PluginValues& values, int32_t index, double seconds, double now) {
    const ParamSpec* spec = param_at(index);
    if (spec == nullptr) {
        return {};
    }
    const bool automatic = values.kind == PluginKind::kTransition && values.automatic;
    ParamReading r = values.effect[static_cast<std::size_t>(index)];
    switch (spec->id) {
    case param_id::kAutomatic:
        r.number = automatic ? 1.0 : 0.0;
        break;
    case param_id::kSequencePosition:
        if (automatic) {
            r.number = 1.0;
        } else if (values.kind == PluginKind::kFilter || seconds == now) {
            r.number = 1.0 + values.progress;
        } else {
            // As a host interpolates the key from (0, 1) to (length, 2),
            // held to the keys outside them.
            // At 0 there has been no motion yet; a position reached at
            // time 0 has been there since.
            double q = 0.0;
            if (values.progress > 0.0) {
                const double length = now / values.progress;
                q = length > 0.0 ? (seconds - 0.0) / (length - 0.0) : (seconds > 0.0 ? 1.0 : 0.0);
            }
            r.number = 1.0 + 1.0 * (!(q > 0.0) ? 0.0 : (q < 1.0 ? q : 1.0));
        }
        break;
    case param_id::kStart:
    case param_id::kHold:
    case param_id::kLoop:
        r.number = 0.0;
        break;
    case param_id::kTransition:
        if (values.kind == PluginKind::kTransition) {
            r.number = values.duration;
        }
        break;
    default:
        break;
    }
    return r;
}

double plugin_seconds(const PluginValues& values, double host_time) {
    return values.milliseconds ? host_time / 1000.0 : host_time;
}

} // namespace pointillo::frei0r
