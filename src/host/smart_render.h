#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// The PF_Cmd_SMART_RENDER handler: renders the plan that pre-render stored,
// lending the sources' pixels by checkout, then converts the canvas into the
// output world. Failures are raised.
void smart_render(PF_InData* in_data, PF_SmartRenderExtra* extra);

} // namespace pointillo
