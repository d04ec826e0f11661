#pragma once

#include "frame/sequence.h"
#include "frame/settings.h"
#include "host/ae_sdk.h"

#include <array>
#include <cstdint>
#include <vector>

namespace pointillo {

// One source layer checked out in pre-render.
struct SourceCheckout {
    PF_CheckoutResult result{}; // as the host filled it
    A_long checkout_id = 0;     // id for the pixel fetch in render; 0 when only probed
};

// One past moment (a 1/20 s sample) at which the transition was moving.
struct EmissionStep {
    SourceCheckout source_a; // the source being left, at the sample time
    SourceCheckout source_b; // the source being turned into
    Settings settings;       // snapshot at the sample time
    SequenceState state;     // at the sample time
    float progress_before = 0.0f;
    float progress_after = 0.0f;
    float velocity_span = 0.0f; // seconds between the before and after samples
    float age = 0.0f;           // seconds from the sample to the frame
    int32_t sample = 0;         // the sample time is sample / 20 seconds
};

// What pre-render hands the host for render. The host owns it once handed
// over and frees it through delete_pre_render_data.
struct PreRenderData {
    Settings settings;   // at the frame's current_time
    SequenceState state; // at current_time
    std::array<SourceCheckout, 2> sources{};
    std::vector<EmissionStep> emission_steps; // increasing sample order
    int32_t output_width = 0;                 // output pixels
    int32_t output_height = 0;
    int32_t source_count = 0; // filled entries of `sources`: 0, 1 or 2
    float downsample_x = 1.0f;
    float downsample_y = 1.0f;
};

// The deletion function registered with the record.
void delete_pre_render_data(void* pre_render_data);

// The PF_Cmd_SMART_PRE_RENDER handler. Failures are raised.
void smart_pre_render(PF_InData* in_data, PF_PreRenderExtra* extra);

} // namespace pointillo
