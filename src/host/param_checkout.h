#pragma once

#include "frame/settings_read.h"
#include "host/ae_sdk.h"

namespace pointillo {

// One parameter's value at `time` (host units of the command's time_scale):
// checked out, copied and checked in again, so that at most one parameter is
// out at any moment. Host errors are raised; nothing stays checked out on any
// path. This is the ParamReader the core's reads go through.
ParamReading checkout_param_value(const PF_InData& in_data, int32_t index, A_long time);

} // namespace pointillo
