// A stand-in effect module for testing the emulated host itself. It does
// what a test asks through the frame's time (current_time picks a scenario)
// and answers with a code that says what it saw.

#include "host/ae_sdk.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Codes the fake answers with when something is not as it should be.
constexpr PF_Err kOutputNotZeroed = 901;
constexpr PF_Err kWrongData = 902;
constexpr PF_Err kWrongRequest = 903;
constexpr PF_Err kReportBase = 1000;

std::atomic<int> g_deletions{0};
int g_record = 7; // the pre-render data of every scenario

void delete_record(void* data) {
    if (data == &g_record) {
        ++g_deletions;
    }
}

bool all_zero(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

PF_Err setup_params(PF_InData* in_data, PF_OutData* out_data) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_FLOAT_SLIDER;
    std::strcpy(def.name, "Value");
    def.u.fs_d.value = 3.0;
    def.uu.id = 1;
    PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    if (err != PF_Err_NONE) {
        return err;
    }
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_LAYER;
    std::strcpy(def.name, "Other");
    def.uu.id = 2;
    err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    out_data->num_params = 3;
    return err;
}

PF_CheckoutResult checkout(PF_InData* in_data, PF_PreRenderExtra* extra, PF_ParamIndex index,
                           A_long id, PF_Err* err) {
    PF_RenderRequest request = extra->input->output_request;
    PF_CheckoutResult result;
    std::memset(&result, 0, sizeof(result));
    *err =
        extra->cb->checkout_layer(in_data->effect_ref, index, id, &request, in_data->current_time,
                                  in_data->time_step, in_data->time_scale, &result);
    return result;
}

PF_Err pre_render(PF_InData* in_data, PF_PreRenderExtra* extra) {
    PF_PreRenderOutput& output = *extra->output;
    PF_Err err = PF_Err_NONE;
    switch (in_data->current_time) {
    case 1: { // adopt
        if (!all_zero(&output, sizeof(output))) {
            return kOutputNotZeroed;
        }
        const PF_RenderRequest& request = extra->input->output_request;
        if (request.rect.right != (in_data->width + 1) / 2 || request.field != PF_Field_FRAME ||
            request.channel_mask != PF_ChannelMask_ARGB || extra->input->bitdepth != 16) {
            return kWrongRequest;
        }
        output.result_rect = PF_LRect{0, 0, 5, 3};
        output.max_result_rect = output.result_rect;
        output.pre_render_data = &g_record;
        output.delete_pre_render_data_func = delete_record;
        return PF_Err_NONE;
    }
    case 2: // set the data, then fail
        output.pre_render_data = &g_record;
        output.delete_pre_render_data_func = delete_record;
        return 1234;
    case 3: // report
        return kReportBase + g_deletions.load();
    case 4: // the same checkout id twice
        checkout(in_data, extra, 0, 5, &err);
        if (err != PF_Err_NONE) {
            return kWrongRequest;
        }
        checkout(in_data, extra, 0, 5, &err);
        return err;
    case 5: { // a parameter that does not exist
        PF_ParamDef def;
        return in_data->inter.checkout_param(in_data->effect_ref, 9999, 0, 1, 30, &def);
    }
    case 6: { // checking in what was never checked out
        PF_ParamDef def;
        std::memset(&def, 0, sizeof(def));
        return in_data->inter.checkin_param(in_data->effect_ref, &def);
    }
    case 7: // a layer checkout of a slider
        checkout(in_data, extra, 1, 5, &err);
        return err;
    case 8:    // pixels checked in twice (in render)
    case 9:    // pixels of an id never checked out (in render)
    case 10:   // pixel formats (in render)
    case 11: { // pixels never checked in (in render)
        const PF_CheckoutResult result = checkout(in_data, extra, 0, 3, &err);
        if (err != PF_Err_NONE) {
            return err;
        }
        output.result_rect = PF_LRect{0, 0, result.ref_width, result.ref_height};
        output.pre_render_data = &g_record;
        output.delete_pre_render_data_func = delete_record;
        return PF_Err_NONE;
    }
    default:
        return PF_Err_NONE;
    }
}

PF_Err render(PF_InData* in_data, PF_SmartRenderExtra* extra) {
    if (extra->input->pre_render_data != &g_record) {
        return kWrongData;
    }
    PF_Err err = PF_Err_NONE;
    switch (in_data->current_time) {
    case 1: { // write each pixel's own position through rowbytes
        PF_EffectWorld* output = nullptr;
        err = extra->cb->checkout_output(in_data->effect_ref, &output);
        if (err != PF_Err_NONE || output == nullptr || output->data == nullptr) {
            return err;
        }
        for (A_long y = 0; y < output->height; ++y) {
            auto* row = reinterpret_cast<unsigned char*>(output->data) +
                        static_cast<std::ptrdiff_t>(y) * output->rowbytes;
            for (A_long x = 0; x < output->width * 8; ++x) {
                row[x] = static_cast<unsigned char>(x + y);
            }
        }
        return PF_Err_NONE;
    }
    case 8: {
        PF_EffectWorld* pixels = nullptr;
        err = extra->cb->checkout_layer_pixels(in_data->effect_ref, 3, &pixels);
        if (err != PF_Err_NONE) {
            return err;
        }
        err = extra->cb->checkin_layer_pixels(in_data->effect_ref, 3);
        if (err != PF_Err_NONE) {
            return kWrongRequest;
        }
        return extra->cb->checkin_layer_pixels(in_data->effect_ref, 3);
    }
    case 9: {
        PF_EffectWorld* pixels = nullptr;
        return extra->cb->checkout_layer_pixels(in_data->effect_ref, 77, &pixels);
    }
    case 10: { // the pixel format of the layer's world, and of a world not the host's
        PF_EffectWorld* pixels = nullptr;
        err = extra->cb->checkout_layer_pixels(in_data->effect_ref, 3, &pixels);
        if (err != PF_Err_NONE || pixels == nullptr) {
            return kWrongRequest;
        }
        const void* suite = nullptr;
        in_data->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        const auto* world_suite = static_cast<const PF_WorldSuite2*>(suite);
        PF_PixelFormat format = 0;
        const PF_Err known = world_suite->PF_GetPixelFormat(pixels, &format);
        PF_EffectWorld own = *pixels;
        PF_PixelFormat other = 0;
        const PF_Err unknown = world_suite->PF_GetPixelFormat(&own, &other);
        in_data->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        extra->cb->checkin_layer_pixels(in_data->effect_ref, 3);
        if (known != PF_Err_NONE || format != PF_PixelFormat_ARGB128) {
            return kWrongRequest;
        }
        return unknown;
    }
    case 11: {
        PF_EffectWorld* pixels = nullptr;
        return extra->cb->checkout_layer_pixels(in_data->effect_ref, 3, &pixels);
    }
    default:
        return PF_Err_NONE;
    }
}

// A test makes one command fail with HOSTSIM_FAKE_FAIL="<command> <code>"
// (command -1: the registration); the fake then answers with `code`.
bool told_to_fail(int command, int& code) {
    const char* told = std::getenv("HOSTSIM_FAKE_FAIL");
    int which = 0;
    return told != nullptr && std::sscanf(told, "%d %d", &which, &code) == 2 && which == command;
}

} // namespace

FAKE_EXPORT A_Err PluginDataEntryFunction2(PF_PluginDataPtr in_ptr, PF_PluginDataCB2 callback,
                                           SPBasicSuite* /*basic*/, const char* /*host_name*/,
                                           const char* /*host_version*/) {
    if (int code = 0; told_to_fail(-1, code)) {
        return code;
    }
    const auto text = [](const char* s) { return reinterpret_cast<const A_u_char*>(s); };
    return callback(in_ptr, text("Fake"), text("Test Fake"), text("Test"), text("EffectMain"),
                    0x65464B54, 13, 28, 8, text(""));
}

FAKE_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                              PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/, void* extra) {
    if (int code = 0; told_to_fail(cmd, code)) {
        std::strcpy(out_data->return_msg, "fake refused");
        return code;
    }
    switch (cmd) {
    case PF_Cmd_PARAMS_SETUP:
        return setup_params(in_data, out_data);
    case PF_Cmd_SMART_PRE_RENDER:
        return pre_render(in_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
        return render(in_data, static_cast<PF_SmartRenderExtra*>(extra));
    default:
        return PF_Err_NONE;
    }
}
