#pragma once

// The parameters of the two frei0r plug-ins and the values an instance holds.
// A frei0r host knows parameters only by their place in one list and passes
// doubles in [0, 1], bools and colours, so the list is fixed here once: the
// plug-in's own first parameter, the time unit, the effect's parameters a
// user sets, in the effect's own order, then the transition's timing. Each
// double stands for a value in the effect's own units (pixels, seconds,
// percent) by a fixed mapping, and an instance holds the effect's values.

#include "frame/param_table.h"
#include "frame/settings.h"
#include "frame/settings_read.h"

#include <array>
#include <cstdint>
#include <span>

namespace pointillo::frei0r {

enum class PluginKind {
    kFilter,     // "pointillo": the input drawn as dots, "Progress" breaks it apart
    kTransition, // "pointillo_transition": input 1 morphs into input 2
};

// How a host hands a parameter over.
enum class PluginParamType { kBool, kDouble, kColor };

// What a parameter stands for.
enum class PluginRole {
    kEffect,       // one of the effect's parameters
    kProgress,     // the filter's "Progress"
    kDuration,     // the transition's "Duration"
    kMilliseconds, // "Time in Milliseconds"
    kAutomatic,    // the transition's "Automatic"
    kPosition,     // the transition's "Position"
    kReverse,      // the transition's "Reverse"
};

// How a double x in [0, 1] stands for the effect's value.
enum class ValueMapping {
    kNone,   // bools and colours
    kLinear, // origin + x (max - origin), held to min..max
    kItems,  // item k of n at (k - 1) / (n - 1), the nearest item winning
};

struct PluginParam {
    const char* name = "";  // letters, digits and spaces, for hosts that make names of it
    const char* label = ""; // as the effect's controls show it, units included
    PluginParamType type = PluginParamType::kDouble;
    PluginRole role = PluginRole::kEffect;
    ValueMapping mapping = ValueMapping::kNone;
    const char* help = "";        // one line
    const char* explanation = ""; // the help, then range, mapping and default
    const char* unit = "";        // "px", "%", "seconds", ... or "" for plain numbers
    const ParamSpec* effect = nullptr;
    // In the effect's units; popups by item number from 1.
    double min = 0.0; // the range values are held to
    double max = 0.0;
    // What the double 0 stands for (1 stands for max): 0 for ranges that
    // start at 0 or above, so that an editor shows x times (max - origin)
    // with no offset (Kdenlive 22.12 applies none), else min.
    double origin = 0.0;
    double slider_min = 0.0; // the useful range, where a slider is fine enough
    double slider_max = 0.0;
    double default_value = 0.0;
    int32_t decimals = 0; // of a slider in an editor's panel
};

// Every plug-in parameter of `kind`, in the host's order.
std::span<const PluginParam> plugin_params(PluginKind kind);

// Effect parameters a frei0r host can set: the ones a user sets in the
// effect's controls, less the sequence group, whose timing the plug-ins fix.
constexpr bool is_plugin_param(const ParamSpec& spec) {
    const bool settable = spec.type == ParamType::kSlider || spec.type == ParamType::kPopup ||
                          spec.type == ParamType::kCheckbox || spec.type == ParamType::kColor;
    const bool sequence = spec.id >= param_id::kAutomatic && spec.id <= param_id::kLoop;
    return settable && !spec.invisible && !sequence;
}

// The effect's value in its own units for the host's double `x` (held to
// [0, 1]; NaN gives min), and the double a host passes for the effect's
// value `value` (held to the range). For every value of the range that some
// double reaches, effect_value(p, plugin_value(p, v)) is v exactly.
double effect_value(const PluginParam& p, double x);
double plugin_value(const PluginParam& p, double value);

// A colour as a host passes it, channels in 0..1.
struct PluginColor {
    float red = 1.0f;
    float green = 1.0f;
    float blue = 1.0f;
};

// One instance's parameter values, in the effect's units.
struct PluginValues {
    PluginKind kind = PluginKind::kFilter;
    double progress = 0.0; // "Progress" or "Position", 0 to 1
    double duration = 1.2; // "Duration", seconds
    bool milliseconds = false;
    bool automatic = true;
    bool reverse = false;
    // By the effect's parameter index; entries of parameters the plug-in does
    // not expose keep their defaults.
    std::array<ParamReading, kParamCount> effect{};
};

// The defaults of every parameter.
PluginValues default_values(PluginKind kind);

// Sets parameter `index` from what the host passed. Values are checked once,
// here: a NaN is ignored, doubles are held to [0, 1] and mapped into the
// effect's units, popups land on the nearest item, bools are true from 0.5
// on, colour channels are clamped to 0..1 and carried as 8 bits. A double
// equal to what get_number reads for the value held keeps that value. An
// index out of range is ignored.
void set_bool(PluginValues& values, int32_t index, double value);
void set_double(PluginValues& values, int32_t index, double value);
void set_color(PluginValues& values, int32_t index, PluginColor value);

// The values as a host reads them back: doubles in [0, 1], colours at
// their 8-bit precision.
double get_number(const PluginValues& values, int32_t index);
PluginColor get_color(const PluginValues& values, int32_t index);

// The parameter at effect index `index` as the effect's snapshot reads it
// at `seconds` while drawing the frame at `now` seconds, with the sequence
// the plug-in stands for: the transition's "Automatic" runs the effect's own
// timing with "Start (seconds)" 0, "Hold (seconds)" 0 and "Transition
// (seconds)" the duration; otherwise "Automatic" is off and "Sequence
// Position" is 1 + "Progress" or 1 + "Position". A host hands over the
// position of the frame drawn only, so the transition takes its earlier
// positions, which its particles need, to lie on the line from 0 at the
// start through the position now: position(s) = s / (now / position), as
// "Position" keyed linearly over the transition gives them.
ParamReading effect_reading(const PluginValues& values, int32_t index, double seconds = 0.0,
                            double now = 0.0);

// The frame's time in seconds from the time a host passes.
double plugin_seconds(const PluginValues& values, double host_time);

} // namespace pointillo::frei0r
