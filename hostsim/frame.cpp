#include "hostsim/frame.h"

#include "hostsim/command.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace hostsim {
namespace {

constexpr int32_t kLargestSide = 30000;

std::string checkout_what(A_long checkout_id, int32_t layer_id) {
    return "checkout " + std::to_string(checkout_id) + " (layer " + std::to_string(layer_id) + ")";
}

int32_t whole_or_zero(double number) {
    if (!(number > -2147483649.0 && number < 2147483648.0)) {
        return 0;
    }
    return static_cast<int32_t>(number);
}

// The running render command's frame, or null (then the call is refused).
FrameState* frame_of(CommandContext* context, PF_Cmd cmd) {
    if (context == nullptr || context->frame == nullptr || context->cmd != cmd) {
        return nullptr;
    }
    return context->frame;
}

// ---- PF_PreRenderCallbacks ----

PF_Err checkout_layer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                      const PF_RenderRequest* req, A_long what_time, A_long time_step,
                      A_u_long time_scale, PF_CheckoutResult* checkout_result) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    const std::string detail = std::to_string(index) + " id " + std::to_string(checkout_id) +
                               " at " + std::to_string(what_time) + "/" +
                               std::to_string(time_scale) + " step " + std::to_string(time_step);
    return host.calls.run("checkout_layer", detail, [&]() -> PF_Err {
        FrameState* frame = frame_of(context, PF_Cmd_SMART_PRE_RENDER);
        if (frame == nullptr || req == nullptr || checkout_result == nullptr || checkout_id < 0) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        Instance& instance = *frame->instance;
        if (index < 0 || index >= instance.param_count() ||
            instance.definition(index).param_type != PF_Param_LAYER) {
            return PF_Err_INVALID_INDEX;
        }
        // Ids belong to the frame; using one twice is the effect's error.
        if (frame->checkouts.count(checkout_id) != 0) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        LayerCheckout record;
        record.checkout_id = checkout_id;
        record.index = index;
        record.time = what_time;
        record.request_rect = req->rect;
        const int32_t layer_id =
            whole_or_zero(instance.value_at(index, what_time, time_scale).number);
        PF_CheckoutResult& result = record.result;
        std::memset(&result, 0, sizeof(result));
        result.par = PF_RationalScale{1, 1};
        if (const auto size = host.layers.size(layer_id)) {
            const FrameCall& request = *frame->request;
            record.layer_id = layer_id;
            result.ref_width = size->first;
            result.ref_height = size->second;
            result.result_rect = PF_LRect{0, 0, downsampled(size->first, request.downsample_x),
                                          downsampled(size->second, request.downsample_y)};
            result.max_result_rect = result.result_rect;
        }
        *checkout_result = result;
        frame->checkouts.emplace(checkout_id, record);
        frame->result->layer_checkouts.push_back(record);
        return PF_Err_NONE;
    });
}

PF_Err guid_mix_in(PF_ProgPtr effect_ref, A_u_long size, const void* /*buf*/) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->calls.run("GuidMixInPtr", std::to_string(size),
                                    [] { return PF_Err_NONE; });
}

// ---- PF_SmartRenderCallbacks ----

PF_Err checkout_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("checkout_layer_pixels", std::to_string(checkout_id), [&]() -> PF_Err {
        FrameState* frame = frame_of(context, PF_Cmd_SMART_RENDER);
        if (frame == nullptr || pixels == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *pixels = nullptr;
        auto checkout = frame->checkouts.find(checkout_id);
        if (checkout == frame->checkouts.end()) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const int32_t layer_id = checkout->second.layer_id;
        FrameState::PixelsOut& out = frame->pixels_out[checkout_id];
        out.layer_id = layer_id;
        if (out.count == 0) {
            const FrameCall& request = *frame->request;
            const PF_CheckoutResult& result = checkout->second.result;
            if (layer_id != 0 && request.layer_worlds != WorldMode::kAbsent) {
                const LayerRequest layer_request{request.depth, request.downsample_x,
                                                 request.downsample_y, result.result_rect.right,
                                                 result.result_rect.bottom};
                if (request.layer_worlds == WorldMode::kNoPixels) {
                    out.world = make_world(layer_request.width, layer_request.height,
                                           pixel_format_of(request.depth), false);
                } else {
                    out.world = host.layers.world(layer_id, layer_request);
                    if (out.world == nullptr) {
                        frame->pixels_out.erase(checkout_id);
                        return PF_Err_INTERNAL_STRUCT_DAMAGED; // a layer that cannot render
                    }
                }
                out.record = out.world->world;
                host.worlds.add(&out.record, out.world->format);
            }
        }
        ++out.count;
        host.ledger.note(Resource::kLayerPixels, 1, checkout_what(checkout_id, layer_id));
        frame->result->pixel_checkouts.push_back(PixelCheckout{checkout_id, layer_id});
        *pixels = out.world != nullptr ? &out.record : nullptr;
        return PF_Err_NONE;
    });
}

PF_Err checkin_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("checkin_layer_pixels", std::to_string(checkout_id), [&]() -> PF_Err {
        FrameState* frame = frame_of(context, PF_Cmd_SMART_RENDER);
        if (frame == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        auto out = frame->pixels_out.find(checkout_id);
        if (out == frame->pixels_out.end() || out->second.count <= 0) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        host.ledger.note(Resource::kLayerPixels, -1,
                         checkout_what(checkout_id, out->second.layer_id));
        if (--out->second.count == 0) {
            // The record goes now: PF_GetPixelFormat refuses it after check-in.
            if (out->second.world != nullptr) {
                host.worlds.remove(&out->second.record);
            }
            frame->pixels_out.erase(out);
        }
        return PF_Err_NONE;
    });
}

PF_Err checkout_output(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("checkout_output", "", [&]() -> PF_Err {
        FrameState* frame = frame_of(context, PF_Cmd_SMART_RENDER);
        if (frame == nullptr || output == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *output = nullptr;
        const FrameCall& request = *frame->request;
        if (request.output == WorldMode::kAbsent) {
            return PF_Err_NONE;
        }
        if (!frame->output_made) {
            int32_t width = std::max(frame->result_rect.right - frame->result_rect.left, 0);
            int32_t height = std::max(frame->result_rect.bottom - frame->result_rect.top, 0);
            if (request.output_size) {
                width = request.output_size->first;
                height = request.output_size->second;
            }
            const PF_PixelFormat format = pixel_format_of(request.depth);
            frame->output =
                request.output_storage != nullptr && request.output == WorldMode::kNormal
                    ? make_world_in(*request.output_storage, width, height, format)
                    : make_world(width, height, format, request.output == WorldMode::kNormal);
            host.worlds.add(&frame->output->world, frame->output->format);
            frame->output_made = true;
        }
        *output = &frame->output->world;
        return PF_Err_NONE;
    });
}

// ---- the frame ----

// The pre-render data the host adopted; deleted exactly once, through the
// module's own function (the module may use another runtime's heap).
struct AdoptedData {
    Host& host;
    FrameResult& result;
    void* data = nullptr;
    PF_DeletePreRenderDataFunc deleter = nullptr;

    AdoptedData(Host& h, FrameResult& r) : host(h), result(r) {}
    AdoptedData(const AdoptedData&) = delete;
    AdoptedData& operator=(const AdoptedData&) = delete;
    ~AdoptedData() {
        if (data == nullptr) {
            return;
        }
        if (deleter != nullptr) {
            deleter(data);
            ++result.pre_render_data_deletions;
            host.ledger.note_pre_render_deletion();
            host.ledger.note(Resource::kPreRenderData, -1, "pre-render data");
        }
        // Without a deletion function the record stays counted as outstanding.
    }
};

PF_InData frame_in_data(const FrameCall& request) {
    PF_InData in_data = default_in_data();
    in_data.current_time = request.time;
    in_data.time_step = request.time_step;
    in_data.local_time_step = request.time_step;
    in_data.time_scale = request.time_scale;
    in_data.width = request.width;
    in_data.height = request.height;
    in_data.extent_hint = PF_LRect{0, 0, request.width, request.height};
    in_data.downsample_x = request.downsample_x;
    in_data.downsample_y = request.downsample_y;
    return in_data;
}

void keep_messages(const CommandIo& io, FrameResult& result) {
    const char* message = io.out_data.return_msg;
    result.return_msg.assign(message, strnlen(message, sizeof(io.out_data.return_msg)));
    result.out_flags = io.out_data.out_flags;
}

} // namespace

FrameState::~FrameState() {
    for (auto& [id, out] : pixels_out) {
        if (out.world != nullptr) {
            host->worlds.remove(&out.record);
        }
    }
    if (output != nullptr) {
        host->worlds.remove(&output->world);
    }
}

PF_PreRenderCallbacks pre_render_callbacks() {
    return PF_PreRenderCallbacks{checkout_layer, guid_mix_in};
}

PF_SmartRenderCallbacks smart_render_callbacks() {
    return PF_SmartRenderCallbacks{checkout_layer_pixels, checkin_layer_pixels, checkout_output};
}

FrameResult render_frame(Host& host, const Module& module, Instance& instance,
                         const FrameCall& request) {
    pixel_format_of(request.depth); // refuses a depth other than 8, 16 or 32
    if (request.width < 1 || request.height < 1 || request.width > kLargestSide ||
        request.height > kLargestSide) {
        throw std::invalid_argument("the effect layer must be 1 to 30000 pixels a side");
    }

    FrameResult result;
    FrameState frame;
    frame.host = &host;
    frame.instance = &instance;
    frame.request = &request;
    frame.result = &result;
    AdoptedData adopted(host, result);

    PF_RenderRequest output_request;
    std::memset(&output_request, 0, sizeof(output_request));
    output_request.rect = PF_LRect{0, 0, downsampled(request.width, request.downsample_x),
                                   downsampled(request.height, request.downsample_y)};
    output_request.field = PF_Field_FRAME;
    output_request.channel_mask = PF_ChannelMask_ARGB;
    const auto bitdepth = static_cast<short>(request.depth);

    // Pre-render, with a zeroed output record.
    PF_PreRenderInput pre_input;
    std::memset(&pre_input, 0, sizeof(pre_input));
    pre_input.output_request = output_request;
    pre_input.bitdepth = bitdepth;
    PF_PreRenderOutput pre_output;
    std::memset(&pre_output, 0, sizeof(pre_output));
    PF_PreRenderCallbacks pre_callbacks = pre_render_callbacks();
    PF_PreRenderExtra pre_extra{&pre_input, &pre_output, &pre_callbacks};
    {
        CommandIo io;
        io.in_data = frame_in_data(request);
        io.extra = &pre_extra;
        io.frame = &frame;
        result.pre_render_err = send_command(host, module, &instance, PF_Cmd_SMART_PRE_RENDER, io);
        result.pre_render_output = pre_output;
        result.module_seconds += io.module_seconds;
        keep_messages(io, result);
    }
    if (result.pre_render_err != PF_Err_NONE) {
        return result; // what the module left in the output record is not adopted
    }
    if (pre_output.pre_render_data != nullptr) {
        adopted.data = pre_output.pre_render_data;
        adopted.deleter = pre_output.delete_pre_render_data_func;
        result.pre_render_data_adopted = true;
        host.ledger.note(Resource::kPreRenderData, 1, "pre-render data");
    }
    frame.result_rect = pre_output.result_rect;
    if (request.inspect_pre_render) {
        request.inspect_pre_render(pre_output);
    }
    if (request.pre_render_only) {
        return result;
    }

    // Render.
    PF_SmartRenderInput render_input;
    std::memset(&render_input, 0, sizeof(render_input));
    render_input.output_request = output_request;
    render_input.bitdepth = bitdepth;
    render_input.pre_render_data = adopted.data;
    PF_SmartRenderCallbacks render_callbacks = smart_render_callbacks();
    PF_SmartRenderExtra render_extra{&render_input, &render_callbacks};
    {
        CommandIo io;
        io.in_data = frame_in_data(request);
        io.extra = &render_extra;
        io.frame = &frame;
        result.rendered = true;
        result.render_err = send_command(host, module, &instance, PF_Cmd_SMART_RENDER, io);
        result.module_seconds += io.module_seconds;
        keep_messages(io, result);
    }

    if (frame.output != nullptr) {
        const PF_EffectWorld& world = frame.output->world;
        result.output_checked_out = true;
        result.output_format = frame.output->format;
        result.output_width = world.width;
        result.output_height = world.height;
        result.output_rowbytes = world.rowbytes;
        if (frame.output->storage != nullptr) {
            const auto* bytes = frame.output->storage.get();
            result.output.assign(bytes, bytes + static_cast<std::size_t>(world.rowbytes) *
                                                    static_cast<std::size_t>(world.height));
        }
    }
    return result;
}

std::vector<std::byte> packed_output(const FrameResult& result) {
    const auto row = static_cast<std::size_t>(result.output_width) *
                     static_cast<std::size_t>(pixel_bytes(result.output_format));
    std::vector<std::byte> packed;
    if (result.output.empty()) {
        return packed;
    }
    packed.reserve(row * static_cast<std::size_t>(result.output_height));
    for (int32_t y = 0; y < result.output_height; ++y) {
        const std::byte* start =
            result.output.data() +
            static_cast<std::size_t>(y) * static_cast<std::size_t>(result.output_rowbytes);
        packed.insert(packed.end(), start, start + row);
    }
    return packed;
}

Argb output_pixel(const FrameResult& result, int32_t x, int32_t y) {
    const int32_t bytes = pixel_bytes(result.output_format);
    const std::byte* in =
        result.output.data() +
        static_cast<std::size_t>(y) * static_cast<std::size_t>(result.output_rowbytes) +
        static_cast<std::size_t>(x) * static_cast<std::size_t>(bytes);
    Argb v{};
    for (std::size_t c = 0; c < 4; ++c) {
        if (result.output_format == PF_PixelFormat_ARGB64) {
            uint16_t sample = 0;
            std::memcpy(&sample, in + 2 * c, 2);
            v[c] = static_cast<float>(sample) / 32768.0f;
        } else if (result.output_format == PF_PixelFormat_ARGB128) {
            std::memcpy(&v[c], in + 4 * c, 4);
        } else {
            v[c] = static_cast<float>(std::to_integer<uint8_t>(in[c])) / 255.0f;
        }
    }
    return v;
}

bool output_padding_untouched(const FrameResult& result) {
    const auto row = static_cast<std::size_t>(result.output_width) *
                     static_cast<std::size_t>(pixel_bytes(result.output_format));
    for (int32_t y = 0; y < result.output_height && !result.output.empty(); ++y) {
        const std::size_t start =
            static_cast<std::size_t>(y) * static_cast<std::size_t>(result.output_rowbytes);
        for (std::size_t i = start + row;
             i < start + static_cast<std::size_t>(result.output_rowbytes); ++i) {
            if (result.output[i] != kUnwrittenByte) {
                return false;
            }
        }
    }
    return true;
}

} // namespace hostsim
