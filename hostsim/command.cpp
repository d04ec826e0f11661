#include "hostsim/command.h"

#include "hostsim/frame.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

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
    Host& host = *context->host;
    return host.calls.run("checkout_param", detail, [&]() -> PF_Err {
        Instance* instance = context->instance;
        if (param == nullptr || instance == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (index < 0 || index >= instance->param_count()) {
            return PF_Err_INVALID_INDEX;
        }
        // The same record may not be checked out twice without a check-in.
        if (context->params_out.count(param) != 0) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *param = instance->param_at(index, what_time, time_scale);
        context->params_out.emplace(param, index);
        ++context->param_checkouts;
        context->max_param_checkouts =
            std::max(context->max_param_checkouts, context->param_checkouts);
        if (context->frame != nullptr) {
            FrameResult& result = *context->frame->result;
            result.max_param_checkouts =
                std::max(result.max_param_checkouts, context->param_checkouts);
        }
        host.ledger.note(Resource::kParam, 1, param_detail(index, &instance->definition(index)));
        return PF_Err_NONE;
    });
}

PF_Err checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Only a record checked out in this command, and not yet checked in.
    auto out = context->params_out.find(param);
    const PF_ParamIndex index = out != context->params_out.end() ? out->second : -1;
    Host& host = *context->host;
    return host.calls.run("checkin_param", param_detail(index, param), [&]() -> PF_Err {
        if (param == nullptr || out == context->params_out.end()) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        context->params_out.erase(out);
        --context->param_checkouts;
        host.ledger.note(Resource::kParam, -1,
                         param_detail(index, &context->instance->definition(index)));
        return PF_Err_NONE;
    });
}

PF_Err add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->calls.run("add_param", param_detail(index, def), [&]() -> PF_Err {
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
    // A frame counts its polls even when a fault answers in the host's place.
    FrameState* frame = context->frame;
    const int64_t poll = frame != nullptr ? ++frame->abort_polls : 0;
    if (frame != nullptr) {
        frame->result->abort_polls = poll;
    }
    return host.calls.run("abort", "", [&]() -> PF_Err {
        if (frame != nullptr && frame->request->abort) {
            return frame->request->abort(poll);
        }
        return host.abort_code();
    });
}

PF_Err progress(PF_ProgPtr effect_ref, A_long current, A_long total) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->calls.run("progress",
                                    std::to_string(current) + "/" + std::to_string(total),
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
    return target->host->calls.run("PF_PluginDataCB2", host_text(name), [&]() -> A_Err {
        target->result->calls.push_back(Registration{
            host_text(name), host_text(match_name), host_text(category), host_text(entry_point),
            kind, api_major, api_minor, reserved_info, host_text(support_url)});
        return 0;
    });
}

// Commands whose parameter array holds the values at current_time.
bool gets_values_at_time(PF_Cmd cmd) {
    return cmd == PF_Cmd_USER_CHANGED_PARAM || cmd == PF_Cmd_UPDATE_PARAMS_UI ||
           cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER;
}

// Commands after which the host takes the values the module changed.
bool applies_changes(PF_Cmd cmd) {
    return cmd == PF_Cmd_USER_CHANGED_PARAM || cmd == PF_Cmd_UPDATE_PARAMS_UI;
}

void apply_change(Instance& instance, int32_t index, const PF_ParamDef& def,
                  const PF_InData& in_data) {
    // Layers, buttons and groups do not change through the array.
    switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_POPUP:
    case PF_Param_CHECKBOX:
    case PF_Param_COLOR:
        instance.set_value_at(index, in_data.current_time, in_data.time_scale, value_in(def));
        break;
    default:
        break;
    }
}

// Times one EffectMain call into io.module_seconds.
struct Stopwatch {
    CommandIo& io;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    explicit Stopwatch(CommandIo& io_) : io(io_) {}
    Stopwatch(const Stopwatch&) = delete;
    Stopwatch& operator=(const Stopwatch&) = delete;
    ~Stopwatch() {
        io.module_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

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
    scope.context().frame = io.frame;
    if (io.params || instance == nullptr || !gets_values_at_time(cmd)) {
        PF_ParamDef** params =
            io.params ? *io.params : (instance != nullptr ? instance->param_array() : nullptr);
        const Stopwatch watch(io);
        return module.effect_main()(cmd, &io.in_data, &io.out_data, params, io.output, io.extra);
    }

    // The values at current_time, copies the module may change; no change
    // flags set on the way in.
    std::vector<PF_ParamDef> values;
    values.reserve(static_cast<std::size_t>(instance->param_count()));
    for (int32_t index = 0; index < instance->param_count(); ++index) {
        values.push_back(instance->param_at(index, io.in_data.current_time, io.in_data.time_scale));
        values.back().uu.change_flags = 0;
    }
    std::vector<PF_ParamDef*> pointers;
    for (PF_ParamDef& value : values) {
        pointers.push_back(&value);
    }
    PF_Err err = PF_Err_NONE;
    {
        const Stopwatch watch(io);
        err = module.effect_main()(cmd, &io.in_data, &io.out_data, pointers.data(), io.output,
                                   io.extra);
    }
    // Like pre-render data, changed values are taken only from a command
    // that succeeded.
    if (err == PF_Err_NONE && applies_changes(cmd)) {
        for (int32_t index = 1; index < instance->param_count(); ++index) {
            const PF_ParamDef& def = values[static_cast<std::size_t>(index)];
            if ((def.uu.change_flags & PF_ChangeFlag_CHANGED_VALUE) != 0) {
                apply_change(*instance, index, def, io.in_data);
            }
        }
    }
    return err;
}

PF_Err user_changed_param(Host& host, const Module& module, Instance& instance, PF_ParamIndex index,
                          CommandIo& io) {
    PF_UserChangedParamExtra extra{index};
    io.extra = &extra;
    const PF_Err err = send_command(host, module, &instance, PF_Cmd_USER_CHANGED_PARAM, io);
    io.extra = nullptr;
    return err;
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
