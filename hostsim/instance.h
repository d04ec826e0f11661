#pragma once

#include "host/ae_sdk.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace hostsim {

// One applied effect: the parameter definitions its PF_Cmd_PARAMS_SETUP
// registered and their current values. Index 0 is the layer the effect is
// applied to. Not synchronised: change values only while no command runs.
class Instance {
  public:
    Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Parameters in the host's list, index 0 included.
    int32_t param_count() const { return static_cast<int32_t>(values_.size()); }

    // As registered through add_param (strings copied into the instance).
    const PF_ParamDef& definition(int32_t index) const { return definitions_.at(index); }

    // The current value record: what checkout_param hands out and what the
    // command's parameter array points to. Tests set values here.
    PF_ParamDef& value(int32_t index) { return values_.at(index); }
    const PF_ParamDef& value(int32_t index) const { return values_.at(index); }

    // Pointers to the value records, for a command's `params` argument.
    PF_ParamDef** param_array();

    // The add_param behind the host callback: -1 (or the next index) appends.
    PF_Err add_param(PF_ParamIndex index, const PF_ParamDef& def);

  private:
    const char* keep(const char* text);

    std::vector<PF_ParamDef> definitions_;
    std::vector<PF_ParamDef> values_;
    std::vector<PF_ParamDef*> pointers_;
    std::deque<std::string> strings_; // a deque never moves its elements
};

} // namespace hostsim
