#pragma once

#include "host/ae_sdk.h"

#include <exception>

namespace pointillo {

// The one translation of a failure into what the host understands, used by
// both exports in their `catch (...)`:
//   HostError            -> its code, nothing written (a zero code counts as
//                           internal damage: a failure must not read as success)
//   std::bad_alloc       -> PF_Err_OUT_OF_MEMORY
//   other std::exception -> PF_Err_BAD_CALLBACK_PARAM, with "Pointillo: <what>"
//                           cut to fit return_msg and the display flag set
//   anything else        -> PF_Err_INTERNAL_STRUCT_DAMAGED
// `out_data` may be null (registration has none); then nothing is written.
PF_Err translate_exception(std::exception_ptr failure, PF_OutData* out_data) noexcept;

} // namespace pointillo
