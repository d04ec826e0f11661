#include "hostsim/instance.h"

#include <cstring>

namespace hostsim {

Instance::Instance() {
    PF_ParamDef input;
    std::memset(&input, 0, sizeof(input));
    input.param_type = PF_Param_LAYER;
    definitions_.push_back(input);
    values_.push_back(input);
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
    definitions_.push_back(copy);
    values_.push_back(copy);
    return PF_Err_NONE;
}

} // namespace hostsim
