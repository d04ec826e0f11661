#include "plugin_params.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace pointillo::frei0r {
namespace {

constexpr std::size_t kEffectParamCount = [] {
    std::size_t n = 0;
    for (const ParamSpec& spec : kParamTable) {
        n += is_plugin_param(spec) ? 1 : 0;
    }
    return n;
}();

constexpr std::size_t kPluginParamCount = 2 + kEffectParamCount;
using ParamList = std::array<PluginParam, kPluginParamCount>;

const ParamSpec& transition_spec() {
    return *param_by_id(param_id::kTransition);
}

PluginParam effect_param(const ParamSpec& spec) {
    PluginParam p;
    p.name = spec.name;
    p.effect = &spec;
    switch (spec.type) {
    case ParamType::kCheckbox:
        p.type = PluginParamType::kBool;
        p.explanation = "the effect's checkbox (0 or 1)";
        break;
    case ParamType::kColor:
        p.type = PluginParamType::kColor;
        p.explanation = "the effect's colour";
        break;
    case ParamType::kPopup:
        p.type = PluginParamType::kDouble;
        p.min = 1.0;
        p.max = static_cast<double>(spec.num_choices);
        p.explanation = spec.text; // the items, numbered from 1
        break;
    default:
        p.type = PluginParamType::kDouble;
        p.min = static_cast<double>(spec.valid_min);
        p.max = static_cast<double>(spec.valid_max);
        p.explanation = "in the effect's own units";
        break;
    }
    p.default_value = static_cast<double>(spec.default_value);
    return p;
}

ParamList make_params(PluginKind kind) {
    ParamList list{};
    if (kind == PluginKind::kFilter) {
        list[0] = {.name = "Progress",
                   .type = PluginParamType::kDouble,
                   .explanation = "0 and 1 the picture; between them it breaks apart and re-forms",
                   .min = 0.0,
                   .max = 1.0,
                   .default_value = 0.0};
    } else {
        const ParamSpec& transition = transition_spec();
        list[0] = {.name = "Duration (seconds)",
                   .type = PluginParamType::kDouble,
                   .explanation = "length of the morph from the transition's start",
                   .min = static_cast<double>(transition.valid_min),
                   .max = static_cast<double>(transition.valid_max),
                   .default_value = 1.2};
    }
    list[1] = {.name = "Time in Milliseconds",
               .type = PluginParamType::kBool,
               .explanation = "the host's time is in milliseconds (ffmpeg), not seconds (MLT)",
               .default_value = 0.0};
    std::size_t n = 2;
    for (const ParamSpec& spec : kParamTable) {
        if (is_plugin_param(spec)) {
            list[n++] = effect_param(spec);
        }
    }
    return list;
}

const ParamList& params_of(PluginKind kind) {
    static const ParamList filter = make_params(PluginKind::kFilter);
    static const ParamList transition = make_params(PluginKind::kTransition);
    return kind == PluginKind::kFilter ? filter : transition;
}

const PluginParam* param_of(const PluginValues& values, int32_t index) {
    const ParamList& list = params_of(values.kind);
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
        return nullptr;
    }
    return &list[static_cast<std::size_t>(index)];
}

uint8_t channel_8(float value) {
    const float clamped = !(value > 0.0f) ? 0.0f : (value < 1.0f ? value : 1.0f);
    return static_cast<uint8_t>(std::lround(clamped * 255.0f));
}

} // namespace

std::span<const PluginParam> plugin_params(PluginKind kind) {
    return params_of(kind);
}

PluginValues default_values(PluginKind kind) {
    PluginValues values;
    values.kind = kind;
    values.first = params_of(kind)[0].default_value;
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
    if (p->effect == nullptr) {
        values.milliseconds = on;
    } else {
        values.effect[static_cast<std::size_t>(p->effect->index)].number = on ? 1.0 : 0.0;
    }
}

void set_double(PluginValues& values, int32_t index, double value) {
    const PluginParam* p = param_of(values, index);
    if (p == nullptr || p->type != PluginParamType::kDouble || std::isnan(value)) {
        return;
    }
    double v = std::clamp(value, p->min, p->max);
    if (p->effect != nullptr && p->effect->type == ParamType::kPopup) {
        v = std::round(v);
    }
    if (p->effect == nullptr) {
        values.first = v;
    } else {
        values.effect[static_cast<std::size_t>(p->effect->index)].number = v;
    }
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
    if (p->effect == nullptr) {
        return index == 0 ? values.first : (values.milliseconds ? 1.0 : 0.0);
    }
    return values.effect[static_cast<std::size_t>(p->effect->index)].number;
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

ParamReading effect_reading(const PluginValues& values, int32_t index) {
    const ParamSpec* spec = param_at(index);
    if (spec == nullptr) {
        return {};
    }
    const bool transition = values.kind == PluginKind::kTransition;
    ParamReading r = values.effect[static_cast<std::size_t>(index)];
    switch (spec->id) {
    case param_id::kAutomatic:
        r.number = transition ? 1.0 : 0.0;
        break;
    case param_id::kSequencePosition:
        r.number = transition ? 1.0 : 1.0 + values.first;
        break;
    case param_id::kStart:
    case param_id::kHold:
    case param_id::kLoop:
        r.number = 0.0;
        break;
    case param_id::kTransition:
        if (transition) {
            r.number = values.first;
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
