#pragma once

#include "frame/frame_plan.h"
#include "host/ae_sdk.h"

namespace pointillo {

// What pre-render hands the host for render: the frame's plan itself, each
// source's key being its checkout id. The host owns it once handed over and
// frees it through delete_pre_render_data.
using PreRenderData = FramePlan;

// The deletion function registered with the record.
void delete_pre_render_data(void* pre_render_data);

// The PF_Cmd_SMART_PRE_RENDER handler: reads the snapshot, sizes the output,
// probes the source slots, and plans the frame with checkouts as its host.
// Failures are raised.
void smart_pre_render(PF_InData* in_data, PF_PreRenderExtra* extra);

} // namespace pointillo
