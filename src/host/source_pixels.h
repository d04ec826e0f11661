#pragma once

#include "common/pixel_view.h"
#include "frame/frame_plan.h"
#include "host/ae_sdk.h"
#include "render/render_frame.h"

namespace pointillo {

// The host handles of one smart-render command.
struct RenderHost {
    PF_InData& in_data;
    PF_SmartRenderExtra& extra;
    const PF_WorldSuite2& world_suite;
};

// The core's name for a host pixel format; anything unknown is 8 bits.
PixelDepth pixel_depth_of(PF_PixelFormat format);

// Asks the host's abort callback; a non-zero answer raises the host's cancel
// code. Shaped as a CancelCheck function, whose user value is the PF_InData.
bool check_abort(void* in_data);

// Lends one planned source's pixels to `use`: checks them out by the source's
// key (its checkout id), asks their pixel format, writes the diagnostic log
// line, and checks them in again on every path. A world the host does not
// give, or one without pixels, is lent as an empty view.
void lend_source_pixels(const RenderHost& host, const FramePlan& plan, const SourceRef& source,
                        PixelsUse use);

} // namespace pointillo
