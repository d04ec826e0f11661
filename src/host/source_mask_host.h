#pragma once

#include "host/ae_sdk.h"
#include "host/pre_render.h"
#include "source/source_mask.h"

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

// Fetches one checked-out source's pixels, samples them into a mask of the
// output's size and checks them back in, on every path.
SourceMask build_source_mask(const RenderHost& host, const PreRenderData& data,
                             const SourceCheckout& source);

} // namespace pointillo
