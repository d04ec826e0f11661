#include "host/params.h"

#include "host/host_error.h"

#include <cstdio>
#include <cstring>

namespace pointillo {
namespace {

constexpr bool names_fit_the_host() {
    for (const ParamSpec& spec : kParamTable) {
        std::size_t length = 0;
        while (spec.name[length] != '\0') {
            ++length;
        }
        if (length > PF_MAX_EFFECT_PARAM_NAME_LEN) {
            return false;
        }
    }
    return true;
}
static_assert(names_fit_the_host(),
              "the host keeps at most PF_MAX_EFFECT_PARAM_NAME_LEN characters");

void set_name(PF_ParamDef& def, const ParamSpec& spec) {
    if (spec.slot != 0) {
        std::snprintf(def.name, PF_MAX_EFFECT_PARAM_NAME_LEN + 1, "Source %d",
                      static_cast<int>(spec.slot));
    } else {
        std::snprintf(def.name, PF_MAX_EFFECT_PARAM_NAME_LEN + 1, "%s", spec.name);
    }
}

PF_ParamType host_type(ParamType type) {
    switch (type) {
    case ParamType::kGroupStart:
        return PF_Param_GROUP_START;
    case ParamType::kGroupEnd:
        return PF_Param_GROUP_END;
    case ParamType::kSlider:
        return PF_Param_FLOAT_SLIDER;
    case ParamType::kPopup:
        return PF_Param_POPUP;
    case ParamType::kCheckbox:
        return PF_Param_CHECKBOX;
    case ParamType::kColor:
        return PF_Param_COLOR;
    case ParamType::kButton:
        return PF_Param_BUTTON;
    case ParamType::kLayer:
        return PF_Param_LAYER;
    }
    return PF_Param_GROUP_START;
}

PF_ParamFlags host_flags(const ParamSpec& spec) {
    PF_ParamFlags flags = 0;
    if (spec.supervised) {
        flags |= PF_ParamFlag_SUPERVISE;
    }
    if (spec.start_collapsed) {
        flags |= PF_ParamFlag_START_COLLAPSED;
    }
    if (spec.skip_reveal_when_unhidden) {
        flags |= PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN;
    }
    return flags;
}

} // namespace

PF_ParamDef make_param_def(const ParamSpec& spec) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = host_type(spec.type);
    set_name(def, spec);
    def.flags = host_flags(spec);
    def.ui_flags = spec.invisible ? PF_PUI_INVISIBLE : 0;
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
        // The host keeps the value in double and the default in float; the
        // value is the float default widened, so 0.8 reads 0.800000011920929.
        def.u.fs_d.value = static_cast<double>(spec.default_value);
        def.u.fs_d.dephault = spec.default_value;
        def.u.fs_d.valid_min = spec.valid_min;
        def.u.fs_d.valid_max = spec.valid_max;
        def.u.fs_d.slider_min = spec.slider_min;
        def.u.fs_d.slider_max = spec.slider_max;
        def.u.fs_d.precision = 2;
        def.u.fs_d.display_flags = PF_ValueDisplayFlag_NONE;
        break;
    case PF_Param_POPUP:
        def.u.pd.value = static_cast<PF_ParamValue>(spec.default_value);
        def.u.pd.dephault = static_cast<A_short>(spec.default_value);
        def.u.pd.num_choices = static_cast<A_short>(spec.num_choices);
        def.u.pd.u.namesptr = spec.text;
        break;
    case PF_Param_CHECKBOX:
        def.u.bd.value = spec.default_value != 0.0f ? 1 : 0;
        def.u.bd.dephault = static_cast<PF_Boolean>(def.u.bd.value);
        def.u.bd.u.nameptr = "";
        break;
    case PF_Param_COLOR:
        def.u.cd.value = PF_Pixel{255, 255, 255, 255};
        def.u.cd.dephault = PF_Pixel{255, 255, 255, 255};
        break;
    case PF_Param_BUTTON:
        def.u.button_d.value = 0;
        def.u.button_d.u.namesptr = spec.text;
        break;
    case PF_Param_LAYER:
        def.u.ld.dephault = PF_LayerDefault_NONE;
        break;
    default: // group start and end carry only their name
        break;
    }
    def.uu.id = spec.id;
    return def;
}

void setup_parameters(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->inter.add_param == nullptr) {
        throw HostError{PF_Err_INVALID_CALLBACK};
    }
    for (const ParamSpec& spec : kParamTable) {
        PF_ParamDef def = make_param_def(spec);
        throw_if_error(in_data->inter.add_param(in_data->effect_ref, -1, &def));
    }
    out_data->num_params = kParamCount;
}

} // namespace pointillo
