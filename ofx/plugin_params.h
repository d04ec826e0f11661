#pragma once

// What each OpenFX plug-in shows a user in each of its contexts: the
// effect's own parameters a user sets, by their own names, ranges, defaults
// and groups, plus the plug-in's timing. The list is data, so the describe
// action, the instance and the tests read one truth.

#include "frame/param_table.h"
#include "frame/settings_read.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pointillo::ofx {

enum class PluginKind {
    kTransition, // two clips, the first turning into the second
    kFilter,     // one clip drawn as dots that break apart and re-form
};

enum class Context { kTransition, kFilter, kGeneral };

// The OpenFX parameter kind each entry is declared as.
enum class OfxParamKind { kGroup, kDouble, kChoice, kBoolean, kColour };

struct OfxParamDesc {
    const char* name = "";   // also the label
    const char* parent = ""; // the group's name, "" at the top
    OfxParamKind kind = OfxParamKind::kDouble;
    const ParamSpec* effect = nullptr; // null for groups and the plug-in's own
    double min = 0.0;                  // doubles: valid range, then the slider's
    double max = 0.0;
    double display_min = 0.0;
    double display_max = 0.0;
    double default_value = 0.0; // doubles, booleans; choices 0-based
    bool group_open = true;
    bool host_transition = false; // the transition context's own "Transition"
};

struct PluginInfo {
    PluginKind kind = PluginKind::kTransition;
    const char* identifier = "";
    const char* label = "";
    const char* description = "";
};

// The bundle's plug-ins, in OfxGetPlugin order.
std::span<const PluginInfo> plugin_infos();

// The contexts each plug-in declares, first the one it is made for.
std::span<const Context> plugin_contexts(PluginKind kind);

const char* context_name(Context context);
bool context_from_name(std::string_view name, Context& context);

// Every parameter of `kind` in `context`, groups before their children.
const std::vector<OfxParamDesc>& plugin_params(PluginKind kind, Context context);

// The names of the input clips, in the order a host connects them (the
// filter's one input is both sources).
std::span<const char* const> input_clip_names(PluginKind kind, Context context);

// A value as the host handed it over, for one entry of the list.
struct HostValue {
    double number = 0.0; // doubles as they are; choices 0-based; booleans 0 or 1
    double red = 1.0;    // colours, 0..1
    double green = 1.0;
    double blue = 1.0;
};

// The entry's value as the effect reads it: clamped to the valid range (a
// NaN gives the default), popups 1-based, colours as bytes.
ParamReading effect_value(const OfxParamDesc& desc, const HostValue& value);

// What the effect reads at parameter `index` in a context whose timing the
// plug-in stands for: `first` is the host's "Transition" (0..1) or the
// filter's "Progress"; `own` the effect entry's value where the context
// shows that parameter (null otherwise). Sequence entries a context does not
// show read as a manual sequence at 1 + first.
ParamReading context_reading(PluginKind kind, Context context, const ParamSpec& spec,
                             const ParamReading* own, double first);

} // namespace pointillo::ofx
