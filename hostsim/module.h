#pragma once

#include "host/ae_sdk.h"

#include <filesystem>
#include <string>

namespace hostsim {

using EffectMainFn = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                PF_ParamDef* params[], PF_LayerDef* output, void* extra);
using PluginDataEntryFn = A_Err (*)(PF_PluginDataPtr inPtr, PF_PluginDataCB2 callback,
                                    SPBasicSuite* basic, const char* host_name,
                                    const char* host_version);

// The effect module, loaded at run time (dlopen on Linux, LoadLibrary on
// Windows) and reached only through its two exports. Unloaded on destruction.
class Module {
  public:
    // Throws std::runtime_error when the file does not load or lacks an export.
    explicit Module(const std::string& path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    EffectMainFn effect_main() const { return effect_main_; }
    PluginDataEntryFn plugin_data_entry() const { return plugin_data_entry_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    void* handle_ = nullptr;
    EffectMainFn effect_main_ = nullptr;
    PluginDataEntryFn plugin_data_entry_ = nullptr;
};

// The folder of the running program, where the tools that load the module
// find it; empty when the system cannot tell.
std::filesystem::path program_folder();

} // namespace hostsim
