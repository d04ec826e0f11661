#include "plugin_params.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pointillo::ofx {
namespace {

constexpr PluginInfo kPlugins[] = {
    {PluginKind::kTransition, "org.pointillo.Transition", "Pointillo Transition",
     "The first clip turns into dots that fly and settle into the second"},
    {PluginKind::kFilter, "org.pointillo.Filter", "Pointillo",
     "The picture as dots that break apart and re-form with Progress"},
};

constexpr Context kTransitionContexts[] = {Context::kTransition, Context::kGeneral};
constexpr Context kFilterContexts[] = {Context::kFilter, Context::kGeneral};

constexpr const char* kTransitionClips[] = {"SourceFrom", "SourceTo"};
constexpr const char* kGeneralTransitionClips[] = {"Source", "SourceTo"};
constexpr const char* kFilterClips[] = {"Source"};

bool is_sequence(const ParamSpec& spec) {
    return spec.id >= param_id::kAutomatic && spec.id <= param_id::kLoop;
}

// The sequence parameters the general transition shows: its own timing.
bool general_timing(const ParamSpec& spec) {
    return is_sequence(spec) && spec.id != param_id::kLoop;
}

bool settable(const ParamSpec& spec) {
    const bool value = spec.type == ParamType::kSlider || spec.type == ParamType::kPopup ||
                       spec.type == ParamType::kCheckbox || spec.type == ParamType::kColor;
    return value && !spec.invisible;
}

bool shown(PluginKind kind, Context context, const ParamSpec& spec) {
    if (!settable(spec)) {
        return false;
    }
    if (is_sequence(spec)) {
        return kind == PluginKind::kTransition && context == Context::kGeneral &&
               general_timing(spec);
    }
    return true;
}

OfxParamDesc effect_desc(const ParamSpec& spec, const char* parent) {
    OfxParamDesc d;
    d.name = spec.name;
    d.parent = parent;
    d.effect = &spec;
    switch (spec.type) {
    case ParamType::kPopup:
        d.kind = OfxParamKind::kChoice;
        d.default_value = static_cast<double>(spec.default_value) - 1.0;
        break;
    case ParamType::kCheckbox:
        d.kind = OfxParamKind::kBoolean;
        d.default_value = static_cast<double>(spec.default_value);
        break;
    case ParamType::kColor:
        d.kind = OfxParamKind::kColour;
        break;
    default:
        d.kind = OfxParamKind::kDouble;
        d.min = static_cast<double>(spec.valid_min);
        d.max = static_cast<double>(spec.valid_max);
        d.display_min = static_cast<double>(spec.slider_min);
        d.display_max = static_cast<double>(spec.slider_max);
        d.default_value = static_cast<double>(spec.default_value);
        break;
    }
    return d;
}

std::vector<OfxParamDesc> make_params(PluginKind kind, Context context) {
    std::vector<OfxParamDesc> list;
    if (kind == PluginKind::kTransition && context == Context::kTransition) {
        OfxParamDesc t;
        t.name = "Transition";
        t.min = 0.0;
        t.max = 1.0;
        t.display_max = 1.0;
        t.host_transition = true;
        list.push_back(t);
    }
    if (kind == PluginKind::kFilter) {
        OfxParamDesc p;
        p.name = "Progress";
        p.min = 0.0;
        p.max = 1.0;
        p.display_max = 1.0;
        list.push_back(p);
    }
    // A group is declared only when it has something to show.
    const ParamSpec* group = nullptr;
    bool group_declared = false;
    for (const ParamSpec& spec : kParamTable) {
        if (spec.type == ParamType::kGroupStart) {
            group = &spec;
            group_declared = false;
            continue;
        }
        if (spec.type == ParamType::kGroupEnd) {
            group = nullptr;
            continue;
        }
        if (!shown(kind, context, spec)) {
            continue;
        }
        if (group != nullptr && !group_declared) {
            OfxParamDesc g;
            g.name = group->name;
            g.kind = OfxParamKind::kGroup;
            g.group_open = !group->start_collapsed;
            list.push_back(g);
            group_declared = true;
        }
        list.push_back(effect_desc(spec, group != nullptr ? group->name : ""));
    }
    return list;
}

uint8_t channel_8(double value) {
    const double clamped = !(value > 0.0) ? 0.0 : (value < 1.0 ? value : 1.0);
    return static_cast<uint8_t>(std::lround(clamped * 255.0));
}

} // namespace

std::span<const PluginInfo> plugin_infos() {
    return kPlugins;
}

std::span<const Context> plugin_contexts(PluginKind kind) {
    if (kind == PluginKind::kTransition) {
        return kTransitionContexts;
    }
    return kFilterContexts;
}

const char* context_name(Context context) {
    switch (context) {
    case Context::kTransition:
        return "OfxImageEffectContextTransition";
    case Context::kFilter:
        return "OfxImageEffectContextFilter";
    case Context::kGeneral:
        break;
    }
    return "OfxImageEffectContextGeneral";
}

bool context_from_name(std::string_view name, Context& context) {
    for (Context c : {Context::kTransition, Context::kFilter, Context::kGeneral}) {
        if (name == context_name(c)) {
            context = c;
            return true;
        }
    }
    return false;
}

const std::vector<OfxParamDesc>& plugin_params(PluginKind kind, Context context) {
    static const std::array<std::vector<OfxParamDesc>, 6> lists = {
        make_params(PluginKind::kTransition, Context::kTransition),
        make_params(PluginKind::kTransition, Context::kFilter),
        make_params(PluginKind::kTransition, Context::kGeneral),
        make_params(PluginKind::kFilter, Context::kTransition),
        make_params(PluginKind::kFilter, Context::kFilter),
        make_params(PluginKind::kFilter, Context::kGeneral),
    };
    return lists[(kind == PluginKind::kTransition ? 0 : 3) + static_cast<std::size_t>(context)];
}

std::span<const char* const> input_clip_names(PluginKind kind, Context context) {
    if (kind == PluginKind::kFilter) {
        return kFilterClips;
    }
    if (context == Context::kGeneral) {
        return kGeneralTransitionClips;
    }
    return kTransitionClips;
}

ParamReading effect_value(const OfxParamDesc& desc, const HostValue& value) {
    ParamReading r;
    switch (desc.kind) {
    case OfxParamKind::kColour:
        r.red = channel_8(value.red);
        r.green = channel_8(value.green);
        r.blue = channel_8(value.blue);
        return r;
    case OfxParamKind::kChoice: {
        const double items = desc.effect != nullptr ? desc.effect->num_choices : 1;
        const double item = std::isnan(value.number) ? desc.default_value : value.number;
        r.number = std::clamp(std::round(item), 0.0, items - 1.0) + 1.0;
        return r;
    }
    case OfxParamKind::kBoolean:
        r.number = value.number >= 0.5 ? 1.0 : 0.0;
        return r;
    case OfxParamKind::kDouble:
    case OfxParamKind::kGroup:
        break;
    }
    r.number = std::isnan(value.number) ? desc.default_value
                                        : std::clamp(value.number, desc.min, desc.max);
    return r;
}

ParamReading context_reading(PluginKind kind, Context context, const ParamSpec& spec,
                             const ParamReading* own, double first) {
    if (own != nullptr) {
        return *own;
    }
    ParamReading r;
    switch (spec.id) {
    case param_id::kAutomatic:
    case param_id::kStart:
    case param_id::kHold:
    case param_id::kLoop:
        r.number = 0.0;
        return r;
    case param_id::kSequencePosition:
        // The general transition shows its own position; this is the
        // context whose host drives it, or the filter's "Progress".
        r.number =
            kind == PluginKind::kTransition && context == Context::kGeneral ? 1.0 : 1.0 + first;
        return r;
    default:
        break;
    }
    if (spec.type == ParamType::kColor) {
        r.red = r.green = r.blue = 255; // the effect's colours start white
    } else {
        r.number = static_cast<double>(spec.default_value);
    }
    return r;
}

} // namespace pointillo::ofx
