// The module's only two exported symbols. Each runs its work inside the one
// failure translation, so no exception ever crosses into the host.

#include "host/ae_sdk.h"
#include "host/command_guard.h"
#include "host/commands.h"
#include "host/host_error.h"
#include "pointillo/registration.h"

#include <exception>

#if defined(_WIN32)
#define POINTILLO_EXPORT extern "C" __declspec(dllexport)
#else
#define POINTILLO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace reg = pointillo::registration;

namespace {

const A_u_char* host_string(const char* text) {
    return reinterpret_cast<const A_u_char*>(text);
}

} // namespace

// Reports the registration values once; sets nothing up. The basic suite,
// host name and version are not needed.
POINTILLO_EXPORT A_Err PluginDataEntryFunction2(PF_PluginDataPtr inPtr,
                                                PF_PluginDataCB2 inPluginDataCallBackPtr,
                                                SPBasicSuite* /*inSPBasicSuitePtr*/,
                                                const char* /*inHostName*/,
                                                const char* /*inHostVersion*/) {
    try {
        if (inPluginDataCallBackPtr == nullptr) {
            throw pointillo::HostError{PF_Err_INTERNAL_STRUCT_DAMAGED};
        }
        return inPluginDataCallBackPtr(
            inPtr, host_string(reg::kEffectName), host_string(reg::kMatchName),
            host_string(reg::kCategory), host_string(reg::kEntryPoint), reg::kKind, reg::kApiMajor,
            reg::kApiMinor, reg::kReservedInfo, host_string(reg::kSupportUrl));
    } catch (...) {
        return pointillo::translate_exception(std::current_exception(), nullptr);
    }
}

POINTILLO_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                   PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    try {
        return pointillo::run_command(cmd, in_data, out_data, params, output, extra);
    } catch (...) {
        return pointillo::translate_exception(std::current_exception(), out_data);
    }
}
