#pragma once

// Rendering one frame as the application does: smart pre-render, then smart
// render, with the per-frame state both commands share (layer checkouts by
// id, the adopted pre-render data, the output world). Frames are independent:
// several may render at once on several threads against one instance.

#include "host/ae_sdk.h"
#include "hostsim/host.h"
#include "hostsim/instance.h"
#include "hostsim/module.h"
#include "hostsim/world.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hostsim {

// What the host hands out when asked for a world.
enum class WorldMode {
    kNormal,  // a world with pixels
    kAbsent,  // success, but a null world
    kNoPixels // a world with sizes and a null `data`
};

// One frame as the application asks for it (time, time base, depth,
// downsample, the effect layer's size), and how the host answers the
// module's calls for it.
struct FrameCall {
    A_long time = 0; // current_time, in units of time_scale
    A_long time_step = 1;
    A_u_long time_scale = 30;
    int32_t depth = 8; // 8, 16 or 32 bits a channel
    PF_RationalScale downsample_x{1, 1};
    PF_RationalScale downsample_y{1, 1};
    int32_t width = 1920; // the effect layer at full resolution: PF_InData width
    int32_t height = 1080;
    // The output world is normally the size of the pre-render's result
    // rectangle; a test may ask for another size, or none, or one without
    // pixels.
    std::optional<std::pair<int32_t, int32_t>> output_size;
    WorldMode output = WorldMode::kNormal;
    // How every checkout_layer_pixels answers. Normal worlds are the layer's
    // shared world (Layers::world), each checkout with its own record.
    WorldMode layer_worlds = WorldMode::kNormal;
    // When set, the output world's pixels live in this caller-owned buffer
    // (resized and filled as a fresh world is) and FrameResult::output stays
    // empty: a caller that renders frame after frame into one buffer copies
    // nothing and faults in no fresh pages. Read it after render_frame.
    std::vector<std::byte>* output_storage = nullptr;
    // The frame's own answer to `abort`, given the poll number (1-based,
    // counted over both commands). Unset: the host's abort_code().
    std::function<PF_Err(int64_t poll)> abort;
    // Called after a successful pre-render with its output, while the host
    // still holds the pre-render data.
    std::function<void(const PF_PreRenderOutput&)> inspect_pre_render;
    // Stop after the pre-render (its data is deleted unused).
    bool pre_render_only = false;
};

// One checkout_layer call of the pre-render.
struct LayerCheckout {
    A_long checkout_id = 0;
    PF_ParamIndex index = 0;
    A_long time = 0;
    int32_t layer_id = 0; // 0: the parameter held no layer
    PF_LRect request_rect{};
    PF_CheckoutResult result{};
};

// One checkout_layer_pixels call of the render.
struct PixelCheckout {
    A_long checkout_id = 0;
    int32_t layer_id = 0;
};

struct FrameResult {
    PF_Err pre_render_err = PF_Err_NONE;
    PF_Err render_err = PF_Err_NONE;
    bool rendered = false; // the render command was sent (the pre-render succeeded)
    // return_msg and out_flags of the failing command, else of the render.
    std::string return_msg;
    PF_OutFlags out_flags = 0;
    PF_PreRenderOutput pre_render_output{}; // as left by the pre-render (data pointer stale)
    bool pre_render_data_adopted = false;
    int64_t pre_render_data_deletions = 0;      // calls of its deletion function by the host
    std::vector<LayerCheckout> layer_checkouts; // in call order
    std::vector<PixelCheckout> pixel_checkouts; // in call order
    int64_t abort_polls = 0;
    // Time inside the module's pre-render and render commands, host
    // callbacks included; the host's own work around them is not counted.
    double module_seconds = 0.0;
    int64_t max_param_checkouts = 0; // the most parameters out at once
    // The output world as the render left it.
    bool output_checked_out = false;
    PF_PixelFormat output_format = 0;
    int32_t output_width = 0;
    int32_t output_height = 0;
    int32_t output_rowbytes = 0;
    std::vector<std::byte> output; // rowbytes x height bytes, padding included

    bool ok() const { return pre_render_err == PF_Err_NONE && render_err == PF_Err_NONE; }
};

// Runs PF_Cmd_SMART_PRE_RENDER, then (if it succeeded) PF_Cmd_SMART_RENDER for
// one frame of `instance`, and deletes the pre-render data it adopted. Safe
// to call from several threads at once. A request the application would never
// make (a depth other than 8, 16 or 32, a layer beyond 30000 a side) throws
// std::invalid_argument.
FrameResult render_frame(Host& host, const Module& module, Instance& instance,
                         const FrameCall& request);

// The output without row padding: width x pixel size bytes a row.
std::vector<std::byte> packed_output(const FrameResult& result);
// One output pixel as floats (8 bits / 255, 16 bits / 32768).
Argb output_pixel(const FrameResult& result, int32_t x, int32_t y);
// True when no byte of the row padding was written.
bool output_padding_untouched(const FrameResult& result);

// Per-frame host state shared by the frame's two commands; what a render
// command's CommandContext::frame points to.
struct FrameState {
    struct PixelsOut {
        int32_t layer_id = 0;
        int64_t count = 0;                      // checkouts not yet checked in
        std::shared_ptr<const HostWorld> world; // the layer's shared world, or one without pixels
        PF_EffectWorld record{};                // what the module is handed: this checkout's own
    };

    Host* host = nullptr;
    Instance* instance = nullptr;
    const FrameCall* request = nullptr;
    FrameResult* result = nullptr;
    std::map<A_long, LayerCheckout> checkouts; // by checkout id
    std::map<A_long, PixelsOut> pixels_out;    // by checkout id (map nodes never move)
    std::unique_ptr<HostWorld> output;
    bool output_made = false;
    PF_LRect result_rect{}; // of the pre-render
    int64_t abort_polls = 0;

    FrameState() = default;
    FrameState(const FrameState&) = delete;
    FrameState& operator=(const FrameState&) = delete;
    ~FrameState(); // frees the worlds; checkouts never checked in stay counted
};

// The smart callbacks and the world suite's functions, for tests that build
// their own extra records.
PF_PreRenderCallbacks pre_render_callbacks();
PF_SmartRenderCallbacks smart_render_callbacks();

} // namespace hostsim
