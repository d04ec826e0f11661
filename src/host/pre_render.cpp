#include "host/pre_render.h"

#include "frame/param_table.h"
#include "frame/settings_read.h"
#include "host/host_error.h"
#include "host/param_checkout.h"

#include <memory>
#include <vector>

namespace pointillo {
namespace {

// Everything one pre-render command needs to check layers out.
struct LayerCheckouts {
    PF_InData& in_data;
    PF_PreRenderExtra& extra;
    PF_RenderRequest request; // the output request, rectangle emptied, all channels
    A_long next_id = 100;     // ids 100 to 115 probe the slots

    PF_CheckoutResult checkout(int32_t slot_id, A_long time, const PF_LRect& rect, A_long id) {
        PF_RenderRequest req = request;
        req.rect = rect;
        PF_CheckoutResult result{};
        throw_if_error(extra.cb->checkout_layer(in_data.effect_ref, param_index_of(slot_id), id,
                                                &req, time, in_data.time_step, in_data.time_scale,
                                                &result));
        return result;
    }

    PF_CheckoutResult probe(int32_t slot_id, A_long time) {
        return checkout(slot_id, time, PF_LRect{0, 0, 0, 0}, next_id++);
    }

    // Probe, then ask for the whole layer (not only the part the output
    // request covers) under a second id, which becomes the source's key.
    SourceRef with_pixels(int32_t slot_id, A_long time) {
        const PF_CheckoutResult probed = probe(slot_id, time);
        const A_long id = next_id++;
        const PF_CheckoutResult result = checkout(slot_id, time, probed.max_result_rect, id);
        return SourceRef{id,
                         result.ref_width,
                         result.ref_height,
                         {result.result_rect.left, result.result_rect.top, result.result_rect.right,
                          result.result_rect.bottom}};
    }
};

} // namespace

void delete_pre_render_data(void* pre_render_data) {
    delete static_cast<PreRenderData*>(pre_render_data);
}

void smart_pre_render(PF_InData* in_data, PF_PreRenderExtra* extra) {
    const PF_InData& in = *in_data;
    const auto read = [&in](int32_t index, int32_t time) {
        return checkout_param_value(in, index, time);
    };
    const Settings settings = read_settings(read, in.current_time);

    PlanRequest request;
    request.time = in.current_time;
    request.time_scale = in.time_scale;
    request.downsample_x = downsample_factor(in.downsample_x.num, in.downsample_x.den);
    request.downsample_y = downsample_factor(in.downsample_y.num, in.downsample_y.den);
    // Refused before any layer is checked out.
    request.output = output_size(request.downsample_x, request.downsample_y, in.width, in.height);

    LayerCheckouts layers{*in_data, *extra, extra->input->output_request};
    layers.request.rect = PF_LRect{0, 0, 0, 0};
    layers.request.channel_mask = PF_ChannelMask_ARGB;

    std::vector<int32_t> active; // slot ids that hold a layer, in slot order
    for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
        const PF_CheckoutResult probed = layers.probe(source_slot_id(slot), in.current_time);
        if (probed.ref_width > 0 && probed.ref_height > 0) {
            active.push_back(source_slot_id(slot));
        }
    }
    request.active_count = static_cast<int32_t>(active.size());

    const auto checkout = [&](int32_t position, int32_t time) {
        return layers.with_pixels(active[static_cast<size_t>(position)], time);
    };
    auto data = std::make_unique<PreRenderData>(plan_frame(settings, request, {read, checkout}));

    PF_PreRenderOutput& output = *extra->output;
    output.result_rect = PF_LRect{0, 0, data->output_width, data->output_height};
    output.max_result_rect = output.result_rect;
    output.solid = false;
    output.flags =
        static_cast<PF_RenderOutputFlags>(output.flags | PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
    output.pre_render_data = data.release();
    output.delete_pre_render_data_func = delete_pre_render_data;
}

} // namespace pointillo
