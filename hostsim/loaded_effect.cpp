#include "hostsim/loaded_effect.h"

#include <cstring>
#include <utility>

namespace hostsim {
namespace {

std::string message_of(const PF_OutData& out) {
    return std::string(out.return_msg, strnlen(out.return_msg, sizeof(out.return_msg)));
}

void send_setup(Host& host, const Module& module, Instance* instance, PF_Cmd cmd, const char* name,
                StartStep step, PF_OutData* out) {
    CommandIo io;
    const PF_Err err = send_command(host, module, instance, cmd, io);
    if (err != PF_Err_NONE) {
        throw StartError(step, err, message_of(io.out_data),
                         std::string(name) + " failed with error " + std::to_string(err));
    }
    if (out != nullptr) {
        *out = io.out_data;
    }
}

} // namespace

StartError::StartError(StartStep failed_step, A_Err code, std::string message,
                       const std::string& what)
    : std::runtime_error(what), step(failed_step), err(code), return_msg(std::move(message)) {}

LoadedEffect::LoadedEffect(const std::string& module_path) : module(module_path) {
    RegistrationResult registered = register_module(host, module);
    if (registered.result != 0 || registered.calls.empty()) {
        throw StartError(StartStep::kRegister, registered.result, "",
                         "the effect module " + module_path + " did not register (error " +
                             std::to_string(registered.result) + ")");
    }
    registration = std::move(registered.calls.front());
    send_setup(host, module, nullptr, PF_Cmd_GLOBAL_SETUP, "PF_Cmd_GLOBAL_SETUP",
               StartStep::kGlobalSetup, &global_setup);
    // A failed parameter set-up leaves a globally set-up module: it is set
    // down before it is unloaded, as after any other start.
    try {
        send_setup(host, module, &instance, PF_Cmd_PARAMS_SETUP, "PF_Cmd_PARAMS_SETUP",
                   StartStep::kParamsSetup, nullptr);
    } catch (...) {
        set_down();
        throw;
    }
}

LoadedEffect::~LoadedEffect() {
    set_down();
}

PF_Err LoadedEffect::set_down() {
    if (set_down_sent_) {
        return PF_Err_NONE;
    }
    set_down_sent_ = true;
    CommandIo io;
    return send_command(host, module, nullptr, PF_Cmd_GLOBAL_SETDOWN, io);
}

std::vector<std::string> LoadedEffect::finish() {
    std::vector<std::string> problems;
    const std::string left = leftovers();
    if (left != "all clean") {
        problems.push_back("the module did not give back: " + left);
    }
    const PF_Err err = set_down();
    if (err != PF_Err_NONE) {
        problems.push_back("PF_Cmd_GLOBAL_SETDOWN failed with error " + std::to_string(err));
    }
    return problems;
}

} // namespace hostsim
