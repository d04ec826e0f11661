#include "host/source_slots.h"

#include "frame/param_table.h"
#include "host/host_error.h"
#include "host/plugin_id.h"
#include "host/scoped_suite.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace pointillo {
namespace {

constexpr char kSuiteMissing[] = "Required After Effects suite unavailable";

// The suites and the effect reference of one run. The effect reference is
// disposed first; the suites are then released in reverse order (members are
// destroyed in reverse declaration order).
struct EffectStreams {
    explicit EffectStreams(const SPBasicSuite* basic)
        : pf_interface(basic, kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1),
          streams(basic, kAEGPStreamSuite, kAEGPStreamSuiteVersion6),
          effects(basic, kAEGPEffectSuite, kAEGPEffectSuiteVersion5),
          dynamic(basic, kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion4) {}

    ~EffectStreams() {
        if (effect != nullptr && effects) {
            static_cast<void>(effects->AEGP_DisposeEffect(effect));
        }
    }

    EffectStreams(const EffectStreams&) = delete;
    EffectStreams& operator=(const EffectStreams&) = delete;

    bool complete() const { return pf_interface && streams && effects && dynamic; }

    ScopedSuite<AEGP_PFInterfaceSuite1> pf_interface;
    ScopedSuite<AEGP_StreamSuite6> streams;
    ScopedSuite<AEGP_EffectSuite5> effects;
    ScopedSuite<AEGP_DynamicStreamSuite4> dynamic;
    AEGP_EffectRefH effect = nullptr;
};

// One parameter stream; disposed when the holder goes out of scope, ignoring
// the result while a failure unwinds.
class ParamStream {
  public:
    ParamStream(const EffectStreams& bundle, int32_t id) : bundle_(bundle) {
        if (!bundle.streams) {
            throw std::runtime_error(kSuiteMissing);
        }
        throw_if_error(bundle.streams->AEGP_GetNewEffectStreamByIndex(
            aegp_plugin_id(), bundle.effect, param_index_of(id), &stream_));
    }

    ~ParamStream() {
        if (stream_ != nullptr && bundle_.streams) {
            static_cast<void>(bundle_.streams->AEGP_DisposeStream(stream_));
        }
    }

    ParamStream(const ParamStream&) = delete;
    ParamStream& operator=(const ParamStream&) = delete;

    AEGP_StreamRefH get() const { return stream_; }

    // Disposes now, on the success path.
    void dispose() {
        if (!bundle_.streams) {
            throw std::runtime_error(kSuiteMissing);
        }
        const AEGP_StreamRefH stream = stream_;
        stream_ = nullptr;
        static_cast<void>(bundle_.streams->AEGP_DisposeStream(stream));
    }

  private:
    const EffectStreams& bundle_;
    AEGP_StreamRefH stream_ = nullptr;
};

// Shows or hides one parameter; a stream already in the wanted state is left
// alone.
void set_hidden(const EffectStreams& bundle, int32_t id, bool hide) {
    ParamStream stream(bundle, id);
    if (!bundle.dynamic) {
        throw std::runtime_error(kSuiteMissing);
    }
    AEGP_DynStreamFlags flags = 0;
    A_Err result = bundle.dynamic->AEGP_GetDynamicStreamFlags(stream.get(), &flags);
    const bool hidden = (flags & AEGP_DynStreamFlag_HIDDEN) != 0;
    if (result == 0 && hidden != hide) {
        result = bundle.dynamic->AEGP_SetDynamicStreamFlag(stream.get(), AEGP_DynStreamFlag_HIDDEN,
                                                           false, hide);
    }
    stream.dispose();
    throw_if_error(result);
}

// True when slot `slot`'s layer parameter holds a layer at the command's time.
bool slot_holds_layer(const EffectStreams& bundle, const PF_InData& in_data, int32_t slot) {
    ParamStream stream(bundle, source_slot_id(slot));
    AEGP_StreamValue2 value;
    std::memset(&value, 0, sizeof(value));
    const A_Time time{in_data.current_time, in_data.time_scale};
    const A_Err result = bundle.streams->AEGP_GetNewStreamValue(
        aegp_plugin_id(), stream.get(), AEGP_LTimeMode_LayerTime, &time, false, &value);
    bool filled = false;
    if (result == 0) {
        filled = value.val.layer_id != 0;
        static_cast<void>(bundle.streams->AEGP_DisposeStreamValue(&value));
    }
    stream.dispose();
    throw_if_error(result);
    return filled;
}

// "Text Count" as an integer: truncated toward zero; values outside the int
// range (and NaN) count as the most negative int.
int32_t truncated_count(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

void clear_slot(const EffectStreams& bundle, int32_t slot) {
    ParamStream stream(bundle, source_slot_id(slot));
    AEGP_StreamValue2 value;
    std::memset(&value, 0, sizeof(value));
    value.streamH = stream.get(); // an all-zero value: layer id 0, no layer
    const A_Err result =
        bundle.streams->AEGP_SetStreamValue(aegp_plugin_id(), stream.get(), &value);
    stream.dispose();
    throw_if_error(result);
}

} // namespace

void update_source_slots(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                         PF_ParamIndex changed) {
    EffectStreams bundle(in_data->pica_basicP);
    if (!bundle.complete()) {
        return;
    }
    throw_if_error(bundle.pf_interface->AEGP_GetNewEffectForEffect(
        aegp_plugin_id(), in_data->effect_ref, &bundle.effect));
    const PF_ParamIndex text_count = param_index_of(param_id::kTextCount);
    const PF_ParamIndex match_source_colors = param_index_of(param_id::kMatchSourceColors);
    const PF_ParamIndex match_main_color = param_index_of(param_id::kMatchMainParticleColor);
    if (params == nullptr || bundle.effect == nullptr || params[text_count] == nullptr ||
        params[match_source_colors] == nullptr || params[match_main_color] == nullptr) {
        return;
    }

    // Every slot counts, hidden ones too: a filled slot is never hidden.
    int32_t highest_filled = 0;
    for (int32_t slot = 1; slot <= kSourceSlotCount; ++slot) {
        if (slot_holds_layer(bundle, *in_data, slot)) {
            highest_filled = slot;
        }
    }

    PF_ParamDef& count_param = *params[text_count];
    const int32_t current =
        std::max(std::max(std::min(truncated_count(count_param.u.fs_d.value), kSourceSlotCount),
                          highest_filled),
                 1);

    int32_t count = current;
    if (changed == param_index_of(param_id::kRemoveLastSource)) {
        clear_slot(bundle, current);
        count = std::max(current - 1, 1);
    } else if (changed == param_index_of(param_id::kAddSource)) {
        count = std::min(current + 1, kSourceSlotCount);
    }

    // A refresh of the controls shows the slots but never writes the count.
    if (changed >= 0) {
        count_param.u.fs_d.value = static_cast<PF_FpLong>(count);
        count_param.uu.change_flags |= PF_ChangeFlag_CHANGED_VALUE;
        out_data->out_flags |= PF_OutFlag_FORCE_RERENDER;
    }

    set_hidden(bundle, param_id::kTextCount, true);
    set_hidden(bundle, source_slot_id(1), false);
    for (int32_t slot = 2; slot <= kSourceSlotCount; ++slot) {
        set_hidden(bundle, source_slot_id(slot), count < slot);
    }
    set_hidden(bundle, param_id::kDotColor, params[match_source_colors]->u.bd.value != 0);
    set_hidden(bundle, param_id::kParticleColor, params[match_main_color]->u.bd.value != 0);
}

} // namespace pointillo
