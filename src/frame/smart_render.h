#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// The PF_Cmd_SMART_RENDER handler. Failures are raised.
void smart_render(PF_InData* in_data, PF_SmartRenderExtra* extra);

} // namespace pointillo
