#include "host/command_guard.h"

#include "host/host_error.h"
#include "pointillo/registration.h"

#include <cstdio>
#include <new>

namespace pointillo {
namespace {

void write_message(PF_OutData* out_data, const char* text) {
    if (out_data == nullptr) {
        return;
    }
    // snprintf cuts at PF_MAX_EFFECT_MSG_LEN characters and always terminates.
    static_assert(sizeof(out_data->return_msg) == PF_MAX_EFFECT_MSG_LEN + 1);
    std::snprintf(out_data->return_msg, PF_MAX_EFFECT_MSG_LEN + 1, "%s: %s",
                  registration::kEffectName, text != nullptr ? text : "");
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
}

} // namespace

PF_Err translate_exception(std::exception_ptr failure, PF_OutData* out_data) noexcept {
    if (!failure) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const HostError& e) {
        return e.code != PF_Err_NONE ? e.code : PF_Err_INTERNAL_STRUCT_DAMAGED;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
        write_message(out_data, e.what());
        return PF_Err_BAD_CALLBACK_PARAM;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

} // namespace pointillo
