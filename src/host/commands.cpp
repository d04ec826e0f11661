#include "host/commands.h"

#include "host/host_error.h"
#include "host/params.h"
#include "host/plugin_id.h"
#include "host/pre_render.h"
#include "host/scoped_suite.h"
#include "host/smart_render.h"
#include "host/source_slots.h"
#include "pointillo/registration.h"
#include "render/set_down.h"

#include <cstdint>
#include <cstdio>

namespace pointillo {
namespace {

namespace reg = registration;

constexpr char kAboutLine[] =
    "Turns layers into dot clouds that break apart, fly and settle into the next source.";

// Name, space, release, CR, line, CR, address: each sizeof counts one of the
// three separators or the terminating zero.
static_assert(sizeof(reg::kEffectName) + sizeof(reg::kRelease) + sizeof(kAboutLine) +
                      sizeof(reg::kSupportUrl) <=
                  PF_MAX_EFFECT_MSG_LEN + 1,
              "the about text must fit return_msg with its terminating zero");
static_assert(sizeof(reg::kEffectName) <= PF_MAX_EFFECT_NAME_LEN + 1 &&
                  sizeof(reg::kMatchName) <= PF_MAX_EFFECT_NAME_LEN + 1,
              "the host keeps at most PF_MAX_EFFECT_NAME_LEN characters of a name");

static_assert(reg::kVersionWord == PF_VERSION(reg::kVersionMajor, reg::kVersionMinor,
                                              reg::kVersionFix, reg::kVersionStage,
                                              reg::kVersionBuild));
static_assert(reg::kVersionStage == PF_Stage_BETA);
static_assert(reg::kOutFlags == (PF_OutFlag_WIDE_TIME_INPUT | PF_OutFlag_NON_PARAM_VARY |
                                 PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_SEND_UPDATE_PARAMS_UI));
static_assert(reg::kOutFlags2 ==
              (PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG | PF_OutFlag2_REVEALS_ZERO_ALPHA |
               PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
               PF_OutFlag2_SUPPORTS_THREADED_RENDERING));

struct AboutText {
    char text[PF_MAX_EFFECT_MSG_LEN + 1] = {};
};

AboutText make_about_text() {
    AboutText about;
    std::snprintf(about.text, sizeof(about.text), "%s %s\r%s\r%s", reg::kEffectName, reg::kRelease,
                  kAboutLine, reg::kSupportUrl);
    return about;
}

void about(PF_OutData* out_data) {
    std::snprintf(out_data->return_msg, sizeof(out_data->return_msg), "%s", about_text());
}

// Version and flags come first, so they stand whatever the registration does.
void global_setup(PF_InData* in_data, PF_OutData* out_data) {
    out_data->my_version = reg::kVersionWord;
    out_data->out_flags = reg::kOutFlags;
    out_data->out_flags2 = reg::kOutFlags2;

    const ScopedSuite<AEGP_UtilitySuite6> utility(in_data->pica_basicP, kAEGPUtilitySuite,
                                                  kAEGPUtilitySuiteVersion6);
    if (!utility) {
        return; // no AEGP id: the effect runs without one
    }
    AEGP_PluginID id = 0;
    throw_if_error(utility->AEGP_RegisterWithAEGP(nullptr, reg::kEffectName, &id));
    set_aegp_plugin_id(id);
}

bool is_handled(uint32_t cmd) {
    switch (cmd) {
    case PF_Cmd_ABOUT:
    case PF_Cmd_GLOBAL_SETUP:
    case PF_Cmd_GLOBAL_SETDOWN:
    case PF_Cmd_PARAMS_SETUP:
    case PF_Cmd_USER_CHANGED_PARAM:
    case PF_Cmd_UPDATE_PARAMS_UI:
    case PF_Cmd_SMART_PRE_RENDER:
    case PF_Cmd_SMART_RENDER:
        return true;
    default:
        return false;
    }
}

} // namespace

const char* about_text() {
    static const AboutText about = make_about_text();
    return about.text;
}

PF_Err run_command(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* /*output*/, void* extra) {
    const auto selector = static_cast<uint32_t>(cmd);
    if (!is_handled(selector)) {
        return PF_Err_NONE;
    }
    if (in_data == nullptr || out_data == nullptr) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    switch (selector) {
    case PF_Cmd_ABOUT:
        about(out_data);
        return PF_Err_NONE;
    case PF_Cmd_GLOBAL_SETUP:
        global_setup(in_data, out_data);
        return PF_Err_NONE;
    case PF_Cmd_GLOBAL_SETDOWN:
        set_down_core();
        return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP:
        setup_parameters(in_data, out_data);
        return PF_Err_NONE;
    case PF_Cmd_USER_CHANGED_PARAM:
        if (extra == nullptr) {
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
        update_source_slots(in_data, out_data, params,
                            static_cast<const PF_UserChangedParamExtra*>(extra)->param_index);
        return PF_Err_NONE;
    case PF_Cmd_UPDATE_PARAMS_UI:
        update_source_slots(in_data, out_data, params, -1);
        return PF_Err_NONE;
    case PF_Cmd_SMART_PRE_RENDER:
        if (extra == nullptr) {
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
        smart_pre_render(in_data, static_cast<PF_PreRenderExtra*>(extra));
        return PF_Err_NONE;
    case PF_Cmd_SMART_RENDER:
        if (extra == nullptr) {
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
        smart_render(in_data, static_cast<PF_SmartRenderExtra*>(extra));
        return PF_Err_NONE;
    default:
        return PF_Err_NONE;
    }
}

} // namespace pointillo
