#pragma once

// The parameters of the two frei0r plug-ins and the values an instance holds.
// A frei0r host knows parameters only by their place in one list and passes
// plain doubles, bools and colours, so the list is fixed here once: the
// plug-in's own first parameter, the time unit, then the effect's parameters
// a user sets, in the effect's own order, by their own names and units.

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

struct PluginParam {
    const char* name = "";
    PluginParamType type = PluginParamType::kDouble;
    const char* explanation = "";
    const ParamSpec* effect = nullptr; // the effect's parameter, null for the first two
    double min = 0.0;                  // doubles: values are clamped to min..max
    double max = 0.0;
    double default_value = 0.0; // doubles and bools
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

// A colour as a host passes it, channels in 0..1.
struct PluginColor {
    float red = 1.0f;
    float green = 1.0f;
    float blue = 1.0f;
};

// One instance's parameter values, as the effect would read them.
struct PluginValues {
    PluginKind kind = PluginKind::kFilter;
    double first = 0.0; // "Progress" (0 to 1) or "Duration (seconds)"
    bool milliseconds = false;
    // By the effect's parameter index; entries of parameters the plug-in does
    // not expose keep their defaults.
    std::array<ParamReading, kParamCount> effect{};
};

// The defaults of every parameter.
PluginValues default_values(PluginKind kind);

// Sets parameter `index` from what the host passed. Values are checked once,
// here: a NaN is ignored, doubles are clamped to the effect's valid range,
// popups round to the nearest item, bools are true from 0.5 on, colour
// channels are clamped to 0..1 and carried as 8 bits. An index out of range
// is ignored.
void set_bool(PluginValues& values, int32_t index, double value);
void set_double(PluginValues& values, int32_t index, double value);
void set_color(PluginValues& values, int32_t index, PluginColor value);

// The values as a host reads them back (colours at their 8-bit precision).
double get_number(const PluginValues& values, int32_t index);
PluginColor get_color(const PluginValues& values, int32_t index);

// The parameter at effect index `index` as the effect's snapshot reads it,
// with the sequence the plug-in stands for: the transition runs the
// effect's own timing with "Start (seconds)" 0, "Hold (seconds)" 0 and
// "Transition (seconds)" the duration; the filter holds "Automatic" off
// and "Sequence Position" at 1 + progress.
ParamReading effect_reading(const PluginValues& values, int32_t index);

// The frame's time in seconds from the time a host passes.
double plugin_seconds(const PluginValues& values, double host_time);

} // namespace pointillo::frei0r
