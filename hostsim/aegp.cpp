// The AEGP suites over the host's own parameter streams: effect references,
// one stream per parameter, values at a time, and the dynamic (hidden) flags.

#include "hostsim/host.h"
#include "hostsim/instance.h"
#include "hostsim/suites.h"

#include <cmath>
#include <cstring>
#include <string>

namespace hostsim {
namespace {

template <typename Work> A_Err aegp_call(const char* function, std::string detail, Work&& work) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    return context->host->calls.run(function, std::move(detail), std::forward<Work>(work));
}

// Slots no module of ours calls: counted and logged, and refused.
template <const char* Name, typename... Args> A_Err unsupported(Args...) {
    return aegp_call(Name, "", [] { return PF_Err_INVALID_CALLBACK; });
}

// A colour channel of a stream value (0..1) as the host's 8 bits.
A_u_char channel(double value) {
    const double scaled = value * 255.0 + 0.5;
    if (!(scaled > 0.0)) {
        return 0;
    }
    return scaled < 255.0 ? static_cast<A_u_char>(scaled) : A_u_char{255};
}

bool has_value(PF_ParamType type) {
    return type != PF_Param_GROUP_START && type != PF_Param_GROUP_END;
}

// How the ledger names a stream: by the parameter it belongs to.
std::string stream_name(PF_ParamIndex index) {
    return "parameter " + std::to_string(index);
}

std::string stream_detail(const std::optional<StreamTarget>& target) {
    return target ? "parameter " + std::to_string(target->index) : std::string("(unknown stream)");
}

// ---- "AEGP PF Interface Suite" 1 ----

A_Err get_effect_layer(PF_ProgPtr effect_ref, AEGP_LayerH* layer) {
    return aegp_call("AEGP_GetEffectLayer", "", [&]() -> A_Err {
        CommandContext* context = context_from(effect_ref);
        if (context == nullptr || context->instance == nullptr || layer == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        // An opaque handle that stays valid while the instance lives.
        *layer = reinterpret_cast<AEGP_LayerH>(context->instance);
        return PF_Err_NONE;
    });
}

A_Err get_new_effect_for_effect(AEGP_PluginID plugin_id, PF_ProgPtr effect_ref,
                                AEGP_EffectRefH* effect) {
    return aegp_call(
        "AEGP_GetNewEffectForEffect", "plug-in " + std::to_string(plugin_id), [&]() -> A_Err {
            CommandContext* context = context_from(effect_ref);
            if (context == nullptr || context->instance == nullptr || effect == nullptr) {
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            *effect = context->host->aegp.new_effect_ref(context->instance);
            context->host->ledger.note(Resource::kEffectRef, 1, "effect reference");
            return PF_Err_NONE;
        });
}

constexpr char kConvertEffectToCompTime[] = "AEGP_ConvertEffectToCompTime";
constexpr char kGetEffectCamera[] = "AEGP_GetEffectCamera";
constexpr char kGetEffectCameraMatrix[] = "AEGP_GetEffectCameraMatrix";

const AEGP_PFInterfaceSuite1 g_pf_interface_suite = {
    get_effect_layer, get_new_effect_for_effect, unsupported<kConvertEffectToCompTime>,
    unsupported<kGetEffectCamera>, unsupported<kGetEffectCameraMatrix>};

// ---- "AEGP Stream Suite" 11 ----

A_Err get_effect_num_param_streams(AEGP_EffectRefH effect, A_long* count) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("AEGP_GetEffectNumParamStreams", "", [&]() -> A_Err {
        Instance* instance = host.aegp.effect_ref_target(effect);
        if (instance == nullptr || count == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *count = instance->param_count();
        return PF_Err_NONE;
    });
}

A_Err get_new_effect_stream_by_index(AEGP_PluginID /*plugin_id*/, AEGP_EffectRefH effect,
                                     PF_ParamIndex index, AEGP_StreamRefH* stream) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("AEGP_GetNewEffectStreamByIndex", "parameter " + std::to_string(index),
                          [&]() -> A_Err {
                              Instance* instance = host.aegp.effect_ref_target(effect);
                              if (instance == nullptr || stream == nullptr) {
                                  return PF_Err_BAD_CALLBACK_PARAM;
                              }
                              if (index < 0 || index >= instance->param_count()) {
                                  return PF_Err_INVALID_INDEX;
                              }
                              *stream = host.aegp.new_stream(instance, index);
                              host.ledger.note(Resource::kStream, 1, stream_name(index));
                              return PF_Err_NONE;
                          });
}

A_Err dispose_stream(AEGP_StreamRefH stream) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    const std::optional<StreamTarget> target = host.aegp.stream_target(stream);
    return host.calls.run("AEGP_DisposeStream", stream_detail(target), [&]() -> A_Err {
        if (!host.aegp.dispose_stream(stream)) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        host.ledger.note(Resource::kStream, -1, stream_name(target->index));
        return PF_Err_NONE;
    });
}

A_Err get_new_stream_value(AEGP_PluginID /*plugin_id*/, AEGP_StreamRefH stream,
                           AEGP_LTimeMode time_mode, const A_Time* time,
                           A_Boolean /*pre_expression*/, AEGP_StreamValue2* value) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    const std::optional<StreamTarget> target = host.aegp.stream_target(stream);
    std::string detail = stream_detail(target);
    if (time != nullptr) {
        detail += " at " + std::to_string(time->value) + "/" + std::to_string(time->scale);
    }
    return host.calls.run("AEGP_GetNewStreamValue", detail, [&]() -> A_Err {
        if (!target || time == nullptr || value == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (time_mode != AEGP_LTimeMode_LayerTime && time_mode != AEGP_LTimeMode_CompTime) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const PF_ParamType type = target->instance->definition(target->index).param_type;
        if (!has_value(type)) {
            return PF_Err_UNRECOGNIZED_PARAM_TYPE;
        }
        // Layer time and comp time are the same: the effect layer starts at 0.
        const ParamValue at = target->instance->value_at(target->index, time->value, time->scale);
        std::memset(value, 0, sizeof(*value));
        value->streamH = stream;
        switch (type) {
        case PF_Param_LAYER:
            value->val.layer_id = whole(at.number);
            break;
        case PF_Param_COLOR:
            value->val.color.alphaF = at.color.alpha / 255.0;
            value->val.color.redF = at.color.red / 255.0;
            value->val.color.greenF = at.color.green / 255.0;
            value->val.color.blueF = at.color.blue / 255.0;
            break;
        default:
            value->val.one_d = at.number;
            break;
        }
        host.aegp.note_stream_value(stream);
        host.ledger.note(Resource::kStreamValue, 1, "stream value");
        return PF_Err_NONE;
    });
}

A_Err dispose_stream_value(AEGP_StreamValue2* value) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("AEGP_DisposeStreamValue", "", [&]() -> A_Err {
        if (value == nullptr || !host.aegp.dispose_stream_value(value->streamH)) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        host.ledger.note(Resource::kStreamValue, -1, "stream value");
        return PF_Err_NONE;
    });
}

A_Err set_stream_value(AEGP_PluginID /*plugin_id*/, AEGP_StreamRefH stream,
                       AEGP_StreamValue2* value) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    const std::optional<StreamTarget> target = host.aegp.stream_target(stream);
    return host.calls.run("AEGP_SetStreamValue", stream_detail(target), [&]() -> A_Err {
        if (!target || value == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        Instance& instance = *target->instance;
        const PF_ParamType type = instance.definition(target->index).param_type;
        if (!has_value(type)) {
            return PF_Err_UNRECOGNIZED_PARAM_TYPE;
        }
        // A value set through a stream replaces any keyframes with a constant.
        switch (type) {
        case PF_Param_LAYER:
            instance.set_value(target->index, value->val.layer_id);
            break;
        case PF_Param_COLOR:
            instance.set_color(target->index, PF_Pixel{channel(value->val.color.alphaF),
                                                       channel(value->val.color.redF),
                                                       channel(value->val.color.greenF),
                                                       channel(value->val.color.blueF)});
            break;
        default:
            instance.set_value(target->index, value->val.one_d);
            break;
        }
        return PF_Err_NONE;
    });
}

constexpr char kIsStreamLegal[] = "AEGP_IsStreamLegal";
constexpr char kCanVaryOverTime[] = "AEGP_CanVaryOverTime";
constexpr char kGetValidInterpolations[] = "AEGP_GetValidInterpolations";
constexpr char kGetNewLayerStream[] = "AEGP_GetNewLayerStream";
constexpr char kGetNewMaskStream[] = "AEGP_GetNewMaskStream";
constexpr char kGetStreamName[] = "AEGP_GetStreamName";
constexpr char kGetStreamUnitsText[] = "AEGP_GetStreamUnitsText";
constexpr char kGetStreamProperties[] = "AEGP_GetStreamProperties";
constexpr char kIsStreamTimevarying[] = "AEGP_IsStreamTimevarying";
constexpr char kGetStreamType[] = "AEGP_GetStreamType";

const AEGP_StreamSuite6 g_stream_suite = {unsupported<kIsStreamLegal>,
                                          unsupported<kCanVaryOverTime>,
                                          unsupported<kGetValidInterpolations>,
                                          unsupported<kGetNewLayerStream>,
                                          get_effect_num_param_streams,
                                          get_new_effect_stream_by_index,
                                          unsupported<kGetNewMaskStream>,
                                          dispose_stream,
                                          unsupported<kGetStreamName>,
                                          unsupported<kGetStreamUnitsText>,
                                          unsupported<kGetStreamProperties>,
                                          unsupported<kIsStreamTimevarying>,
                                          unsupported<kGetStreamType>,
                                          get_new_stream_value,
                                          dispose_stream_value,
                                          set_stream_value};

// ---- "AEGP Effect Suite" 5 ----

A_Err dispose_effect(AEGP_EffectRefH effect) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("AEGP_DisposeEffect", "", [&]() -> A_Err {
        if (!host.aegp.dispose_effect_ref(effect)) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        host.ledger.note(Resource::kEffectRef, -1, "effect reference");
        return PF_Err_NONE;
    });
}

constexpr char kGetLayerNumEffects[] = "AEGP_GetLayerNumEffects";
constexpr char kGetLayerEffectByIndex[] = "AEGP_GetLayerEffectByIndex";
constexpr char kGetInstalledKeyFromLayerEffect[] = "AEGP_GetInstalledKeyFromLayerEffect";
constexpr char kGetEffectParamUnionByIndex[] = "AEGP_GetEffectParamUnionByIndex";
constexpr char kGetEffectFlags[] = "AEGP_GetEffectFlags";
constexpr char kSetEffectFlags[] = "AEGP_SetEffectFlags";
constexpr char kReorderEffect[] = "AEGP_ReorderEffect";
constexpr char kEffectCallGeneric[] = "AEGP_EffectCallGeneric";

const AEGP_EffectSuite5 g_effect_suite = {unsupported<kGetLayerNumEffects>,
                                          unsupported<kGetLayerEffectByIndex>,
                                          unsupported<kGetInstalledKeyFromLayerEffect>,
                                          unsupported<kGetEffectParamUnionByIndex>,
                                          unsupported<kGetEffectFlags>,
                                          unsupported<kSetEffectFlags>,
                                          unsupported<kReorderEffect>,
                                          unsupported<kEffectCallGeneric>,
                                          dispose_effect};

// ---- "AEGP Dynamic Stream Suite" 5 ----

A_Err get_dynamic_stream_flags(AEGP_StreamRefH stream, AEGP_DynStreamFlags* flags) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    const std::optional<StreamTarget> target = host.aegp.stream_target(stream);
    return host.calls.run("AEGP_GetDynamicStreamFlags", stream_detail(target), [&]() -> A_Err {
        if (!target || flags == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *flags = target->instance->stream_flags(target->index);
        return PF_Err_NONE;
    });
}

A_Err set_dynamic_stream_flag(AEGP_StreamRefH stream, AEGP_DynStreamFlags one_flag,
                              A_Boolean undoable, A_Boolean set) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    const std::optional<StreamTarget> target = host.aegp.stream_target(stream);
    const std::string detail = stream_detail(target) + " flag " + std::to_string(one_flag) +
                               (set != 0 ? " set" : " clear");
    return host.calls.run("AEGP_SetDynamicStreamFlag", detail, [&]() -> A_Err {
        if (!target) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        // Without undo only the hidden flag may change.
        if (undoable == 0 && one_flag != AEGP_DynStreamFlag_HIDDEN) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        Instance& instance = *target->instance;
        const AEGP_DynStreamFlags flags = instance.stream_flags(target->index);
        instance.set_stream_flags(target->index, set != 0 ? flags | one_flag : flags & ~one_flag);
        return PF_Err_NONE;
    });
}

constexpr char kGetNewStreamRefForLayer[] = "AEGP_GetNewStreamRefForLayer";
constexpr char kGetNewStreamRefForMask[] = "AEGP_GetNewStreamRefForMask";
constexpr char kGetStreamDepth[] = "AEGP_GetStreamDepth";
constexpr char kGetStreamGroupingType[] = "AEGP_GetStreamGroupingType";
constexpr char kGetNumStreamsInGroup[] = "AEGP_GetNumStreamsInGroup";

const AEGP_DynamicStreamSuite4 g_dynamic_stream_suite = {unsupported<kGetNewStreamRefForLayer>,
                                                         unsupported<kGetNewStreamRefForMask>,
                                                         unsupported<kGetStreamDepth>,
                                                         unsupported<kGetStreamGroupingType>,
                                                         unsupported<kGetNumStreamsInGroup>,
                                                         get_dynamic_stream_flags,
                                                         set_dynamic_stream_flag};

} // namespace

const AEGP_PFInterfaceSuite1* pf_interface_suite_table() {
    return &g_pf_interface_suite;
}

const AEGP_StreamSuite6* stream_suite_table() {
    return &g_stream_suite;
}

const AEGP_EffectSuite5* effect_suite_table() {
    return &g_effect_suite;
}

const AEGP_DynamicStreamSuite4* dynamic_stream_suite_table() {
    return &g_dynamic_stream_suite;
}

} // namespace hostsim
