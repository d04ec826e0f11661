#include "hostsim/instance.h"

#include "common/host_time.h"
#include "common/keyframes.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>

namespace hostsim {
namespace {

std::string_view name_of(const PF_ParamDef& def) {
    const void* end = std::memchr(def.name, '\0', sizeof(def.name));
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - def.name)
                       : sizeof(def.name);
    return {def.name, length};
}

// Float sliders interpolate between keys; every other kind holds.
pointillo::Tween tween_of(PF_ParamType type) {
    return type == PF_Param_FLOAT_SLIDER ? pointillo::Tween::kLinear : pointillo::Tween::kHold;
}

ParamValue evaluate(PF_ParamType type, const std::vector<Keyframe>& keys, double t) {
    return pointillo::value_at(std::span<const Keyframe>(keys), t, tween_of(type));
}

double seconds_of(A_long time, A_u_long time_scale) {
    return pointillo::host_seconds(time, time_scale);
}

} // namespace

Instance::Instance() {
    PF_ParamDef input;
    std::memset(&input, 0, sizeof(input));
    input.param_type = PF_Param_LAYER;
    definitions_.push_back(input);
    values_.push_back(input);
    keys_.emplace_back();
    layer_ids_.push_back(0);
    stream_flags_.push_back(0);
}

int32_t Instance::index_of(std::string_view name) const {
    for (int32_t index = 1; index < param_count(); ++index) {
        if (name_of(definitions_[static_cast<std::size_t>(index)]) == name) {
            return index;
        }
    }
    return -1;
}

int32_t Instance::index_checked(std::string_view name) const {
    const int32_t index = index_of(name);
    if (index < 0) {
        throw std::out_of_range("no parameter named \"" + std::string(name) + "\"");
    }
    return index;
}

PF_ParamDef** Instance::param_array() {
    pointers_.clear();
    for (PF_ParamDef& value : values_) {
        pointers_.push_back(&value);
    }
    return pointers_.data();
}

const char* Instance::keep(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    strings_.emplace_back(text);
    return strings_.back().c_str();
}

PF_Err Instance::add_param(PF_ParamIndex index, const PF_ParamDef& def) {
    if (index != -1 && index != param_count()) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_ParamDef copy = def;
    // The strings live in the module; the host keeps its own copies.
    switch (copy.param_type) {
    case PF_Param_POPUP:
        copy.u.pd.u.namesptr = keep(copy.u.pd.u.namesptr);
        break;
    case PF_Param_CHECKBOX:
        copy.u.bd.u.nameptr = keep(copy.u.bd.u.nameptr);
        break;
    case PF_Param_BUTTON:
        copy.u.button_d.u.namesptr = keep(copy.u.button_d.u.namesptr);
        break;
    default:
        break;
    }
    std::lock_guard lock(mutex_);
    definitions_.push_back(copy);
    values_.push_back(copy);
    keys_.emplace_back();
    layer_ids_.push_back(0); // a layer parameter starts with no layer
    stream_flags_.push_back(0);
    return PF_Err_NONE;
}

ParamValue Instance::constant_locked(int32_t index) const {
    const auto i = static_cast<std::size_t>(index);
    const PF_ParamDef& def = values_.at(i);
    if (def.param_type == PF_Param_LAYER) {
        ParamValue value;
        value.number = layer_ids_[i];
        return value;
    }
    return value_in(def);
}

void Instance::set_constant_locked(int32_t index, const ParamValue& value) {
    const auto i = static_cast<std::size_t>(index);
    PF_ParamDef& def = values_.at(i);
    if (def.param_type == PF_Param_LAYER) {
        layer_ids_[i] = whole(value.number);
    } else if (!store_value(def, value)) {
        throw std::invalid_argument("parameter " + std::to_string(index) + " holds no value");
    }
}

void Instance::set_value(int32_t index, double number) {
    std::lock_guard lock(mutex_);
    if (values_.at(static_cast<std::size_t>(index)).param_type == PF_Param_COLOR) {
        throw std::invalid_argument("a colour takes set_color");
    }
    ParamValue value;
    value.number = number;
    set_constant_locked(index, value);
    keys_[static_cast<std::size_t>(index)].clear();
}

void Instance::set_value(std::string_view name, double number) {
    set_value(index_checked(name), number);
}

void Instance::set_color(int32_t index, PF_Pixel color) {
    std::lock_guard lock(mutex_);
    if (values_.at(static_cast<std::size_t>(index)).param_type != PF_Param_COLOR) {
        throw std::invalid_argument("only a colour takes set_color");
    }
    ParamValue value;
    value.color = color;
    set_constant_locked(index, value);
    keys_[static_cast<std::size_t>(index)].clear();
}

void Instance::set_color(std::string_view name, PF_Pixel color) {
    set_color(index_checked(name), color);
}

void Instance::set_keyframes(int32_t index, std::vector<Keyframe> keys) {
    for (std::size_t k = 1; k < keys.size(); ++k) {
        if (!(keys[k - 1].seconds < keys[k].seconds)) {
            throw std::invalid_argument("keyframes must be in strictly increasing time");
        }
    }
    std::lock_guard lock(mutex_);
    const PF_ParamType type = values_.at(static_cast<std::size_t>(index)).param_type;
    if (type == PF_Param_GROUP_START || type == PF_Param_GROUP_END) {
        throw std::invalid_argument("parameter " + std::to_string(index) + " holds no value");
    }
    keys_[static_cast<std::size_t>(index)] = std::move(keys);
}

void Instance::set_keyframes(std::string_view name, std::vector<Keyframe> keys) {
    set_keyframes(index_checked(name), std::move(keys));
}

void Instance::set_value_at(int32_t index, A_long time, A_u_long time_scale,
                            const ParamValue& value) {
    std::lock_guard lock(mutex_);
    std::vector<Keyframe>& keys = keys_.at(static_cast<std::size_t>(index));
    if (keys.empty()) {
        set_constant_locked(index, value);
        return;
    }
    const double t = seconds_of(time, time_scale);
    const auto at = std::lower_bound(keys.begin(), keys.end(), t,
                                     [](const Keyframe& k, double s) { return k.seconds < s; });
    if (at != keys.end() && at->seconds == t) {
        at->value = value;
    } else {
        keys.insert(at, Keyframe{t, value});
    }
}

bool Instance::keyframed(int32_t index) const {
    std::lock_guard lock(mutex_);
    return !keys_.at(static_cast<std::size_t>(index)).empty();
}

std::vector<Keyframe> Instance::keyframes(int32_t index) const {
    std::lock_guard lock(mutex_);
    return keys_.at(static_cast<std::size_t>(index));
}

ParamValue Instance::value_at(int32_t index, A_long time, A_u_long time_scale) const {
    std::lock_guard lock(mutex_);
    const std::vector<Keyframe>& keys = keys_.at(static_cast<std::size_t>(index));
    if (keys.empty()) {
        return constant_locked(index);
    }
    return evaluate(values_[static_cast<std::size_t>(index)].param_type, keys,
                    seconds_of(time, time_scale));
}

PF_ParamDef Instance::param_at(int32_t index, A_long time, A_u_long time_scale) const {
    PF_ParamDef def;
    ParamValue value;
    {
        std::lock_guard lock(mutex_);
        const auto i = static_cast<std::size_t>(index);
        def = values_.at(i);
        if (keys_[i].empty()) {
            return def;
        }
        value = evaluate(def.param_type, keys_[i], seconds_of(time, time_scale));
    }
    store_value(def, value);
    return def;
}

AEGP_DynStreamFlags Instance::stream_flags(int32_t index) const {
    std::lock_guard lock(mutex_);
    return stream_flags_.at(static_cast<std::size_t>(index));
}

void Instance::set_stream_flags(int32_t index, AEGP_DynStreamFlags flags) {
    std::lock_guard lock(mutex_);
    stream_flags_.at(static_cast<std::size_t>(index)) = flags;
}

ParamValue value_in(const PF_ParamDef& def) {
    ParamValue value;
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
        value.number = def.u.fs_d.value;
        break;
    case PF_Param_POPUP:
        value.number = def.u.pd.value;
        break;
    case PF_Param_CHECKBOX:
        value.number = def.u.bd.value;
        break;
    case PF_Param_BUTTON:
        value.number = def.u.button_d.value;
        break;
    case PF_Param_COLOR:
        value.color = def.u.cd.value;
        break;
    default:
        break;
    }
    return value;
}

bool store_value(PF_ParamDef& def, const ParamValue& value) {
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
        def.u.fs_d.value = value.number;
        return true;
    case PF_Param_POPUP:
        def.u.pd.value = whole(value.number);
        return true;
    case PF_Param_CHECKBOX:
        def.u.bd.value = whole(value.number);
        return true;
    case PF_Param_BUTTON:
        def.u.button_d.value = whole(value.number);
        return true;
    case PF_Param_COLOR:
        def.u.cd.value = value.color;
        return true;
    default:
        return false;
    }
}

int32_t whole(double number) {
    if (!(number == number)) {
        return 0;
    }
    if (number >= 2147483647.0) {
        return INT32_MAX;
    }
    if (number <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(number);
}

} // namespace hostsim
