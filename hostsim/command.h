#pragma once

#include "host/ae_sdk.h"
#include "hostsim/host.h"
#include "hostsim/instance.h"
#include "hostsim/module.h"

#include <optional>
#include <string>
#include <vector>

namespace hostsim {

// A 1920 x 1080 layer at time 0 of a 30-per-second time base, full
// resolution, square pixels, host version 13.28. Callbacks, effect_ref and
// pica_basicP are left empty: send_command fills them.
PF_InData default_in_data();

// What send_command resets in PF_OutData before every command.
void reset_out_fields(PF_OutData& out_data);

// What one command is given and gives back.
struct CommandIo {
    PF_InData in_data = default_in_data();
    PF_OutData out_data = {};
    // The command's parameter array; unset means the instance's (or null
    // without an instance).
    std::optional<PF_ParamDef**> params;
    PF_LayerDef* output = nullptr;
    void* extra = nullptr;
    // The frame a smart pre-render or render command belongs to (render_frame
    // sets it); the smart callbacks refuse to work without one.
    FrameState* frame = nullptr;
    // How long EffectMain took to return, host callbacks included (set by
    // send_command).
    double module_seconds = 0.0;
};

// Sends `cmd` to the module's EffectMain, as the host would: fills the
// interact callbacks, effect_ref (a context current on this thread for the
// command) and pica_basicP of io.in_data, resets out_flags, out_flags2 and
// return_msg, and returns EffectMain's result. Safe to call from several
// threads at once, each with its own CommandIo.
//
// Unless io.params is set, the parameter-UI and render commands get copies of
// the instance's values at current_time (change flags cleared); after
// PF_Cmd_USER_CHANGED_PARAM and PF_Cmd_UPDATE_PARAMS_UI that succeed, the host
// takes every value whose `uu.change_flags` has PF_ChangeFlag_CHANGED_VALUE (a
// keyframed parameter gets a key at current_time). Other commands get the
// instance's value records themselves.
PF_Err send_command(Host& host, const Module& module, Instance* instance, PF_Cmd cmd,
                    CommandIo& io);

// Sends PF_Cmd_USER_CHANGED_PARAM for parameter `index` at io.in_data's time
// (io.extra is set to the command's PF_UserChangedParamExtra).
PF_Err user_changed_param(Host& host, const Module& module, Instance& instance, PF_ParamIndex index,
                          CommandIo& io);

// One call of the registration callback.
struct Registration {
    std::string name;
    std::string match_name;
    std::string category;
    std::string entry_point;
    int32_t kind = 0;
    int32_t api_major = 0;
    int32_t api_minor = 0;
    int32_t reserved_info = 0;
    std::string support_url;
};

struct RegistrationResult {
    A_Err result = 0;                // what PluginDataEntryFunction2 returned
    std::vector<Registration> calls; // every call of the callback
};

// Calls PluginDataEntryFunction2 with a recording callback ("PF_PluginDataCB2"
// in the call log; faults apply to it like to any host function).
RegistrationResult register_module(Host& host, const Module& module);

} // namespace hostsim
