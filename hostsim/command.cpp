#include "hostsim/command.h"

#include <cstring>

namespace hostsim {
namespace {

std::string param_detail(PF_ParamIndex index, const PF_ParamDef* def) {
    std::string detail = std::to_string(index);
    if (def != nullptr) {
        // The name field may lack its terminator; read at most its size.
        const void* end = std::memchr(def->name, '\0', sizeof(def->name));
        const std::size_t length =
            end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - def->name)
                           : sizeof(def->name);
        detail.push_back(' ');
        detail.append(def->name, length);
    }
    return detail;
}

// ---- interact callbacks ----

PF_Err checkout_param(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                      A_long time_step, A_u_long time_scale, PF_ParamDef* param) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const std::string detail = std::to_string(index) + " at " + std::to_string(what_time) + "/" +
                               std::to_string(time_scale) + " step " + std::to_string(time_step);
    return context->host->call("checkout_param", detail, [&]() -> PF_Err {
        Instance* instance = context->instance;
        if (param == nullptr || instance == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (index < 0 || index >= instance->param_count()) {
            return PF_Err_INVALID_INDEX;
        }
        *param = instance->value(index);
        ++context->param_checkouts;
        return PF_Err_NONE;
    });
}

PF_Err checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->call("checkin_param", param_detail(-1, param), [&]() -> PF_Err {
        if (param == nullptr || context->param_checkouts <= 0) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        --context->param_checkouts;
        return PF_Err_NONE;
    });
}

PF_Err add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->call("add_param", param_detail(index, def), [&]() -> PF_Err {
        if (def == nullptr || context->instance == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        return context->instance->add_param(index, *def);
    });
}

PF_Err abort_check(PF_ProgPtr effect_ref) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.call("abort", "", [&] { return host.abort_code(); });
}

PF_Err progress(PF_ProgPtr effect_ref, A_long current, A_long total) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->call("progress", std::to_string(current) + "/" + std::to_string(total),
                               [] { return PF_Err_NONE; });
}

// ---- registration ----

struct RegistrationTarget {
    Host* host = nullptr;
    RegistrationResult* result = nullptr;
};

std::string host_text(const A_u_char* text) {
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

A_Err record_registration(PF_PluginDataPtr in_ptr, const A_u_char* name, const A_u_char* match_name,
                          const A_u_char* category, const A_u_char* entry_point, A_long kind,
                          A_long api_major, A_long api_minor, A_long reserved_info,
                          const A_u_char* support_url) {
    auto* target = reinterpret_cast<RegistrationTarget*>(in_ptr);
    if (target == nullptr || target->host == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return target->host->call("PF_PluginDataCB2", host_text(name), [&]() -> A_Err {
        target->result->calls.push_back(Registration{
            host_text(name), host_text(match_name), host_text(category), host_text(entry_point),
            kind, api_major, api_minor, reserved_info, host_text(support_url)});
        return 0;
    });
}

} // namespace

PF_InData default_in_data() {
    PF_InData in_data;
    std::memset(&in_data, 0, sizeof(in_data));
    in_data.version.major = PF_AE_PLUG_IN_VERSION;
    in_data.version.minor = PF_AE_PLUG_IN_SUBVERS;
    in_data.quality = 1;
    in_data.current_time = 0;
    in_data.time_step = 1;
    in_data.local_time_step = 1;
    in_data.total_time = 300;
    in_data.time_scale = 30;
    in_data.field = PF_Field_FRAME;
    in_data.width = 1920;
    in_data.height = 1080;
    in_data.extent_hint = PF_LRect{0, 0, 1920, 1080};
    in_data.downsample_x = PF_RationalScale{1, 1};
    in_data.downsample_y = PF_RationalScale{1, 1};
    in_data.pixel_aspect_ratio = PF_RationalScale{1, 1};
    return in_data;
}

void reset_out_fields(PF_OutData& out_data) {
    out_data.out_flags = 0;
    out_data.out_flags2 = 0;
    std::memset(out_data.return_msg, 0, sizeof(out_data.return_msg));
}

PF_Err send_command(Host& host, const Module& module, Instance* instance, PF_Cmd cmd,
                    CommandIo& io) {
    CommandScope scope(host, instance, cmd);
    PF_InteractCallbacks& inter = io.in_data.inter;
    std::memset(&inter, 0, sizeof(inter));
    inter.checkout_param = checkout_param;
    inter.checkin_param = checkin_param;
    inter.add_param = add_param;
    inter.abort = abort_check;
    inter.progress = progress;
    io.in_data.effect_ref = scope.effect_ref();
    io.in_data.pica_basicP = host.basic_suite();
    io.in_data.num_params = instance != nullptr ? instance->param_count() : 0;
    reset_out_fields(io.out_data);
    PF_ParamDef** params =
        io.params ? *io.params : (instance != nullptr ? instance->param_array() : nullptr);
    return module.effect_main()(cmd, &io.in_data, &io.out_data, params, io.output, io.extra);
}

RegistrationResult register_module(Host& host, const Module& module) {
    RegistrationResult result;
    RegistrationTarget target{&host, &result};
    // The module may reach the basic suite during registration as well.
    CommandScope scope(host, nullptr, -1);
    result.result =
        module.plugin_data_entry()(reinterpret_cast<PF_PluginDataPtr>(&target), record_registration,
                                   host.basic_suite(), "hostsim", "1.0");
    return result;
}

} // namespace hostsim
