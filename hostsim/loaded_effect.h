#pragma once

// The effect module started as the application starts it and ended as it
// ends it, for every program and test that renders through the emulated
// host: loaded, registered, globally set up, one instance with its parameters
// registered; at the end the report of what the module kept, and the global
// set-down before the module is unloaded.

#include "host/ae_sdk.h"
#include "hostsim/command.h"
#include "hostsim/frame.h"
#include "hostsim/host.h"
#include "hostsim/instance.h"
#include "hostsim/module.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace hostsim {

// The step of the start that failed.
enum class StartStep { kRegister, kGlobalSetup, kParamsSetup };

// The module refused to start. what() is "PF_Cmd_GLOBAL_SETUP failed with
// error N" (or PF_Cmd_PARAMS_SETUP), or for the registration "the effect
// module PATH did not register (error N)"; callers that word it their own way
// read the fields.
struct StartError : std::runtime_error {
    StartError(StartStep failed_step, A_Err code, std::string message, const std::string& what);

    StartStep step;
    A_Err err;              // what the module returned (0 for a registration without a call)
    std::string return_msg; // the module's return_msg, if it left one
};

class LoadedEffect {
  public:
    // std::runtime_error when the file does not load or lacks an export;
    // StartError when a step of the start fails.
    explicit LoadedEffect(const std::string& module_path);
    // Sends PF_Cmd_GLOBAL_SETDOWN unless set_down() already did (a failure
    // has nowhere to go), then unloads: the instance and host go before the
    // module.
    ~LoadedEffect();
    LoadedEffect(const LoadedEffect&) = delete;
    LoadedEffect& operator=(const LoadedEffect&) = delete;

    // render_frame on the instance; safe from several threads at once.
    FrameResult render(const FrameCall& call) { return render_frame(host, module, instance, call); }

    // "all clean", or what the module has not given back.
    std::string leftovers() const { return host.outstanding_report(); }
    // Sends PF_Cmd_GLOBAL_SETDOWN and returns its result; only the first call
    // sends it, later ones return PF_Err_NONE.
    PF_Err set_down();
    // The end as a tool reports it: the leftovers, then the set-down; a line
    // for each that went wrong, none for a clean end.
    std::vector<std::string> finish();

    Module module;
    Host host;
    Instance instance;
    Registration registration; // the registration callback's first call
    PF_OutData global_setup{}; // what PF_Cmd_GLOBAL_SETUP gave back (my_version, out_flags...)

  private:
    bool set_down_sent_ = false;
};

} // namespace hostsim
