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
};

// Sends `cmd` to the module's EffectMain, as the host would: fills the
// interact callbacks, effect_ref (a context current on this thread for the
// command) and pica_basicP of io.in_data, resets out_flags, out_flags2 and
// return_msg, and returns EffectMain's result. Safe to call from several
// threads at once, each with its own CommandIo.
PF_Err send_command(Host& host, const Module& module, Instance* instance, PF_Cmd cmd,
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
