#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// The PF_Cmd_SMART_PRE_RENDER handler. Failures are raised.
void smart_pre_render(PF_InData* in_data, PF_PreRenderExtra* extra);

} // namespace pointillo
