#pragma once

#include "host/ae_sdk.h"
#include "hostsim/values.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace hostsim {

// Integer values (popup items, checkboxes, layer ids) as the host stores
// them; NaN is 0 and anything outside the int range saturates.
int32_t whole(double number);

// The value a definition record carries (sliders, popups, checkboxes,
// buttons, colours; zero for other kinds), and the reverse: false when the
// kind keeps no value in the record (layers, groups).
ParamValue value_in(const PF_ParamDef& def);
bool store_value(PF_ParamDef& def, const ParamValue& value);

// One applied effect: the parameter definitions its PF_Cmd_PARAMS_SETUP
// registered and the value of each parameter over time. Index 0 is the layer
// the effect is applied to.
//
// A parameter is constant (its value record, `value(index)`) or keyframed.
// Between keys a float slider interpolates linearly in double,
// v0 + (v1 - v0) x ((t - t0) / (t1 - t0)) with t = time / time_scale in
// seconds, and holds its first and last value outside them; every other kind
// holds each key's value until the next key.
//
// The setters and readers below are synchronised, so values may change while
// frames render on other threads. The references handed out by `value` and
// `param_array` are not: write through them only while no command runs.
class Instance {
  public:
    Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Parameters in the host's list, index 0 included.
    int32_t param_count() const { return static_cast<int32_t>(values_.size()); }

    // As registered through add_param (strings copied into the instance).
    const PF_ParamDef& definition(int32_t index) const { return definitions_.at(index); }

    // The index of the parameter registered under `name`, or -1.
    int32_t index_of(std::string_view name) const;
    // Like index_of, but an unknown name throws std::out_of_range.
    int32_t index_checked(std::string_view name) const;

    // The constant value record: what checkout_param hands out while the
    // parameter has no keyframes. Starts as the registered definition.
    PF_ParamDef& value(int32_t index) { return values_.at(index); }
    const PF_ParamDef& value(int32_t index) const { return values_.at(index); }

    // Pointers to the constant value records, for a command's `params`.
    PF_ParamDef** param_array();

    // The add_param behind the host callback: -1 (or the next index) appends.
    PF_Err add_param(PF_ParamIndex index, const PF_ParamDef& def);

    // ---- values over time ----
    // Makes a parameter constant: a slider's value, a popup's item (1-based),
    // a checkbox's 0 or 1, a layer parameter's layer id (0: none). Colours
    // take set_color. A kind without a value throws std::invalid_argument.
    void set_value(int32_t index, double number);
    void set_value(std::string_view name, double number);
    void set_color(int32_t index, PF_Pixel color);
    void set_color(std::string_view name, PF_Pixel color);
    // Replaces the value with keyframes, in strictly increasing time (else
    // std::invalid_argument). An empty list makes the parameter constant at
    // its current constant value.
    void set_keyframes(int32_t index, std::vector<Keyframe> keys);
    void set_keyframes(std::string_view name, std::vector<Keyframe> keys);
    // Sets the value at `time` the way a user's edit does: a keyframed
    // parameter gets (or changes) a key at that time, a constant one changes.
    void set_value_at(int32_t index, A_long time, A_u_long time_scale, const ParamValue& value);
    bool keyframed(int32_t index) const;
    // Its keyframes; empty while the parameter is constant.
    std::vector<Keyframe> keyframes(int32_t index) const;

    // The value at `time` in units of `time_scale` (0 counts as 1).
    ParamValue value_at(int32_t index, A_long time, A_u_long time_scale) const;
    // The same as the host hands it out: a copy of the value record with the
    // value at that time in u.fs_d.value, u.pd.value, u.bd.value or
    // u.cd.value. A layer parameter's record carries no pixels.
    PF_ParamDef param_at(int32_t index, A_long time, A_u_long time_scale) const;

    // ---- dynamic stream flags (AEGP_DynStreamFlags), per parameter ----
    AEGP_DynStreamFlags stream_flags(int32_t index) const;
    void set_stream_flags(int32_t index, AEGP_DynStreamFlags flags);
    bool hidden(int32_t index) const {
        return (stream_flags(index) & AEGP_DynStreamFlag_HIDDEN) != 0;
    }

  private:
    const char* keep(const char* text);
    ParamValue constant_locked(int32_t index) const;
    void set_constant_locked(int32_t index, const ParamValue& value);

    std::vector<PF_ParamDef> definitions_;
    std::vector<PF_ParamDef> values_;
    std::vector<PF_ParamDef*> pointers_;
    std::deque<std::string> strings_; // a deque never moves its elements

    mutable std::mutex mutex_; // guards the vectors below and writes to values_
    std::vector<std::vector<Keyframe>> keys_;
    std::vector<int32_t> layer_ids_;
    std::vector<AEGP_DynStreamFlags> stream_flags_;
};

} // namespace hostsim
